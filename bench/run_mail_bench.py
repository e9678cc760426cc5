#!/usr/bin/env python3
"""Mail benchmarks: Tavrel's uploads, downloads, refreshes and deletes beside a reference
client doing the same work against the same local servers, directly on loopback and
through the latency relay (bench_latency_proxy). Started by scripts/bench.sh, which builds
the programs and starts the mail servers; prints a table and exits 0.

Every Tavrel figure is one run of bench_mail in its own process (its peak memory is that
process's). Steps bound by round trips stop after --cap seconds; their figure is then
extrapolated from the share done and marked "~".
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import refclients as rc  # noqa: E402

MiB = 1 << 20
SIZES = {
    False: dict(big_mib=256, small_count=1000, small_kib=10, mailbox=10000, del_files=100),
    True: dict(big_mib=32, small_count=200, small_kib=10, mailbox=2000, del_files=20),
}
MAX_ATTACH = 10 * MiB            # the mailbox default; part size P = 0.8 x this
PART = round(MAX_ATTACH * 0.8)
DEL_NAME = "bench-del"
PHASES = ["upload-big", "upload-small", "download-big", "download-small", "refresh", "delete"]

REFS = {
    "a": "curl smtp://, one process and one connection per mail (AUTH LOGIN, as Tavrel), "
         "sequential; the mails Tavrel composes (bench_mail compose), sent to the second "
         "account of the same server",
    "b": "curl pop3:// RETR by message number, one process and one connection per mail, "
         "sequential, each written to a file",
    "c": "curl imap:// FETCH by sequence number (/INBOX/;MAILINDEX=n), one process and one "
         "connection per mail, sequential, each written to a file",
    "d": "python3 (bench/refclients.py), one POP3 connection, one TOP n 0 at a time",
    "e": "python3, one POP3 connection, TOP n 0 pipelined (up to 100 commands in flight)",
    "f": "python3, one IMAP4 connection: SELECT and one "
         "FETCH 1:* (BODY.PEEK[HEADER.FIELDS (SUBJECT)])",
    "g": "python3, one POP3 connection: TOP n 0 one at a time over every mail, DELE of the "
         "folder's mails, QUIT",
    "h": "python3, one IMAP4 connection: one FETCH 1:* of the subjects, one STORE "
         "+FLAGS.SILENT (\\Deleted) of the folder's mails, EXPUNGE",
    "i": "python3, one POP3 connection, RETR of the files' mails pipelined (up to 100 "
         "commands in flight), read and dropped",
    "j": "python3, one IMAP4 connection: SELECT and one FETCH of all the files' mails "
         "(RFC822), read and dropped",
}


class Res:
    """One measured figure."""

    def __init__(self, seconds=None, complete=True, fraction=1.0, peak_kib=None, check="ok"):
        self.seconds, self.complete, self.fraction = seconds, complete, fraction
        self.peak_kib, self.check = peak_kib, check

    @classmethod
    def error(cls, why):
        return cls(check="error: " + why)

    @classmethod
    def of(cls, d, check="ok"):
        return cls(d["seconds"], d["complete"], d["fraction"], check=check)


class Bench:
    def __init__(self, a):
        self.a = a
        self.sz = SIZES[a.quick]
        self.env = load_env(a.servers)
        self.host = self.env["HOST"]
        self.direct = {"smtp": int(self.env["SMTP_PORT"]), "pop": int(self.env["POP3_PORT"]),
                       "imap": int(self.env["IMAP_PORT"])}
        self.ports = {"direct": self.direct}
        self.u1 = (self.env["USER1"], self.env["PASS1"], self.env["ADDR1"], self.env["MAILDIR1"])
        self.u2 = (self.env["USER2"], self.env["PASS2"], self.env["ADDR2"], self.env["MAILDIR2"])
        self.bench_mail = os.path.join(a.build, "bench", "bench_mail")
        self.proxy_bin = os.path.join(a.build, "bench", "bench_latency_proxy")
        self.work = a.work
        self.rows = []
        self.runs = 0
        self.gen = 1
        self.proxy = None

    # ------------------------------------------------------------------ helpers

    def log(self, text):
        if not self.a.quiet:
            print("  .. " + text, flush=True)

    def tavrel(self, sub, pos, mode, imap=False, extra=(), capped=True, home=None):
        """Runs one bench_mail measurement; returns its RESULT (and RESULT2) figures. A
        program folder given as home is kept (the caller removes it)."""
        self.runs += 1
        keep = home is not None
        home = home or os.path.join(self.work, "home-%d" % self.runs)
        user, password, addr, _ = self.u1
        p = self.ports[mode]
        cmd = [self.bench_mail, sub, *pos, "--home", home, "--host", self.host,
               "--smtp-port", str(p["smtp"]), "--pop-port", str(p["pop"]),
               "--imap-port", str(p["imap"]), "--prep-pop-port", str(self.direct["pop"]),
               "--user", user, "--pass", password, "--address", addr,
               "--max-attach", str(MAX_ATTACH), "--cap", str(self.a.cap if capped else 0),
               "--timeout", str(self.a.timeout), *extra]
        if imap:
            cmd.append("--imap")
        try:
            out = subprocess.run(cmd, capture_output=True, text=True, timeout=self.a.timeout + 600)
        except subprocess.TimeoutExpired:
            return [Res.error("bench_mail did not end")]
        finally:
            if not keep:
                shutil.rmtree(home, ignore_errors=True)
        results = []
        for line in out.stdout.splitlines():
            if not line.startswith("RESULT"):
                continue
            f = dict(kv.split("=", 1) for kv in line.split()[1:])
            results.append(Res(float(f["seconds"]), f["complete"] == "1", float(f["fraction"]),
                               int(f["peak_kib"]), f["check"]))
        if not results:
            err = (out.stderr.strip().splitlines() or ["exit code %d" % out.returncode])[-1]
            return [Res.error(err)]
        return results

    def curl_each(self, argvs, capped=True):
        """Runs the curl command lines one after the other; capped like the Tavrel steps."""
        cap = self.a.cap if capped else 0
        t0 = time.monotonic()
        done = 0
        for argv in argvs:
            try:
                p = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                   text=True, timeout=600)
            except subprocess.TimeoutExpired:
                return Res.error("curl did not end")
            if p.returncode != 0:
                return Res.error("curl: " + (p.stderr.strip() or "exit %d" % p.returncode)[-120:])
            done += 1
            if cap and time.monotonic() - t0 >= cap and done < len(argvs):
                return Res.of(rc.outcome(t0, done, len(argvs), True))
        return Res.of(rc.outcome(t0, done, len(argvs), False))

    def ref(self, fn, *args, check=None, **kw):
        try:
            d = fn(*args, **kw)
        except Exception as e:  # a failed reference is reported, the run goes on
            return Res.error("%s: %s" % (type(e).__name__, e))
        return Res.of(d, check(d) if check else "ok")

    def add(self, mode, op, t, r, refkey, target=""):
        self.rows.append(dict(mode=mode, op=op, t=t, r=r, ref=refkey, target=target))
        tt = fmt_time(t) if t else "-"
        self.log("%s | %s: Tavrel %s, reference %s" % (mode, op, tt, fmt_time(r) if r else "-"))

    # ------------------------------------------------------------------ mailboxes

    def clear(self, maildir):
        for sub in ("new", "cur", "tmp"):
            d = os.path.join(maildir, sub)
            for name in os.listdir(d) if os.path.isdir(d) else []:
                os.unlink(os.path.join(d, name))
        self.forget_index(maildir)

    @staticmethod
    def forget_index(maildir):
        """Drops Dovecot's index and uid list of a Maildir changed behind its back: files
        removed in the same second as its last look could go unnoticed ("Message n
        expunged."); without them it reads the folder afresh. Only while no session of
        that user is open."""
        for name in os.listdir(maildir):
            if name.startswith("dovecot.index") or name == "dovecot-uidlist":
                os.unlink(os.path.join(maildir, name))

    def count(self, maildir):
        return sum(len(os.listdir(os.path.join(maildir, s))) for s in ("new", "cur")
                   if os.path.isdir(os.path.join(maildir, s)))

    def settle(self, maildir, expect=None, limit=900):
        """Waits until the deliveries into a Maildir are over: `expect` mails there, or
        (count unknown) no change for 3 s; at most `limit` seconds."""
        end = time.monotonic() + limit
        last, since = -1, time.monotonic()
        while time.monotonic() < end:
            n = self.count(maildir)
            if expect is not None and n >= expect:
                return True
            if n != last:
                last, since = n, time.monotonic()
            elif expect is None and time.monotonic() - since >= 3:
                return True
            time.sleep(0.1)
        self.log("delivery into %s did not settle (%d mails)" % (maildir, self.count(maildir)))
        return False

    def store_emls(self, emls, maildir):
        """Puts composed mails straight into a Maildir (LF line ends, as a delivery
        stores them), in order."""
        st = os.stat(maildir)
        for i, path in enumerate(emls):
            with open(path, "rb") as f:
                data = f.read().replace(b"\r\n", b"\n")
            base = "stored.%d.%06d.eml" % (self.gen, i)
            tmp = os.path.join(maildir, "tmp", base)
            with open(tmp, "wb") as f:
                f.write(data)
            os.chown(tmp, st.st_uid, st.st_gid)
            os.rename(tmp, os.path.join(maildir, "new", base))
        self.gen += 1

    def fill(self, only_del=False):
        _, _, addr, maildir = self.u1
        cmd = [self.bench_mail, "fill", maildir, "--total", str(self.sz["mailbox"]),
               "--del-files", str(self.sz["del_files"]), "--gen", str(self.gen),
               "--address", addr, "--del-name", DEL_NAME]
        if only_del:
            cmd.append("--only-del")
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, timeout=600)
        self.gen += 1

    def restore_mailbox(self):
        """Back to the filled mailbox: every mail that is not part of the base fill goes
        (the delete target's remains, files stored by a step), the target folder is
        written again, and the server reads the mailbox once (not timed)."""
        maildir = self.u1[3]
        for sub in ("new", "cur"):
            d = os.path.join(maildir, sub)
            for name in os.listdir(d):
                if not name.split(":")[0].endswith(".fill"):
                    os.unlink(os.path.join(d, name))
        self.forget_index(maildir)
        self.fill(only_del=True)
        self.warm()

    def warm(self):
        """Lets the server index the mailbox and read every header once (not timed), so
        that Tavrel and the references meet the same warm server."""
        user, password = self.u1[0], self.u1[1]
        rc.pop3_top_pipelined(self.host, self.direct["pop"], user, password)
        rc.imap_subjects(self.host, self.direct["imap"], user, password)

    def numbers(self, imap, pattern):
        """Message numbers (POP3) or sequence numbers (IMAP4) whose subject matches."""
        user, password = self.u1[0], self.u1[1]
        if imap:
            subjects = rc.imap_subjects(self.host, self.direct["imap"], user, password)["subjects"]
        else:
            subjects = rc.pop3_top_pipelined(self.host, self.direct["pop"], user, password,
                                             collect=True)["subjects"]
        rx = re.compile(pattern, re.I)
        return sorted(k for k, s in subjects.items() if rx.search(s))

    # ------------------------------------------------------------------ proxy

    def start_proxy(self):
        ports_file = os.path.join(self.work, "proxy.ports")
        if os.path.exists(ports_file):
            os.unlink(ports_file)
        d = self.direct
        self.proxy = subprocess.Popen(
            [self.proxy_bin, "--delay-ms", str(self.a.delay_ms), "--ports-file", ports_file,
             "--max-seconds", str(6 * 3600), str(d["smtp"]), str(d["pop"]), str(d["imap"])])
        for _ in range(100):
            if os.path.exists(ports_file):
                break
            time.sleep(0.05)
        else:
            raise RuntimeError("the latency relay did not start")
        m = dict(tuple(map(int, line.split())) for line in open(ports_file) if line.strip())
        self.ports["proxy"] = {k: m[v] for k, v in d.items()}

    def stop_proxy(self):
        if self.proxy and self.proxy.poll() is None:
            self.proxy.terminate()  # by its pid
            try:
                self.proxy.wait(5)
            except subprocess.TimeoutExpired:
                self.proxy.kill()
                self.proxy.wait(5)
        self.proxy = None

    # ------------------------------------------------------------------ phases

    def make_data(self):
        data = os.path.join(self.work, "data")
        os.makedirs(data, exist_ok=True)
        self.big = os.path.join(data, "big.bin")
        with open(self.big, "wb") as f:
            for _ in range(self.sz["big_mib"]):
                f.write(os.urandom(MiB))
        self.small = os.path.join(data, "small")
        os.makedirs(self.small)
        for i in range(self.sz["small_count"]):
            with open(os.path.join(self.small, "f%04d.bin" % i), "wb") as f:
                f.write(os.urandom(self.sz["small_kib"] * 1024))
        self.again = os.path.join(data, "again.txt")
        with open(self.again, "wb") as f:
            f.write(b"one more file\n")
        self.big_emls = self.compose(self.big, "big")
        self.small_emls = self.compose(self.small, "small")

    def compose(self, local, name):
        out = os.path.join(self.work, "mails-" + name)
        subprocess.run([self.bench_mail, "compose", local, out, "--address", self.u1[2],
                        "--max-attach", str(MAX_ATTACH)], check=True, stdout=subprocess.DEVNULL,
                       timeout=1800)
        return [os.path.join(out, f) for f in sorted(os.listdir(out))]

    def curl_upload(self, mode, emls, capped):
        user, password, addr, _ = self.u2
        url = "smtp://%s:%d" % (self.host, self.ports[mode]["smtp"])
        return self.curl_each([["curl", "-sS", url, "--mail-from", addr, "--mail-rcpt", addr,
                                "-u", "%s:%s" % (user, password), "--login-options", "AUTH=LOGIN",
                                "--upload-file", e] for e in emls], capped)

    def curl_fetch(self, mode, imap, numbers, capped):
        user, password = self.u1[0], self.u1[1]
        out = os.path.join(self.work, "curl-fetched.eml")
        port = self.ports[mode]["imap" if imap else "pop"]
        url = ("imap://%s:%d/INBOX/;MAILINDEX=%%d" if imap else "pop3://%s:%d/%%d") % (self.host, port)
        r = self.curl_each([["curl", "-sS", url % n, "-u", "%s:%s" % (user, password), "-o", out]
                            for n in numbers], capped)
        if os.path.exists(out):
            os.unlink(out)
        return r

    def phase_upload(self, mode, local, emls, label, capped):
        u1, u2 = self.u1[3], self.u2[3]
        self.clear(u1)
        self.clear(u2)
        t = self.tavrel("upload", [local], mode, capped=capped)[0]
        self.settle(u1, len(emls) if t.complete and t.check == "ok" else None)
        r = self.curl_upload(mode, emls, capped)
        self.settle(u2, len(emls) if r.complete and r.check == "ok" else None)
        self.clear(u1)
        self.clear(u2)
        target = "ratio <= 1.0, peak < %d MiB" % (4 * PART // MiB)
        self.add(mode, "upload " + label, t, r, "a", target)

    def phase_download(self, modes, local, name, emls, label, pattern, capped):
        maildir = self.u1[3]
        self.clear(maildir)
        self.store_emls(emls, maildir)
        self.warm()
        target = "ratio <= 1.0, peak < %d MiB" % (4 * PART // MiB)
        # Downloads leave the mailbox as it is: the reference's message numbers are read once.
        nums = {imap: self.numbers(imap, pattern) for imap in (False, True)}
        for mode in modes:
            for imap in (False, True):
                proto = "IMAP4" if imap else "POP3"
                t = self.tavrel("download", [name, "--compare", local], mode, imap=imap,
                                capped=capped)[0]
                r = self.curl_fetch(mode, imap, nums[imap], capped)
                self.add(mode, "download %s, %s" % (label, proto), t, r, "c" if imap else "b",
                         target)
                if name.endswith("\\"):
                    # Many small files: beside one connection that asks for all of them ahead.
                    user, password = self.u1[0], self.u1[1]
                    port = self.ports[mode]["imap" if imap else "pop"]
                    fetch = rc.imap_fetch_set if imap else rc.pop3_retr_pipelined
                    r2 = self.ref(fetch, self.host, port, user, password, nums[imap])
                    self.add(mode, "  same, beside %s" % ("one FETCH of all" if imap else
                                                          "pipelined RETR"), t, r2,
                             "j" if imap else "i", "ratio <= 1.2")
        self.clear(maildir)

    def phase_refresh(self, modes):
        user, password, _, maildir = self.u1
        n = self.sz["mailbox"]
        for mode in modes:
            port = self.ports[mode]
            for imap in (False, True):
                proto = "IMAP4" if imap else "POP3"
                res = self.tavrel("refresh", [], mode, imap=imap,
                                  extra=["--expect", str(n), "--again", self.again,
                                         "--again-maildir", maildir])
                self.restore_mailbox()
                t = res[0]
                t2 = res[1] if len(res) > 1 else Res(check="not run: the first refresh was capped"
                                                     if not t.complete else t.check)
                if imap:
                    r = self.ref(rc.imap_subjects, self.host, port["imap"], user, password,
                                 check=lambda d: "ok" if len(d["subjects"]) == n else
                                 "got %d subjects" % len(d["subjects"]))
                    self.add(mode, "refresh %s mails, %s" % (fmt_n(n), proto), t, r, "f",
                             "< 5 s" if mode == "proxy" else "")
                else:
                    r = self.ref(rc.pop3_top_serial, self.host, port["pop"], user, password,
                                 cap=self.a.cap)
                    self.add(mode, "refresh %s mails, %s" % (fmt_n(n), proto), t, r, "d",
                             "< 5 s" if mode == "proxy" else "")
                    r = self.ref(rc.pop3_top_pipelined, self.host, port["pop"], user, password)
                    self.add(mode, "  same, beside pipelined TOP", t, r, "e", "")
                self.add(mode, "  refresh again after +1 file, %s" % proto, t2, None, "",
                         "< 1 s" if mode == "proxy" else "")
                # A new process on the program folder of one before: the subject cache
                # file leaves only the ids to read.
                home = os.path.join(self.work, "home-cache-%d" % self.runs)
                first = self.tavrel("refresh", [], mode, imap=imap, home=home,
                                    extra=["--expect", str(n), "--end-worker"])[0]
                if first.complete and first.check == "ok":
                    t3 = self.tavrel("refresh", [], mode, imap=imap, home=home,
                                     extra=["--expect", str(n)])[0]
                else:
                    t3 = Res(check="not run: the first process's refresh: " +
                             ("capped" if not first.complete else first.check))
                shutil.rmtree(home, ignore_errors=True)
                self.add(mode, "  refresh in a new process, %s" % proto, t3, None, "",
                         "< 0.5 s" if mode == "proxy" else "")

    def phase_delete(self, modes):
        user, password, _, maildir = self.u1
        k = self.sz["del_files"]
        prefix = "ExFile:\\%s\\" % DEL_NAME
        for mode in modes:
            port = self.ports[mode]
            for imap in (False, True):
                proto = "IMAP4" if imap else "POP3"
                t = self.tavrel("delete", [DEL_NAME + "\\"], mode, imap=imap)[0]
                if t.complete and t.check == "ok":
                    left = sum(1 for s in ("new", "cur") for f in os.listdir(os.path.join(maildir, s))
                               if f.split(":")[0].endswith(".del"))
                    if left:
                        t.check = "%d mails left on the server" % left
                self.restore_mailbox()

                def deleted(d):
                    return "ok" if d.get("deleted", k + 1) == k + 1 else "deleted %d" % d["deleted"]

                if imap:
                    r = self.ref(rc.imap_delete_matching, self.host, port["imap"], user, password,
                                 prefix, check=deleted)
                else:
                    r = self.ref(rc.pop3_delete_matching, self.host, port["pop"], user, password,
                                 prefix, cap=self.a.cap, check=deleted)
                self.restore_mailbox()
                self.add(mode, "delete folder of %d files, %s" % (k, proto), t, r,
                         "h" if imap else "g", "< 10 s" if mode == "proxy" else "")

    def run(self):
        a = self.a
        modes = [m for m in ("direct", "proxy") if m in a.modes.split(",")]
        want = [p for p in PHASES if re.search(a.only, p)]
        print("Preparing data (%d MiB file, %s files of %d KiB, %s stored mails)..."
              % (self.sz["big_mib"], fmt_n(self.sz["small_count"]), self.sz["small_kib"],
                 fmt_n(self.sz["mailbox"])), flush=True)
        self.make_data()
        if "proxy" in modes:
            self.start_proxy()
        try:
            for m in modes if "upload-big" in want else []:
                self.phase_upload(m, self.big, self.big_emls, "%d MiB file (%d mails)"
                                  % (self.sz["big_mib"], len(self.big_emls)), capped=False)
            for m in modes if "upload-small" in want else []:
                self.phase_upload(m, self.small, self.small_emls, "%s files of %d KiB"
                                  % (fmt_n(self.sz["small_count"]), self.sz["small_kib"]), capped=True)
            if "download-big" in want:
                self.phase_download(modes, self.big, "big.bin", self.big_emls,
                                    "%d MiB file" % self.sz["big_mib"], r"^ExFile:\\big\.bin<",
                                    capped=False)
            if "download-small" in want:
                self.phase_download(modes, self.small, "small\\", self.small_emls,
                                    "%s files" % fmt_n(self.sz["small_count"]),
                                    r"^ExFile:\\small\\[^|]*<\d+/\d+>", capped=True)
            if "refresh" in want or "delete" in want:
                self.clear(self.u1[3])
                self.fill()
                self.warm()
                if "refresh" in want:
                    self.phase_refresh(modes)
                if "delete" in want:
                    self.phase_delete(modes)
                self.clear(self.u1[3])
        finally:
            self.stop_proxy()


# ---------------------------------------------------------------------- output

def load_env(path):
    env = {}
    for line in open(path):
        line = line.strip()
        if not line or line.startswith("#") or "=" not in line:
            continue
        k, v = line.split("=", 1)
        if len(v) >= 2 and v[0] == v[-1] == "'":
            v = v[1:-1]
        env[k] = v
    return env


def fmt_n(n):
    return "{:,}".format(n)


def fmt_time(r):
    if r is None or r.seconds is None:
        return "-"
    s = r.seconds
    text = "%.2f s" % s if s < 10 else "%.1f s" % s
    return text if r.complete else "~" + text


def fmt_mem(kib):
    return "-" if kib is None else "%.1f MiB" % (kib / 1024.0)


def notes_of(row):
    out = []
    for who, r in (("Tavrel", row["t"]), ("ref", row["r"])):
        if r is None:
            continue
        if not r.complete:
            out.append("%s capped at %.0f%%" % (who, 100 * r.fraction))
        if r.check not in ("ok", "capped"):
            out.append("%s %s" % (who, r.check))
    return "; ".join(out)


def print_table(bench, a):
    titles = {"direct": "Direct (loopback)",
              "proxy": "Through the latency relay (+%d ms each way, %d ms round trip)"
                       % (a.delay_ms, 2 * a.delay_ms)}
    head = ["Operation", "Tavrel", "Reference", "Ratio", "Tavrel peak", "Ref", "Target", "Notes"]
    for mode in ("direct", "proxy"):
        rows = [r for r in bench.rows if r["mode"] == mode]
        if not rows:
            continue
        table = []
        for row in rows:
            t, r = row["t"], row["r"]
            ratio = "-"
            if t and r and t.seconds and r.seconds:
                ratio = "%.2f" % (t.seconds / r.seconds)
            table.append([row["op"], fmt_time(t), fmt_time(r), ratio,
                          fmt_mem(t.peak_kib if t else None), row["ref"] and "[%s]" % row["ref"],
                          row["target"], notes_of(row)])
        widths = [max(len(str(x[i])) for x in table + [head]) for i in range(len(head))]
        print()
        print(titles[mode])
        line = " | ".join(h.ljust(w) for h, w in zip(head, widths))
        print(line.rstrip())
        print("-+-".join("-" * w for w in widths))
        for x in table:
            print(" | ".join(str(v).ljust(w) for v, w in zip(x, widths)).rstrip())
    print()
    print("Ratio = Tavrel time / reference time (below 1: Tavrel is faster).")
    print("~ = stopped after --cap %s s and extrapolated from the share done (see Notes)."
          % a.cap)
    print("Peak = peak resident memory of the bench_mail process that ran the step.")
    print("References:")
    for k, v in REFS.items():
        print("  [%s] %s" % (k, v))


def save_tsv(bench, path):
    with open(path, "w") as f:
        f.write("mode\toperation\ttavrel_s\ttavrel_complete\tref_s\tref_complete\t"
                "peak_kib\treference\tnotes\n")
        for row in bench.rows:
            t, r = row["t"], row["r"]
            f.write("\t".join(str(x) for x in (
                row["mode"], row["op"].strip(),
                "" if not t or t.seconds is None else "%.3f" % t.seconds, int(bool(t and t.complete)),
                "" if not r or r.seconds is None else "%.3f" % r.seconds, int(bool(r and r.complete)),
                "" if not t or t.peak_kib is None else t.peak_kib, row["ref"], notes_of(row))) + "\n")


def loadavg():
    try:
        return open("/proc/loadavg").read().split()[:3]
    except OSError:
        return ["?"] * 3


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--servers", required=True, help="servers.env of scripts/mailservers.sh")
    p.add_argument("--build", required=True, help="build folder holding bench/bench_mail")
    p.add_argument("--work", required=True, help="scratch folder (files, composed mails)")
    p.add_argument("--quick", action="store_true",
                   help="smaller sizes: 32 MiB file, 200 files, 2,000 mails, folder of 20")
    p.add_argument("--cap", type=float, default=None,
                   help="seconds after which a round-trip-bound step is stopped and "
                        "extrapolated (0: never; default 15, with --quick 6)")
    p.add_argument("--timeout", type=int, default=3600, help="hard limit of one step, seconds")
    p.add_argument("--delay-ms", type=int, default=10, help="relay delay each way (default 10)")
    p.add_argument("--modes", default="direct,proxy", help="direct, proxy or both (default)")
    p.add_argument("--only", default=".", help="regex over the phases: " + ", ".join(PHASES))
    p.add_argument("--save", help="also write the figures as tab-separated values here")
    p.add_argument("--quiet", action="store_true", help="no progress lines")
    a = p.parse_args()
    if a.cap is None:
        a.cap = 6 if a.quick else 15

    t0 = time.monotonic()
    start_load = loadavg()
    bench = Bench(a)
    sz = bench.sz
    print("Tavrel mail benchmarks%s: %d MiB file (P = %d MiB), %s files of %d KiB, "
          "mailbox of %s mails, delete of a folder of %d files; cap %s s."
          % (" (--quick)" if a.quick else "", sz["big_mib"], PART // MiB, fmt_n(sz["small_count"]),
             sz["small_kib"], fmt_n(sz["mailbox"]), sz["del_files"], a.cap or "none"), flush=True)
    try:
        bench.run()
    except Exception as e:  # report what was measured; a benchmark exits 0
        print("benchmark stopped early: %s: %s" % (type(e).__name__, e), flush=True)
    print_table(bench, a)
    print("Machine: %d cores; load average %s at the start, %s at the end; total %.0f s. "
          "Wall times of one run on a shared machine: expect noise of 10-20 %% or more."
          % (os.cpu_count() or 0, "/".join(start_load), "/".join(loadavg()),
             time.monotonic() - t0))
    if a.save:
        save_tsv(bench, a.save)
        print("Figures saved to " + a.save)
    return 0


if __name__ == "__main__":
    sys.exit(main())
