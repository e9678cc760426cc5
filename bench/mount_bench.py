#!/usr/bin/env python3
"""tavrel-mount against tavrel-cli, side by side in one run on the project's local mail
servers (started here in a scratch folder, stopped at the end). Prints figures; not a test.

  python3 bench/mount_bench.py [--build DIR] [--quick]

DIR holds tavrel-mount, tavrel-cli and bench/bench_mail (the mailbox of 10,000 mails is
written straight into the Maildir by `bench_mail fill`). Needs /dev/fuse.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SERVERS = os.path.join(TOP, "scripts", "mailservers.sh")


def read_env(path):
    out = {}
    for line in open(path):
        line = line.strip()
        if line and not line.startswith("#") and "=" in line:
            k, v = line.split("=", 1)
            out[k] = v.strip("'")
    return out


def timed(cmd, **kw):
    t = time.perf_counter()
    subprocess.run(cmd, check=True, stdin=subprocess.DEVNULL, **kw)
    return time.perf_counter() - t


class Bench:
    def __init__(self, build, scratch, quick):
        self.mount_bin = os.path.join(build, "tavrel-mount")
        self.cli_bin = os.path.join(build, "tavrel-cli")
        self.fill_bin = os.path.join(build, "bench", "bench_mail")
        self.scratch = scratch
        self.quick = quick
        subprocess.run(["bash", SERVERS, "start", os.path.join(scratch, "servers")], check=True,
                       stdout=subprocess.DEVNULL)
        self.S = read_env(os.path.join(scratch, "servers", "servers.env"))
        self.rows = []

    def stop(self):
        subprocess.run(["bash", SERVERS, "stop", os.path.join(self.scratch, "servers")],
                       stdout=subprocess.DEVNULL)

    def home(self, name):
        S = self.S
        h = os.path.join(self.scratch, name)
        os.makedirs(h)
        open(os.path.join(h, "Tavrel.ini"), "w").write(
            "[IMAP]\nDomain=tavrel.test\nHost=%s\nPort=%s\n" % (S["HOST"], S["IMAP_PORT"]))
        subprocess.run(["bash", SERVERS, "clear", os.path.join(self.scratch, "servers"), S["USER1"]],
                       check=True, stdout=subprocess.DEVNULL)
        self.cli(h, "add-box", "Box", "--address", S["ADDR1"], "--smtp",
                 "%s:%s" % (S["HOST"], S["SMTP_PORT"]), "--pop", "%s:%s" % (S["HOST"], S["POP3_PORT"]),
                 "--account", S["USER1"], "--password", S["PASS1"])
        return h

    def settle(self, count, limit=300):
        """Delivery is asynchronous: waits until the inbox holds `count` mails."""
        md = self.S["MAILDIR1"]
        end = time.time() + limit
        while time.time() < end:
            n = sum(len(os.listdir(os.path.join(md, d))) for d in ("new", "cur")
                    if os.path.isdir(os.path.join(md, d)))
            if n >= count:
                return
            time.sleep(0.1)
        raise RuntimeError("only %d of %d mails arrived" % (n, count))

    def cli(self, home, *args):
        return timed([self.cli_bin, "--home", home] + list(args), stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL)

    def mount(self, home, mnt):
        os.makedirs(mnt, exist_ok=True)
        log = open(mnt + ".log", "a")
        t = timed([self.mount_bin, "--home", home, "Box", mnt], stdout=log, stderr=log)
        text = open(mnt + ".log").read()
        pid = int(text.rsplit("(process ", 1)[1].split(")")[0])
        return pid, t

    def unmount(self, mnt, pid):
        subprocess.run(["fusermount3", "-u", mnt], check=True)
        while os.path.exists("/proc/%d" % pid):
            time.sleep(0.05)

    def row(self, what, mine, ref, target, note=""):
        self.rows.append((what, mine, ref, target, note))

    def big_file(self):
        mib = 16 if self.quick else 64
        home = self.home("home-big")
        src = os.path.join(self.scratch, "big.bin")
        with open(src, "wb") as f:
            for _ in range(mib):
                f.write(os.urandom(1 << 20))
        self.cli(home, "put", "Box", src)
        self.settle(mib // 8)
        out = os.path.join(self.scratch, "got")
        os.makedirs(out)
        ls = self.cli(home, "ls", "Box")
        get = self.cli(home, "get", "Box", "big.bin", "--to", out)
        mnt = os.path.join(self.scratch, "mnt-big")
        pid, _ = self.mount(home, mnt)
        first = timed("cat '%s/big.bin' > /dev/null" % mnt, shell=True)
        again = timed("cat '%s/big.bin' > /dev/null" % mnt, shell=True)
        hwm = 0
        for line in open("/proc/%d/status" % pid):
            if line.startswith("VmHWM:"):
                hwm = int(line.split()[1]) * 1024
        local = timed("cat '%s' > /dev/null" % os.path.join(out, "big.bin"), shell=True)
        same = subprocess.run(["cmp", src, os.path.join(mnt, "big.bin")]).returncode == 0
        self.unmount(mnt, pid)
        self.row("read %d MiB, first (download)" % mib, first, get - ls, "<= 1.1x",
                 "ref: get minus ls (its own login and listing) = %.2f - %.2f%s" %
                 (get, ls, "" if same else "; BYTES DIFFER"))
        self.row("read %d MiB again (cache)" % mib, again, local, "local disk",
                 "ref: cat of the fetched copy on local disk")
        self.row("peak memory of tavrel-mount", hwm / 2**20, 4 * 8, "< 4 x part (32 MiB)",
                 "MiB (VmHWM), part size 8 MiB")

    def small_files(self):
        n = 50 if self.quick else 200
        home = self.home("home-small")
        src = os.path.join(self.scratch, "small")
        os.makedirs(src)
        for i in range(n):
            with open(os.path.join(src, "f%03d.bin" % i), "wb") as f:
                f.write(os.urandom(10 * 1024))
        put = self.cli(home, "put", "Box", src)
        self.settle(n + 1)
        mnt = os.path.join(self.scratch, "mnt-small")
        pid, _ = self.mount(home, mnt)
        cp = timed(["cp", "-r", src, os.path.join(mnt, "copy")])
        self.unmount(mnt, pid)
        self.row("cp -r of %d files of 10 KiB" % n, cp, put, "<= 1.1x",
                 "ref: tavrel-cli put of the same folder")

    def big_mailbox(self):
        total = 2000 if self.quick else 10000
        if not os.access(self.fill_bin, os.X_OK):
            self.row("ls -lR of %d mails" % total, float("nan"), float("nan"), "< 0.1 s",
                     "skipped: no bench_mail (build with TAVREL_BUILD_BENCH=ON)")
            return
        home = self.home("home-many")
        S = self.S
        subprocess.run([self.fill_bin, "fill", S["MAILDIR1"], "--total", str(total),
                        "--del-files", "100", "--gen", "0", "--address", S["ADDR1"],
                        "--del-name", "bench-del"], check=True, stdout=subprocess.DEVNULL)
        ls = self.cli(home, "ls", "-R", "-l", "Box")
        mnt = os.path.join(self.scratch, "mnt-many")
        pid, ready = self.mount(home, mnt)
        r = subprocess.run("ls -lR '%s' | wc -l" % mnt, shell=True, capture_output=True, text=True)
        lsr = timed("ls -lR '%s' > /dev/null" % mnt, shell=True)
        self.unmount(mnt, pid)
        self.row("ls -lR of %d mails (mounted)" % total, lsr, ls, "< 0.1 s",
                 "ref: tavrel-cli ls -R -l (with its listing); mount ready in %.2f s; %s lines"
                 % (ready, r.stdout.strip()))

    def report(self):
        print("%-36s %10s %10s %7s  %-20s %s" % ("step", "mount", "reference", "ratio", "target",
                                                  "notes"))
        for what, mine, ref, target, note in self.rows:
            ratio = mine / ref if ref and ref == ref and ref > 0 else float("nan")
            print("%-36s %10.3f %10.3f %7.2f  %-20s %s" % (what, mine, ref, ratio, target, note))
        print("(times in seconds unless the notes say otherwise)")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(TOP, "build"))
    ap.add_argument("--quick", action="store_true")
    a = ap.parse_args()
    if not os.path.exists("/dev/fuse"):
        print("no /dev/fuse: nothing to measure")
        return 0
    scratch = tempfile.mkdtemp(prefix="tavrel-mount-bench-")
    os.chmod(scratch, 0o755)  # the mail servers' users enter it
    b = Bench(os.path.abspath(a.build), scratch, a.quick)
    try:
        b.big_file()
        b.small_files()
        b.big_mailbox()
    finally:
        for d in os.listdir(scratch):
            p = os.path.join(scratch, d)
            if os.path.ismount(p):
                subprocess.run(["fusermount3", "-u", "-z", p])
        b.stop()
        b.report()
        shutil.rmtree(scratch, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
