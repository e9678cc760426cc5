#!/usr/bin/env python3
"""tavrel-mount driven as a user drives it: a real mount of a mailbox on the local mail
servers (scripts/mailservers.sh; TAVREL_MAILSERVERS names their env file), used with cp,
rsync, mv, rm and Python's file calls, then unmounted and mounted again in a new process.
TAVREL_MOUNT and TAVREL_CLI name the programs.

Prints one line per case and closes with "N passed, M failed"; exits 1 on a failure.
Without /dev/fuse (or fusermount3) every case is skipped with the reason, exit 0.
"""
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
MAILSERVERS_SH = os.path.join(HERE, "..", "..", "scripts", "mailservers.sh")
MOUNT = os.environ.get("TAVREL_MOUNT", "")
CLI = os.environ.get("TAVREL_CLI", "")
ENV_FILE = os.environ.get("TAVREL_MAILSERVERS", "")
ATTACH = 16384                      # --max-attach-bytes of the test mailboxes
PART = round(ATTACH * 0.8)          # bytes per part mail
S = {}


def read_env(path):
    values = {}
    with open(path) as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#") or "=" not in line:
                continue
            key, value = line.split("=", 1)
            if len(value) >= 2 and value[0] == value[-1] == "'":
                value = value[1:-1]
            values[key] = value
    return values


def check(cond, message):
    if not cond:
        raise AssertionError(message)


def mails(maildir):
    return sum(len(os.listdir(os.path.join(maildir, d))) for d in ("new", "cur")
               if os.path.isdir(os.path.join(maildir, d)))


def wait_until(cond, timeout, what):
    end = time.time() + timeout
    while time.time() < end:
        if cond():
            return
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


class Home:
    """A program folder with one mailbox "Box" on user1 (POP3, or IMAP4 when imap)."""

    def __init__(self, root, name, imap=False, smtp_port=None):
        self.dir = os.path.join(root, name)
        os.makedirs(self.dir)
        with open(os.path.join(self.dir, "Tavrel.ini"), "w") as f:
            f.write("[IMAP]\nDomain=tavrel.test\nHost=%s\nPort=%s\n" % (S["HOST"], S["IMAP_PORT"]))
        subprocess.run(["bash", MAILSERVERS_SH, "clear", os.path.dirname(ENV_FILE), S["USER1"]],
                       check=True, stdout=subprocess.DEVNULL)
        self.cli("add-box", "Box", "--address", S["ADDR1"],
                 "--smtp", "%s:%s" % (S["HOST"], smtp_port or S["SMTP_PORT"]),
                 "--pop", "%s:%s" % (S["HOST"], S["POP3_PORT"]),
                 "--account", S["ADDR1"] if imap else S["USER1"], "--password", S["PASS1"],
                 "--max-attach-bytes", str(ATTACH))
        self.maildir = S["MAILDIR1"]

    def cli(self, *args):
        r = subprocess.run([CLI, "--home", self.dir] + list(args), stdin=subprocess.DEVNULL,
                           capture_output=True, text=True, timeout=120)
        check(r.returncode == 0, "tavrel-cli %s -> %d\n%s" % (args, r.returncode, r.stderr))
        return r


class Mounted:
    """tavrel-mount of "Box" in the background; unmount() waits for the process to end."""

    def __init__(self, home, mnt, *options, pipe=False):
        """pipe: read the messages through a pipe, as `out=$(tavrel-mount ...)` does; the
        command must still return once mounted, so the background process may not keep it."""
        self.mnt = mnt
        os.makedirs(mnt, exist_ok=True)
        self.log = os.path.join(os.path.dirname(mnt), os.path.basename(mnt) + ".log")
        command = [MOUNT, "--home", home.dir] + list(options) + ["Box", mnt]
        with open(self.log, "a") as log:
            start = log.tell()
            if pipe:
                r = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True, timeout=60)
                log.write(r.stdout)
            else:
                r = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                   timeout=120)
        text = self.text()[start:]
        check(r.returncode == 0, "tavrel-mount -> %d\n%s" % (r.returncode, text))
        m = re.search(r"\(process (\d+)\)", text)
        check(m and os.path.ismount(mnt), "not mounted:\n" + text)
        self.pid = int(m.group(1))

    def text(self):
        with open(self.log, errors="replace") as f:
            return f.read()

    def alive(self):
        try:
            os.kill(self.pid, 0)
            return True
        except ProcessLookupError:
            return False

    def unmount(self, timeout=120):
        subprocess.run(["fusermount3", "-u", self.mnt], check=True)
        wait_until(lambda: not self.alive(), timeout, "tavrel-mount to end")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.alive():
            if os.path.ismount(self.mnt):
                subprocess.run(["fusermount3", "-u", "-z", self.mnt])
            try:
                wait_until(lambda: not self.alive(), 60, "tavrel-mount to end")
            except AssertionError:
                os.kill(self.pid, 9)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def make_tree(top, rng):
    """Nested folders, an empty file and folder, files of several parts, UTF-8 names."""
    files = {
        "empty.txt": b"",
        "small.txt": b"small text\n",
        "multi.bin": rng.randbytes(3 * PART + 100),
        "exact.bin": rng.randbytes(PART),
        "sub dir/nested.txt": b"nested\n" * 100,
        "sub dir/deeper/\u00e4rger \u00fc.dat": rng.randbytes(PART + 1),
        "\u65e5\u672c/\u6587\u5b57.txt": "\u3053\u3093\u306b\u3061\u306f\n".encode(),
    }
    for d in ["", "sub dir/deeper", "void", "\u65e5\u672c"]:
        os.makedirs(os.path.join(top, d), exist_ok=True)
    for i, (rel, data) in enumerate(files.items()):
        write(os.path.join(top, rel), data)
        os.utime(os.path.join(top, rel), ns=(0, 1000000000123000000 + i * 86400 * 10**9))


def tree(root):
    """Every entry below root: folders as None, files as (bytes, read-only)."""
    out = {}
    for base, dirs, files in os.walk(root):
        rel = os.path.relpath(base, root)
        if rel != ".":
            out[rel + "/"] = None
        for f in files:
            p = os.path.join(base, f)
            with open(p, "rb") as h:
                out[os.path.normpath(os.path.join(rel, f))] = (h.read(), not os.stat(p).st_mode & 0o200)
    return out


def same_tree(want, got):
    a, b = tree(want), tree(got)
    check(sorted(a) == sorted(b), "entries differ:\n%s\n%s" % (sorted(a), sorted(b)))
    for k in a:
        check(a[k] == b[k], "%s differs" % k)


def diff_r(a, b):
    r = subprocess.run(["diff", "-r", a, b], capture_output=True, text=True)
    check(r.returncode == 0, "diff -r:\n" + r.stdout + r.stderr)


def test_tree_round_trip_through_a_new_process(root):
    for imap in (False, True):
        home = Home(root, "home-%s" % ("imap" if imap else "pop"), imap=imap)
        src = os.path.join(root, "src-%d" % imap)
        make_tree(src, random.Random(15))
        mnt = os.path.join(root, "mnt-%d" % imap)
        with Mounted(home, mnt) as m:
            r = subprocess.run(["cp", "-rp", src, os.path.join(mnt, "tree")], capture_output=True,
                               text=True)
            check(r.returncode == 0, r.stderr)
            diff_r(src, os.path.join(mnt, "tree"))
            m.unmount()
        with Mounted(home, mnt, pipe=True) as m:
            diff_r(src, os.path.join(mnt, "tree"))
            # cp -p kept the times, to the stored milliseconds.
            for rel in ["small.txt", "multi.bin", "sub dir/deeper/\u00e4rger \u00fc.dat"]:
                want = os.stat(os.path.join(src, rel)).st_mtime_ns // 10**6
                got = os.stat(os.path.join(mnt, "tree", rel)).st_mtime_ns // 10**6
                check(want == got, "%s: time %d, stored %d" % (rel, got, want))
            st = os.statvfs(mnt)
            check(st.f_blocks * st.f_frsize == 1 << 30, "capacity %d" % (st.f_blocks * st.f_frsize))
            m.unmount()
        check(not os.path.exists(os.path.join(home.dir, "MailRoot")), "cache folder left behind")


def test_rsync_twice_transfers_nothing_the_second_time(root):
    home = Home(root, "home")
    src = os.path.join(root, "src")
    make_tree(src, random.Random(7))
    mnt = os.path.join(root, "mnt")
    with Mounted(home, mnt) as m:
        target = os.path.join(mnt, "r") + "/"
        r = subprocess.run(["rsync", "-a", src + "/", target], capture_output=True, text=True)
        check(r.returncode == 0, r.stdout + r.stderr)
        diff_r(src, target)
        r = subprocess.run(["rsync", "-a", "--itemize-changes", "--stats", src + "/", target],
                           capture_output=True, text=True)
        check(r.returncode == 0, r.stdout + r.stderr)
        check("Number of regular files transferred: 0" in r.stdout, r.stdout)
        m.unmount()
    with Mounted(home, mnt) as m:
        diff_r(src, os.path.join(mnt, "r"))
        m.unmount()


def test_changes_of_every_kind_survive_a_remount(root):
    home = Home(root, "home")
    shadow = os.path.join(root, "shadow")
    os.makedirs(shadow)
    mnt = os.path.join(root, "mnt")
    rng = random.Random(3)
    big = rng.randbytes(2 * PART + 5)

    def both(fn):
        fn(shadow)
        fn(mnt)

    with Mounted(home, mnt) as m:
        both(lambda t: os.makedirs(os.path.join(t, "a/b")))
        both(lambda t: write(os.path.join(t, "a/b/f.bin"), big))
        both(lambda t: write(os.path.join(t, "doc.txt"), b"first version\n"))
        # An editor's save: a temporary file written beside it, renamed over the original.
        both(lambda t: write(os.path.join(t, ".doc.txt.swp"), b"second version\n"))
        both(lambda t: os.rename(os.path.join(t, ".doc.txt.swp"), os.path.join(t, "doc.txt")))
        both(lambda t: os.rename(os.path.join(t, "a/b/f.bin"), os.path.join(t, "a/moved.bin")))
        both(lambda t: os.rmdir(os.path.join(t, "a/b")))
        both(lambda t: os.makedirs(os.path.join(t, "gone/inner")))
        both(lambda t: write(os.path.join(t, "gone/inner/x"), b"x"))
        both(lambda t: shutil.rmtree(os.path.join(t, "gone")))
        # A folder with something in it moves by copy and delete (mv after EXDEV).
        both(lambda t: os.makedirs(os.path.join(t, "old")))
        both(lambda t: write(os.path.join(t, "old/k.txt"), b"kept\n"))
        r = subprocess.run(["mv", os.path.join(mnt, "old"), os.path.join(mnt, "new")],
                           capture_output=True, text=True)
        check(r.returncode == 0, r.stderr)
        os.rename(os.path.join(shadow, "old"), os.path.join(shadow, "new"))
        # Appending, truncating and making read-only a stored, closed file.
        both(lambda t: open(os.path.join(t, "doc.txt"), "ab").write(b"appended\n"))
        both(lambda t: write(os.path.join(t, "cut.txt"), b"0123456789"))
        both(lambda t: os.truncate(os.path.join(t, "cut.txt"), 4))
        both(lambda t: write(os.path.join(t, "ro.txt"), b"read only\n"))
        both(lambda t: os.chmod(os.path.join(t, "ro.txt"), 0o444))
        check(os.stat(os.path.join(mnt, "ro.txt")).st_mode & 0o777 == 0o444, "mode not 0444")
        check(os.stat(os.path.join(mnt, "a")).st_mode & 0o777 == 0o755, "folder mode not 0755")
        check(os.stat(os.path.join(mnt, "doc.txt")).st_uid == os.getuid(), "owner")
        # Names that a stored name cannot hold are refused, never mangled.
        for bad in ["what?.txt", "a:b", "back\\slash", "pipe|", "tab\there"]:
            try:
                write(os.path.join(mnt, bad), b"x")
                raise AssertionError("%r was accepted" % bad)
            except OSError as e:
                check(e.errno == 22, "%r: %s" % (bad, e))
            try:
                os.mkdir(os.path.join(mnt, bad))
                raise AssertionError("folder %r was accepted" % bad)
            except OSError as e:
                check(e.errno == 22, "folder %r: %s" % (bad, e))
        try:
            os.rmdir(os.path.join(mnt, "new"))
            raise AssertionError("a folder with something in it was removed")
        except OSError as e:
            check(e.errno == 39, str(e))  # ENOTEMPTY
        same_tree(shadow, mnt)
        m.unmount()
    with Mounted(home, mnt) as m:
        same_tree(shadow, mnt)
        m.unmount()


def retrieved(log_start):
    """Mails fetched (POP3 RETR) since the Dovecot log was log_start bytes long."""
    with open(S["DOVECOT_LOG"], errors="replace") as f:
        f.seek(log_start)
        return sum(int(n) for n in re.findall(r"retr=(\d+)/", f.read()))


def test_two_readers_one_download_and_other_requests_go_on(root):
    home = Home(root, "home")
    mnt = os.path.join(root, "mnt")
    data = random.Random(5).randbytes(6 * PART + 3)
    with Mounted(home, mnt) as m:
        write(os.path.join(mnt, "big.bin"), data)
        write(os.path.join(mnt, "side.txt"), b"side")
        m.unmount()
    start = os.path.getsize(S["DOVECOT_LOG"])
    with Mounted(home, mnt) as m:
        got = {}

        def reader(k):
            with open(os.path.join(mnt, "big.bin"), "rb") as f:
                got[k] = f.read()
        threads = [threading.Thread(target=reader, args=(k,)) for k in range(2)]
        for t in threads:
            t.start()
        # While the download runs, listings and attributes are served.
        t0 = time.time()
        check("side.txt" in os.listdir(mnt), "listing")
        check(os.stat(os.path.join(mnt, "big.bin")).st_size == len(data), "size")
        served = time.time() - t0
        for t in threads:
            t.join(120)
        check(got.get(0) == data and got.get(1) == data, "readers got other bytes")
        check(served < 2, "a listing waited %.1f s for the download" % served)
        m.unmount()
    # Six part mails in one download (the log line comes when the session ends).
    wait_until(lambda: retrieved(start) >= 7, 10, "the download's log line")
    check(retrieved(start) == 7, "mails fetched: %d, one download takes 7" % retrieved(start))


def test_failed_upload_makes_cp_fail_and_stores_nothing(root):
    home = Home(root, "home")
    mnt = os.path.join(root, "mnt")
    src = os.path.join(root, "f.bin")
    write(src, random.Random(9).randbytes(3 * PART))
    with Mounted(home, mnt) as m:
        write(os.path.join(mnt, "before.txt"), b"stored")
        m.unmount()
    before = mails(home.maildir)
    # Nothing listens on the SMTP port any more: every attempt is refused.
    import socket
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    dead = s.getsockname()[1]
    s.close()
    home.cli("edit-box", "Box", "--smtp", "%s:%d" % (S["HOST"], dead))
    with Mounted(home, mnt) as m:
        r = subprocess.run(["cp", src, os.path.join(mnt, "f.bin")], capture_output=True,
                           text=True, timeout=200)
        check(r.returncode != 0 and "Input/output error" in r.stderr, r.stderr)
        check("f.bin" not in os.listdir(mnt), os.listdir(mnt))
        check("10061" in m.text() or "refused" in m.text(), m.text())
        m.unmount()
    check(mails(home.maildir) == before, "mails: %d, before %d" % (mails(home.maildir), before))
    home.cli("edit-box", "Box", "--smtp", "%s:%s" % (S["HOST"], S["SMTP_PORT"]))
    with Mounted(home, mnt) as m:
        check(sorted(os.listdir(mnt)) == ["before.txt"], os.listdir(mnt))
        m.unmount()


def test_random_operations_match_a_shadow_folder(root):
    seed = int(os.environ.get("TAVREL_MOUNT_SEED", "1515"))
    rng = random.Random(seed)
    home = Home(root, "home")
    shadow = os.path.join(root, "shadow")
    os.makedirs(shadow)
    mnt = os.path.join(root, "mnt")
    log = []

    def files(top):
        out = []
        for base, dirs, names in os.walk(top):
            out += [os.path.relpath(os.path.join(base, n), top) for n in names]
        return sorted(out)

    def folders(top):
        out = [""]
        for base, dirs, names in os.walk(top):
            out += [os.path.relpath(os.path.join(base, d), top) for d in dirs]
        return sorted(out)

    with Mounted(home, mnt) as m:
        for step in range(60):
            fs, ds = files(shadow), folders(shadow)
            op = rng.choice(["write", "write", "overwrite", "append", "rm", "mkdir", "rmdir",
                             "rename", "read"])
            name = "n%d%s" % (step, rng.choice(["", ".txt", " \u00e9"]))
            if op in ("overwrite", "append", "rm", "rename", "read") and not fs:
                op = "write"
            if op == "write":
                rel = os.path.join(rng.choice(ds), name)
                data = rng.randbytes(rng.choice([0, 1, 100, PART, 2 * PART + 7]))
                action = lambda t, rel=rel, data=data: write(os.path.join(t, rel), data)
            elif op == "overwrite":
                rel = rng.choice(fs)
                data = rng.randbytes(rng.randint(0, 3 * PART))
                action = lambda t, rel=rel, data=data: write(os.path.join(t, rel), data)
            elif op == "append":
                rel = rng.choice(fs)
                data = rng.randbytes(rng.randint(1, 500))
                action = lambda t, rel=rel, data=data: open(os.path.join(t, rel), "ab").write(data)
            elif op == "rm":
                rel = rng.choice(fs)
                action = lambda t, rel=rel: os.remove(os.path.join(t, rel))
            elif op == "mkdir":
                rel = os.path.join(rng.choice(ds), name)
                action = lambda t, rel=rel: os.mkdir(os.path.join(t, rel))
            elif op == "rmdir":
                empty = [d for d in ds if d and not os.listdir(os.path.join(shadow, d))]
                if not empty:
                    continue
                rel = rng.choice(empty)
                action = lambda t, rel=rel: os.rmdir(os.path.join(t, rel))
            elif op == "rename":
                rel = rng.choice(fs)
                to = os.path.join(rng.choice(ds), rng.choice([name] + [os.path.basename(f) for f in fs]))
                if os.path.isdir(os.path.join(shadow, to)):
                    continue
                action = lambda t, rel=rel, to=to: os.rename(os.path.join(t, rel), os.path.join(t, to))
            else:
                rel = rng.choice(fs)
                with open(os.path.join(shadow, rel), "rb") as a, open(os.path.join(mnt, rel), "rb") as b:
                    check(a.read() == b.read(), "step %d: read %s differs" % (step, rel))
                continue
            log.append("%d %s %s" % (step, op, rel))
            action(shadow)
            try:
                action(mnt)
            except OSError as e:
                raise AssertionError("seed %d, step %d %s %s: %s\n%s" %
                                     (seed, step, op, rel, e, "\n".join(log)))
        same_tree(shadow, mnt)
        m.unmount()
    with Mounted(home, mnt) as m:
        same_tree(shadow, mnt)
        m.unmount()


def main():
    global S
    for what, ok in [("/dev/fuse", os.path.exists("/dev/fuse")),
                     ("fusermount3", shutil.which("fusermount3") is not None),
                     ("rsync", shutil.which("rsync") is not None)]:
        if not ok:
            print("skipped: %s is missing here (install fuse3 and rsync; the kernel needs FUSE)"
                  % what)
            return 0
    for name, value in [("TAVREL_MOUNT", MOUNT), ("TAVREL_CLI", CLI)]:
        if not value or not os.access(value, os.X_OK):
            print("%s does not name the program" % name)
            return 1
    if not ENV_FILE or not os.path.exists(ENV_FILE):
        print("TAVREL_MAILSERVERS is not set: start scripts/mailservers.sh")
        return 1
    S = read_env(ENV_FILE)
    only = os.environ.get("TAVREL_MOUNT_ONLY", "")
    tests = [(n, f) for n, f in globals().items()
             if n.startswith("test_") and callable(f) and only in n]
    passed = failed = 0
    root = tempfile.mkdtemp(prefix="tavrel-mount-e2e-")
    try:
        for name, fn in tests:
            case_root = os.path.join(root, name)
            os.makedirs(case_root)
            start = time.time()
            try:
                fn(case_root)
                passed += 1
                print("ok    %s (%.1f s)" % (name, time.time() - start), flush=True)
            except Exception:
                failed += 1
                print("FAIL  %s (%.1f s)\n%s" % (name, time.time() - start,
                                                traceback.format_exc()), flush=True)
                for log in sorted(os.listdir(case_root)):
                    if log.endswith(".log"):
                        with open(os.path.join(case_root, log), errors="replace") as f:
                            print("--- %s:\n%s" % (log, f.read()[-4000:]), flush=True)
    finally:
        for base, dirs, _ in os.walk(root):
            for d in dirs:
                if os.path.ismount(os.path.join(base, d)):
                    subprocess.run(["fusermount3", "-u", "-z", os.path.join(base, d)])
        shutil.rmtree(root, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
