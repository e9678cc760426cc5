#!/usr/bin/env python3
"""tavrel-cli driven as a user drives it: a subprocess per command, a temporary program
folder, and the real local mail servers (scripts/mailservers.sh; TAVREL_MAILSERVERS names
their env file). TAVREL_CLI names the program.

Round trips over POP3, IMAP4, and both over TLS; bad input that must end with status 2;
failures that must end with status 1; the questions on a terminal.
Prints one line per case and closes with "N passed, M failed"; exits 1 on a failure.
"""
import ctypes
import os
import pty
import random
import re
import select
import shutil
import signal
import smtplib
import subprocess
import sys
import tempfile
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
MAILSERVERS_SH = os.path.join(HERE, "..", "..", "scripts", "mailservers.sh")
CLI = os.environ.get("TAVREL_CLI", "")
ENV_FILE = os.environ.get("TAVREL_MAILSERVERS", "")
ATTACH = 16384                      # --max-attach-bytes of the test mailboxes
PART = round(ATTACH * 0.8)          # bytes per part mail


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


S = {}


def mails(maildir):
    return sum(len(os.listdir(os.path.join(maildir, d))) for d in ("new", "cur")
               if os.path.isdir(os.path.join(maildir, d)))


def wait_mails(maildir, count, timeout=20):
    """Delivery is asynchronous: wait until the inbox holds `count` mails."""
    end = time.time() + timeout
    while time.time() < end:
        if mails(maildir) >= count:
            return
        time.sleep(0.05)
    raise AssertionError("expected %d mails in %s, found %d" % (count, maildir, mails(maildir)))


def clear(user):
    subprocess.run(["bash", MAILSERVERS_SH, "clear", os.path.dirname(ENV_FILE), user],
                   check=True, stdout=subprocess.DEVNULL)


class Home:
    """A program folder with its own Tavrel.ini."""

    def __init__(self, root, name, imap_port=None, ca=True):
        self.dir = os.path.join(root, name)
        os.makedirs(self.dir)
        with open(os.path.join(self.dir, "Tavrel.ini"), "w") as f:
            f.write("[IMAP]\nDomain=tavrel.test\nHost=%s\nPort=%s\n" %
                    (S["HOST"], imap_port or S["IMAP_PORT"]))
            f.write("[TLS]\nVerifyPeer=1\n")
            if ca:
                f.write("CaFile=%s\n" % S["CA_FILE"])

    def run(self, *args, stdin_text=None, expect=None, timeout=120, preexec_fn=None):
        r = subprocess.run([CLI, "--home", self.dir] + list(args),
                           input=stdin_text if stdin_text is not None else None,
                           stdin=None if stdin_text is not None else subprocess.DEVNULL,
                           capture_output=True, text=True, timeout=timeout,
                           preexec_fn=preexec_fn)
        if expect is not None and r.returncode != expect:
            raise AssertionError("%s -> status %d, expected %d\nstdout:\n%s\nstderr:\n%s" %
                                 (" ".join(args), r.returncode, expect, r.stdout, r.stderr))
        return r


def bound_by_modes():
    """For Home.run: under root the program would read any folder whatever its mode, so
    it is started without the capabilities that override the modes (DAC_OVERRIDE,
    DAC_READ_SEARCH)."""
    if os.geteuid() != 0:
        return None
    libc = ctypes.CDLL(None, use_errno=True)

    def drop():
        for cap in (1, 2):
            if libc.prctl(24, cap, 0, 0, 0) != 0:  # PR_CAPBSET_DROP
                os.write(2, b"cannot drop the capabilities that override file modes\n")
                os._exit(126)
    return drop


def check(cond, message):
    if not cond:
        raise AssertionError(message)


def make_tree(top):
    """A tree with an empty file, small files, a multi-part file, a non-ASCII name and an
    empty folder. Returns the number of mails storing it takes."""
    files = {
        "empty.txt": b"",
        "small.txt": b"small text\n",
        "multi.bin": os.urandom(3 * PART + 100),
        "exact.bin": os.urandom(PART),
        "sub dir/nested.txt": b"nested\n" * 100,
        "sub dir/deeper/\u00e4rger \u00fc.dat": os.urandom(PART + 1),
    }
    folders = ["", "sub dir", "sub dir/deeper", "void"]
    for d in folders:
        os.makedirs(os.path.join(top, d), exist_ok=True)
    for i, (rel, data) in enumerate(files.items()):
        with open(os.path.join(top, rel), "wb") as f:
            f.write(data)
        # Times of the past with a fraction: a fetched copy must carry them, not its own.
        os.utime(os.path.join(top, rel), ns=(0, 1000000000123456789 + i * 86400 * 10**9))
    parts = sum(max(1, (len(d) + PART - 1) // PART) for d in files.values())
    return len(folders) + parts


def same_tree(a, b):
    def listing(root):
        out = {}
        for base, dirs, files in os.walk(root):
            rel = os.path.relpath(base, root)
            out[rel + "/"] = None
            for f in files:
                with open(os.path.join(base, f), "rb") as h:
                    out[os.path.join(rel, f)] = h.read()
        return out
    la, lb = listing(a), listing(b)
    check(sorted(la) == sorted(lb), "entries differ: %s vs %s" % (sorted(la), sorted(lb)))
    for k in la:
        check(la[k] == lb[k], "bytes differ in %s" % k)


def add_box(home, alias, kind, stdin_password=False):
    """kind: pop3, imap4, pop3-tls, imap4-tls. The account name selects IMAP4 (it holds
    "@tavrel.test"), the SSL flags TLS; host "localhost" checks the certificate's name."""
    tls = kind.endswith("tls")
    imap = kind.startswith("imap4")
    user, pw, addr, md = ("USER2", "PASS2", "ADDR2", "MAILDIR2") if tls else \
                         ("USER1", "PASS1", "ADDR1", "MAILDIR1")
    host = "localhost" if tls else S["HOST"]
    args = ["add-box", alias, "--address", S[addr],
            "--smtp", "%s:%s" % (host, S["SMTPS_PORT" if tls else "SMTP_PORT"]),
            "--pop", "%s:%s" % (host, S["POP3S_PORT" if tls else "POP3_PORT"]),
            "--account", S[addr] if imap else S[user],
            "--max-attach-bytes", str(ATTACH)]
    if tls:
        args += ["--smtp-ssl", "--pop-ssl"]
    if stdin_password:
        home.run("--password-stdin", *args, stdin_text=S[pw] + "\n", expect=0)
    else:
        home.run(*args, "--password", S[pw], expect=0)
    clear(S[user])
    return S[md]


def round_trip(root, kind):
    tls = kind.endswith("tls")
    imap_port = S["IMAPS_PORT"] if kind == "imap4-tls" else S["IMAP_PORT"]
    home = Home(root, "home-" + kind, imap_port=imap_port)
    maildir = add_box(home, "Box", kind, stdin_password=tls)
    work = os.path.join(root, "work-" + kind)
    tree = os.path.join(work, "tree")
    expected = make_tree(tree)

    home.run("mkdir", "Box", "in", expect=0)
    wait_mails(maildir, 1)
    r = home.run("put", "Box", tree, "--to", "/in", expect=0)
    check("Stored \\in\\tree\\multi.bin" in r.stderr, r.stderr)
    wait_mails(maildir, 1 + expected)

    r = home.run("ls", "-R", "Box", expect=0)
    for line in ["\\:", "in\\", "\\in\\tree:", "sub dir\\", "void\\", "multi.bin", "empty.txt",
                 "\\in\\tree\\sub dir\\deeper:", "\u00e4rger \u00fc.dat"]:
        check(line in r.stdout.splitlines(), "ls -R lacks %r:\n%s" % (line, r.stdout))
    r = home.run("ls", "-l", "Box", "in/tree", expect=0)
    rows = {l.split()[0]: l for l in r.stdout.splitlines()[1:]}
    multi_kb = "%d KB" % ((3 * PART + 100 + 1023) // 1024)
    check(re.search(r"multi\.bin\s+%s\s+BIN File\s+\S.*\s+Mail$" % multi_kb, rows["multi.bin"]),
          r.stdout)
    check(re.search(r"sub dir\\\s+File Folder", r.stdout), r.stdout)

    back = os.path.join(work, "back")
    os.makedirs(back)
    r = home.run("get", "Box", "\\in\\tree", "--to", back, expect=0)
    same_tree(tree, os.path.join(back, "tree"))
    for base, _, names in os.walk(tree):
        for name in names:
            rel = os.path.relpath(os.path.join(base, name), tree)
            want = os.stat(os.path.join(tree, rel)).st_mtime_ns // 10**6 * 10**6
            got = os.stat(os.path.join(back, "tree", rel)).st_mtime_ns
            check(got == want, "%s fetched with time %d, stored %d" % (rel, got, want))

    r = home.run("find", "Box", "no such name", expect=1)
    check("Nothing in \"Box\" has a name holding \"no such name\"." in r.stderr, r.stderr)
    r = home.run("find", "Box", "NESTED", expect=0)
    check(re.search(r"nested\.txt\s+Box\\in\\tree\\sub dir\s+1 KB\s+TXT File", r.stdout),
          r.stdout)
    r = home.run("info", "Box", expect=0)
    check("Contains:        6 Files, 5 Folders" in r.stdout, r.stdout)
    r = home.run("info", "Box", "in/tree/multi.bin", expect=0)
    check(re.search(r"Size:\s+%s" % multi_kb, r.stdout) and "Location:  Box\\in\\tree" in r.stdout,
          r.stdout)

    r = home.run("--yes", "rm", "Box", "in/tree/small.txt", "in/tree/sub dir", expect=0)
    r = home.run("ls", "-R", "Box", "in", expect=0)
    check("small.txt" not in r.stdout and "sub dir" not in r.stdout and "multi.bin" in r.stdout,
          r.stdout)
    # Gone: the small file's mail, the two folder mails of "sub dir" and "deeper", and the
    # three part mails of the files below them.
    check(mails(maildir) == 1 + expected - 6, "mails left: %d" % mails(maildir))


def test_round_trip_pop3(root):
    round_trip(root, "pop3")


def test_round_trip_imap4(root):
    round_trip(root, "imap4")


def test_round_trip_pop3_over_tls(root):
    round_trip(root, "pop3-tls")


def test_round_trip_imap4_over_tls(root):
    round_trip(root, "imap4-tls")


def test_runs_after_another_program_folder_changed_the_mailbox(root):
    # Each run reads the subjects it knows from SubjectCache.bin; what another client
    # deleted or stored between two runs must show all the same.
    for kind in ("pop3", "imap4"):
        mine = Home(root, "mine-" + kind)
        theirs = Home(root, "theirs-" + kind)
        maildir = add_box(mine, "Box", kind)
        add_box(theirs, "Box", kind)
        work = os.path.join(root, "files-" + kind)
        os.makedirs(work)
        local = {}
        for name in ("a.txt", "b.txt", "c.txt"):
            local[name] = os.path.join(work, name)
            with open(local[name], "wb") as f:
                f.write(("the content of %s\n" % name).encode() * 50)
        mine.run("put", "Box", local["a.txt"], local["b.txt"], expect=0)
        wait_mails(maildir, 2)
        r = mine.run("ls", "Box", expect=0)
        check("a.txt" in r.stdout and "b.txt" in r.stdout, r.stdout)
        cache = os.path.join(mine.dir, "SubjectCache.bin")
        check(os.path.isfile(cache), "no SubjectCache.bin after a run")
        check(os.stat(cache).st_mode & 0o7777 == 0o600, oct(os.stat(cache).st_mode))

        theirs.run("--yes", "rm", "Box", "b.txt", expect=0)
        theirs.run("put", "Box", local["c.txt"], expect=0)
        wait_mails(maildir, 2)
        for deleted_cache in (False, True):
            if deleted_cache:
                os.remove(cache)  # it may go at any time
            r = mine.run("ls", "Box", expect=0)
            check("a.txt" in r.stdout and "c.txt" in r.stdout and "b.txt" not in r.stdout,
                  r.stdout)
        back = os.path.join(work, "back")
        os.makedirs(back)
        mine.run("get", "Box", "c.txt", "--to", back, expect=0)
        with open(os.path.join(back, "c.txt"), "rb") as f, open(local["c.txt"], "rb") as g:
            check(f.read() == g.read(), "c.txt fetched differs")


def test_boxes_edit_and_remove(root):
    home = Home(root, "home-boxes")
    add_box(home, "Mine", "pop3")
    r = home.run("boxes", expect=0)
    check("Mine" in r.stdout and "*" * len(S["PASS1"]) in r.stdout and S["PASS1"] not in r.stdout,
          r.stdout)
    check("Max attachment:  %d bytes" % ATTACH in r.stdout, r.stdout)
    home.run("edit-box", "mine", "--alias", "Renamed", "--pop", "%s:995" % S["HOST"],
             "--pop-ssl", "--capacity-mib", "50", expect=0)
    r = home.run("boxes", expect=0)
    check("Renamed" in r.stdout and "Mine" not in r.stdout, r.stdout)
    check("%s:995, SSL" % S["HOST"] in r.stdout and "50 MiB" in r.stdout, r.stdout)
    check("Max attachment:  %d bytes" % ATTACH in r.stdout, "kept size changed:\n" + r.stdout)
    home.run("rm-box", "Renamed", expect=0)
    r = home.run("boxes", expect=0)
    check("Renamed" not in r.stdout, r.stdout)


def test_bad_input_ends_with_status_2(root):
    home = Home(root, "home-bad")
    add_box(home, "Box", "pop3")
    local = os.path.join(root, "bad-local")
    os.makedirs(os.path.join(local, "mixed"))
    open(os.path.join(local, "what?.txt"), "w").close()
    open(os.path.join(local, "mixed", "fine.txt"), "w").write("fine")
    open(os.path.join(local, "mixed", "no|pe.txt"), "w").write("x")
    box = ["--address", "a@tavrel.test", "--smtp", "h", "--pop", "h", "--account", "a"]
    cases = [
        (["ls", "Nope"], "unknown mailbox \"Nope\"; known: Box"),
        (["edit-box", "Nope", "--account", "x"], "unknown mailbox"),
        (["add-box", "X"] + box[:1] + ["no-at-sign"] + box[2:],
         "--address: Please enter a valid email address for this mail box."),
        (["add-box", "X"] + box + ["--capacity-mib", "lots"],
         "--capacity-mib: Please enter an integer."),
        (["add-box", "X", "--address", "a@b", "--smtp", "h:abc", "--pop", "h", "--account", "a"],
         "--smtp: Please enter an integer."),
        (["add-box", "X", "--address", "a@b", "--smtp", "h", "--pop", "h:70000", "--account", "a"],
         "--pop: Please enter a port number from 1 to 65535."),
        (["add-box", "X", "--address", "a@b", "--smtp", ":25", "--pop", "h", "--account", "a"],
         "--smtp: a host name is needed"),
        (["add-box", "box"] + box, "ALIAS: A mail box with the name you specified already exists."),
        (["add-box", "a/b"] + box, "A mail box name cannot"),
        (["add-box", "X"] + box + ["--max-attach-bytes", "100"], "between 1024 and 4294967295"),
        (["put", "Box", os.path.join(local, "what?.txt")], "cannot store"),
        (["put", "Box", os.path.join(local, "missing")], "No such file or directory"),
        (["put", "Box", ""], "cannot store \"\""),
        (["put", "Box", local, "--to", "nowhere"], "--to: no folder \\nowhere"),
        (["get", "Box", "x", "--to", os.path.join(local, "missing")], "is not an existing folder"),
        (["ls", "Box", "no/such"], "no file or folder \\no\\such in mailbox \"Box\""),
        (["mkdir", "Box", "a:b"], "is not a usable path"),
        (["rm", "Box", "/"], "the root folder cannot be deleted"),
        (["frobnicate"], "unknown command"),
        (["--frobnicate"], "unknown option --frobnicate"),
        (["ls", "Box", "-lz"], "unknown option -z"),
        (["help", "frobnicate"], "unknown command \"frobnicate\""),
        (["ls", "Box", "--to", "x"], "unknown option --to for ls"),
        (["--yes", "--no", "boxes"], "exclude each other"),
    ]
    before = home.run("boxes", expect=0).stdout
    for args, message in cases:
        r = home.run(*args)
        check(r.returncode == 2, "%s -> %d\n%s" % (args, r.returncode, r.stderr))
        check(message in r.stderr, "%s: %r not in\n%s" % (args, message, r.stderr))
    check(home.run("boxes", expect=0).stdout == before, "Data.bin changed by refused input")
    check(mails(S["MAILDIR1"]) == 0, "refused input sent mail")

    # A name inside a folder that cannot be stored: that item is skipped, the rest stored,
    # and the status tells that input was refused.
    r = home.run("put", "Box", os.path.join(local, "mixed"))
    check(r.returncode == 2, "status %d\n%s" % (r.returncode, r.stderr))
    check("no|pe.txt" in r.stderr and "Stored \\mixed\\fine.txt" in r.stderr, r.stderr)


def test_replace_question_and_failed_copy(root):
    home = Home(root, "home-replace")
    maildir = add_box(home, "Box", "pop3")
    local = os.path.join(root, "replace")
    os.makedirs(local)
    f = os.path.join(local, "f.txt")
    open(f, "w").write("first")
    home.run("put", "Box", f, expect=0)
    wait_mails(maildir, 1)

    open(f, "w").write("second version")
    # Answered no, nothing is stored: the item is named as skipped and the status is 1.
    r = home.run("--no", "put", "Box", f, expect=1)
    check("Confirm File Replace" in r.stderr and "-> no (--no)" in r.stderr, r.stderr)
    check("Stored" not in r.stderr and "Skipped \\f.txt" in r.stderr, r.stderr)
    r = home.run("--yes", "put", "Box", f, expect=0)
    check("Stored \\f.txt" in r.stderr, r.stderr)
    # The old mail was deleted before the new one was sent; wait for its delivery.
    wait_mails(maildir, 1)
    check(mails(maildir) == 1, "mails: %d" % mails(maildir))
    out = os.path.join(root, "replace-out")
    os.makedirs(out)
    home.run("get", "Box", "f.txt", "--to", out, expect=0)
    check(open(os.path.join(out, "f.txt")).read() == "second version", "not replaced")
    r = home.run("--no", "get", "Box", "f.txt", "--to", out, expect=1)
    check("Skipped \\f.txt" in r.stderr and "Nothing was fetched." in r.stderr, r.stderr)

    # On a terminal: no for the stored file, the new one beside it is stored (status 0).
    g = os.path.join(local, "g.txt")
    open(g, "w").write("new")
    t = Terminal(home, "put", "Box", f, g)
    t.expect("Would you like to replace the existing file?")
    t.expect("[yes/no] ")
    t.send("n")
    status, _ = t.finish()
    check(status == 0, "status %d\n%s" % (status, t.seen))
    check("Skipped \\f.txt" in t.seen and "Stored \\g.txt" in t.seen, t.seen)
    check("Stored \\f.txt" not in t.seen, t.seen)
    wait_mails(maildir, 2)

    # The copy out of the cache cannot be made (a folder holds the name): status 1.
    blocked = os.path.join(root, "blocked")
    os.makedirs(os.path.join(blocked, "f.txt"))
    r = home.run("--yes", "get", "Box", "f.txt", "--to", blocked, expect=1)
    check("Cannot copy \"\\f.txt\"" in r.stderr and "exists already" in r.stderr, r.stderr)


def test_links_are_followed_at_every_depth_and_loops_refused(root):
    home = Home(root, "home-links")
    maildir = add_box(home, "Box", "pop3")
    local = os.path.join(root, "links")
    tree = os.path.join(local, "tree")
    outside = os.path.join(local, "outside")
    os.makedirs(os.path.join(tree, "inner"))
    os.makedirs(outside)
    open(os.path.join(tree, "inner", "a.txt"), "w").write("a")
    open(os.path.join(outside, "o.txt"), "w").write("outside")
    os.symlink(outside, os.path.join(tree, "lnk"))
    os.symlink(os.path.join(outside, "o.txt"), os.path.join(tree, "flink"))
    loop = os.path.join(tree, "inner", "loop")
    os.symlink(tree, loop)
    os.symlink(outside, os.path.join(local, "top-link"))

    # The loop is refused by name (status 2), everything else is stored: the link to a
    # folder inside the tree as the one named on the command line, as a folder.
    r = home.run("put", "Box", tree, os.path.join(local, "top-link"))
    check(r.returncode == 2, "status %d\n%s" % (r.returncode, r.stderr))
    check("Cannot store \"%s\": it is a link to a folder that holds it (a loop)" % loop in r.stderr,
          r.stderr)
    for stored in ["\\tree\\inner\\a.txt", "\\tree\\flink", "\\tree\\lnk\\o.txt",
                   "\\top-link\\o.txt"]:
        check("Stored " + stored in r.stderr, "%s not stored:\n%s" % (stored, r.stderr))
    wait_mails(maildir, 8)  # folders tree, inner, lnk, top-link and four files

    back = os.path.join(root, "links-back")
    os.makedirs(back)
    home.run("get", "Box", "tree", "top-link", "--to", back, expect=0)
    for rel, text in [("tree/inner/a.txt", "a"), ("tree/flink", "outside"),
                      ("tree/lnk/o.txt", "outside"), ("top-link/o.txt", "outside")]:
        p = os.path.join(back, rel)
        check(not os.path.islink(p) and open(p).read() == text, "fetched %s wrong" % rel)
    check(not os.path.lexists(os.path.join(back, "tree", "inner", "loop")), "loop fetched")


def test_unreadable_folders_are_errors_by_name(root):
    home = Home(root, "home-locked")
    maildir = add_box(home, "Box", "pop3")
    local = os.path.join(root, "locked")
    top = os.path.join(local, "top")
    outer = os.path.join(local, "outer")
    nested = os.path.join(outer, "nested")
    for d in (top, nested):
        os.makedirs(d)
        open(os.path.join(d, "x.txt"), "w").write("x")
    open(os.path.join(outer, "ok.txt"), "w").write("ok")
    os.chmod(top, 0)
    os.chmod(nested, 0)
    try:
        # Named on the command line: refused before anything is sent.
        r = home.run("put", "Box", top, outer, preexec_fn=bound_by_modes())
        check(r.returncode == 2, "status %d\n%s" % (r.returncode, r.stderr))
        check("cannot store \"%s\": the folder cannot be read: Permission denied" % top
              in r.stderr, r.stderr)
        check("Stored" not in r.stderr and mails(maildir) == 0, r.stderr)
        # Inside a folder: named, the rest stored.
        r = home.run("put", "Box", outer, preexec_fn=bound_by_modes())
        check(r.returncode == 2, "status %d\n%s" % (r.returncode, r.stderr))
        check("Cannot read the folder \"%s\": Permission denied" % nested in r.stderr, r.stderr)
        check("Stored \\outer\\ok.txt" in r.stderr, r.stderr)
    finally:
        os.chmod(top, 0o755)
        os.chmod(nested, 0o755)


def test_rm_of_a_folder_with_content_asks(root):
    home = Home(root, "home-rm")
    maildir = add_box(home, "Box", "pop3")
    local = os.path.join(root, "rm")
    os.makedirs(os.path.join(local, "d", "e"))
    open(os.path.join(local, "d", "a.txt"), "w").write("a")
    open(os.path.join(local, "top.txt"), "w").write("top")
    home.run("put", "Box", os.path.join(local, "d"), os.path.join(local, "top.txt"), expect=0)
    wait_mails(maildir, 4)

    # Nobody to ask and no --yes: refused as a whole, naming what the folder holds.
    r = home.run("rm", "Box", "d", "top.txt", expect=2)
    check("nothing was deleted: \\d holds 1 file and 1 folder; give --yes" in r.stderr,
          r.stderr)
    check(mails(maildir) == 4, "mails: %d" % mails(maildir))
    # An empty folder needs no question.
    home.run("rm", "Box", "d/e", expect=0)
    check(mails(maildir) == 3, "mails: %d" % mails(maildir))
    r = home.run("--no", "rm", "Box", "d", expect=1)
    check("Skipped \\d" in r.stderr and "Nothing was deleted." in r.stderr, r.stderr)

    # On a terminal, the window's question: no keeps the folder while the file still goes,
    # yes deletes the folder with what it holds.
    for answer, paths, left in [("n", ["d", "top.txt"], 2), ("y", ["d"], 0)]:
        t = Terminal(home, "rm", "Box", *paths)
        t.expect("\\d holds 1 file.")
        t.expect("Are you sure to remove the selected items from you email?")
        t.expect("[yes/no] ")
        t.send(answer)
        status, _ = t.finish()
        check(status == 0, "answer %s: status %d\n%s" % (answer, status, t.seen))
        check(("Skipped \\d" in t.seen) == (answer == "n"), t.seen)
        check(mails(maildir) == left, "answer %s: mails %d" % (answer, mails(maildir)))
    check(home.run("ls", "Box", expect=0).stdout == "", "left in the mailbox")


def test_help_and_large_sizes(root):
    home = Home(root, "home-help")
    r = home.run("help", "put", expect=0)
    check(r.stdout.startswith("Usage: tavrel-cli put BOX LOCAL... [--to PATH]\n"), r.stdout)
    check(home.run("ls", "--help", expect=0).stdout == home.run("help", "ls", expect=0).stdout,
          "ls --help differs from help ls")
    r = home.run("--bogus", expect=2)
    check("unknown option --bogus" in r.stderr and "no command" not in r.stderr, r.stderr)

    # A stored file of 1 GiB, as its subject tells (sizes come from the subjects alone).
    maildir = add_box(home, "Box", "pop3")
    subject = "ExFile:\\big.bin<1/1>|Size:1073741824|Hash:0|Attri:32|Time:45000;45000"
    with smtplib.SMTP(S["HOST"], int(S["SMTP_PORT"])) as smtp:
        smtp.sendmail(S["ADDR1"], [S["ADDR1"]],
                      "From: %s\r\nTo: %s\r\nSubject: %s\r\n\r\nbody\r\n" %
                      (S["ADDR1"], S["ADDR1"], subject))
    wait_mails(maildir, 1)
    for args, pattern in [(["ls", "-l", "Box"], r"big\.bin\s+1,048,576 KB\s+BIN File"),
                          (["find", "Box", "big"], r"big\.bin\s+Box\s+1,048,576 KB"),
                          (["info", "Box", "big.bin"], r"Size:\s+1,048,576 KB"),
                          (["info", "Box"], r"Size:\s+1,048,576 KB")]:
        r = home.run(*args, expect=0)
        check(re.search(pattern, r.stdout), "%s:\n%s" % (args, r.stdout))


class Terminal:
    """tavrel-cli with a terminal on standard input and standard error."""

    def __init__(self, home, *args):
        self.master, slave = pty.openpty()
        self.out = tempfile.TemporaryFile()
        self.proc = subprocess.Popen([CLI, "--home", home.dir] + list(args), stdin=slave,
                                     stdout=self.out, stderr=slave, close_fds=True,
                                     start_new_session=True)
        os.close(slave)
        self.seen = ""

    def _read(self, wait):
        """Takes what the terminal shows; False once it is closed."""
        ready, _, _ = select.select([self.master], [], [], wait)
        if not ready:
            return True
        try:
            data = os.read(self.master, 4096)
        except OSError:
            data = b""
        self.seen += data.decode("utf-8", "replace")
        return bool(data)

    def expect(self, text, timeout=30):
        end = time.time() + timeout
        while text not in self.seen:
            left = end - time.time()
            if left <= 0:
                raise AssertionError("no %r on the terminal; saw:\n%s" % (text, self.seen))
            if not self._read(left):
                raise AssertionError("terminal closed before %r; saw:\n%s" % (text, self.seen))

    def send(self, line):
        os.write(self.master, (line + "\n").encode())

    def finish(self, timeout=60):
        # The terminal is read all along: a full terminal buffer would stop the program.
        end = time.time() + timeout
        while self.proc.poll() is None:
            if time.time() > end:
                self.proc.kill()
                raise AssertionError("still running after %d s; saw:\n%s" % (timeout, self.seen))
            self._read(0.05)
        while self._read(0.05) and self.proc.poll() is not None and time.time() < end:
            pass
        os.close(self.master)
        self.out.seek(0)
        return self.proc.returncode, self.out.read().decode()


def test_terminal_questions(root):
    home = Home(root, "home-tty")
    maildir = add_box(home, "Box", "pop3")
    # A wrong stored password: the login question, then the password typed unseen.
    home.run("edit-box", "Box", "--password", "wrong", expect=0)
    t = Terminal(home, "ls", "Box")
    t.expect("Do you want to reenter your password?")
    t.expect("[yes/no/cancel]")
    t.send("y")
    t.expect("Please enter your password:")
    t.send(S["PASS1"])
    status, out = t.finish()
    check(status == 0, "status %d\n%s" % (status, t.seen))
    check(S["PASS1"] not in t.seen, "the password was echoed")
    # The password typed again is kept in Data.bin: the next run, with nobody to ask,
    # logs in with it.
    check("Saved the new password of mailbox \"Box\"" in t.seen, t.seen)
    home.run("ls", "Box", expect=0)

    # Answer and password typed ahead, before either question shows: neither is lost.
    home.run("edit-box", "Box", "--password", "wrong", expect=0)
    t = Terminal(home, "ls", "Box")
    t.send("y\n" + S["PASS1"])
    status, out = t.finish()
    check(status == 0, "status %d\n%s" % (status, t.seen))

    # Without a terminal: --yes answers the login question, the password comes from stdin.
    home.run("edit-box", "Box", "--password", "wrong", expect=0)
    r = home.run("--yes", "--password-stdin", "ls", "Box", stdin_text=S["PASS1"] + "\n",
                 expect=0)
    check("Enter Password: Please enter your password: (read from standard input)" in r.stderr,
          r.stderr)
    home.run("ls", "Box", expect=0)

    # On a terminal the transfer shows a bar with the amount.
    f = os.path.join(root, "tty.bin")
    open(f, "wb").write(os.urandom(2 * PART))
    home.run("edit-box", "Box", "--password", S["PASS1"], expect=0)
    t = Terminal(home, "put", "Box", f)
    status, _ = t.finish()
    check(status == 0, t.seen)
    check(re.search(r"Sending 1 of 2\.\.\.\s+\[[#.]{20}\]\s+\d+%\s+\S+ \w?B of \d+ KB", t.seen),
          "no progress bar:\n" + t.seen)

    # A server that is not there: cancelling the login question fails the command.
    home.run("edit-box", "Box", "--pop", "%s:1" % S["HOST"], expect=0)
    t = Terminal(home, "ls", "Box")
    t.expect("Connection refused")
    t.expect("[yes/no/cancel]")
    t.send("c")
    status, out = t.finish()
    check(status == 1, "status %d\n%s" % (status, t.seen))
    check("failed: Read the folder structure of Box: Socket Error # 10061" in t.seen, t.seen)
    check(out == "", out)


def test_interruption_ends_the_run_and_clears_the_cache(root):
    home = Home(root, "home-int")
    add_box(home, "Box", "pop3")
    f = os.path.join(root, "long.bin")
    open(f, "wb").write(os.urandom(400 * PART))
    p = subprocess.Popen([CLI, "--home", home.dir, "put", "Box", f], stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    seen = ""
    for line in p.stderr:
        seen += line
        if line.startswith("Sending 2 of 400"):
            p.send_signal(signal.SIGINT)
            break
    seen += p.stderr.read()
    p.wait(timeout=30)
    check(p.returncode == 130, "status %s\n%s" % (p.returncode, seen))
    check("tavrel-cli: interrupted" in seen, seen)
    check(not os.path.exists(os.path.join(home.dir, "MailRoot")), "cache folder left behind")
    clear(S["USER1"]) # the parts sent before the interruption


def test_tls_certificate_is_checked(root):
    # Without the test CA the server's certificate is not trusted: the run ends at once with
    # the reason, without asking for a password (another one would not help).
    home = Home(root, "home-untrusted", ca=False)
    add_box(home, "Box", "pop3-tls")
    t = Terminal(home, "ls", "Box")
    status, _ = t.finish()
    check("[yes/no/cancel]" not in t.seen, t.seen)
    check(status == 1, "status %d\n%s" % (status, t.seen))
    check(re.search(r"certificate", t.seen, re.I), t.seen)


def main():
    global S
    if not CLI or not os.access(CLI, os.X_OK):
        print("TAVREL_CLI does not name the tavrel-cli program")
        return 1
    if not ENV_FILE or not os.path.exists(ENV_FILE):
        print("TAVREL_MAILSERVERS is not set: start scripts/mailservers.sh")
        return 1
    S = read_env(ENV_FILE)
    tests = [(n, f) for n, f in globals().items() if n.startswith("test_") and callable(f)]
    passed = failed = 0
    root = tempfile.mkdtemp(prefix="tavrel-cli-e2e-")
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
    finally:
        shutil.rmtree(root, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    random.seed()
    sys.exit(main())
