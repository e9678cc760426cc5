#!/usr/bin/env python3
"""The real Tavrel window beside another X client (dnd_peer) under Xvfb, against the local
mail servers (TAVREL_MAILSERVERS names their env file): a file list written to the
clipboard by the other program in the gnome format pastes into the open mailbox; Copy in
Tavrel offers the gnome list, text/uri-list and the cut marker to the other program; a file
dragged from the other program onto a folder item is stored in that folder; a local entry
dragged out arrives as a file URL of the cache; an entry that is not local, dragged out,
arrives as a path in the open mailbox's mount (under XDG_RUNTIME_DIR) that the other program
reads byte for byte, the download on the way; `Tavrel --drop` with a placeholder source
copies the entry to the destination after its download, and twice queues one download; the
mount is gone once the window has ended.

Usage: dnd_process_test.py BUILD_DIR DND_PEER. Prints one line per check and closes with
"N passed, M failed"; exits 1 on a failure."""
import errno
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
MAILSERVERS_SH = os.path.join(HERE, "..", "..", "scripts", "mailservers.sh")
BUILD = sys.argv[1]
PEER = sys.argv[2]
TAVREL = os.path.join(BUILD, "Tavrel")
CLI = os.path.join(BUILD, "tavrel-cli")
ATTACH = 16384                      # --max-attach-bytes of the test mailbox
PART = round(ATTACH * 0.8)          # bytes per part mail
FOLDERS = ["d%02d" % i for i in range(24)]  # enough rows to fill the file list
MOUNTED = "z mounted é.bin"                  # sorts last
LAST_ROW_Y = 500                             # its row once End has scrolled to it
failures = []
checks = [0]


def check(cond, what):
    checks[0] += 1
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)


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


def start_xvfb():
    r, w = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x800x24",
                             "-nolisten", "tcp", "-noreset"], pass_fds=(w,), stderr=subprocess.DEVNULL)
    os.close(w)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(r, 16)
        if not chunk:
            break
        number += chunk
    os.close(r)
    return proc, ":" + number.decode().strip()


def xdo(env, *args):
    return subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True, timeout=20)


def wait_window(env, name, timeout=20):
    until = time.time() + timeout
    while time.time() < until:
        ids = xdo(env, "search", "--onlyvisible", "--name", name).stdout.split()
        if ids:
            return ids
        time.sleep(0.2)
    return []


def wait_until(cond, timeout):
    until = time.time() + timeout
    while time.time() < until:
        if cond():
            return True
        time.sleep(0.1)
    return cond()


def peer_output(proc, timeout=30):
    """The items a dnd_peer reported, as {key: bytes}, once it has ended."""
    try:
        out, _ = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        out, _ = proc.communicate()
    items = {}
    for line in out.decode().splitlines():
        if "\t" in line:
            key, value = line.split("\t", 1)
            items[key] = bytes.fromhex(value)
    return items


def drag(env, start, end, steps=12):
    """A left-button drag from one screen point to another, in small moves as a hand
    makes them (the drag protocol needs motion to find the target)."""
    xdo(env, "mousemove", str(start[0]), str(start[1]))
    time.sleep(0.3)
    xdo(env, "mousedown", "1")
    time.sleep(0.3)
    for i in range(1, steps + 1):
        x = start[0] + (end[0] - start[0]) * i // steps
        y = start[1] + (end[1] - start[1]) * i // steps
        xdo(env, "mousemove", str(x), str(y))
        time.sleep(0.1)
    time.sleep(0.5)
    xdo(env, "mouseup", "1")
    time.sleep(0.5)


def keys(env, win, at, key):
    """A key for the file list: a click on a row at `at` (window coordinates) selects it
    and gives the list the keyboard, which without a window manager nothing else does."""
    xdo(env, "windowfocus", "--sync", win)
    xdo(env, "mousemove", "--window", win, str(at[0]), str(at[1]), "click", "1")
    time.sleep(0.3)
    xdo(env, "key", key)


def retrieved(log, start):
    """Mails fetched (POP3 RETR) since the Dovecot log was `start` bytes long."""
    with open(log, errors="replace") as f:
        f.seek(start)
        return sum(int(n) for n in re.findall(r"retr=(\d+)/", f.read()))


def tavrel_mounts(runtime):
    """Mount points of ours under the runtime folder, from the kernel's table."""
    with open("/proc/self/mounts") as f:
        return [line.split()[1] for line in f if line.split()[1].startswith(runtime + "/")]


def mails(maildir):
    return sum(len(os.listdir(os.path.join(maildir, d))) for d in ("new", "cur")
               if os.path.isdir(os.path.join(maildir, d)))


def main():
    env_file = os.environ.get("TAVREL_MAILSERVERS", "")
    if not env_file or not os.path.exists(env_file):
        print("TAVREL_MAILSERVERS does not name the servers' env file")
        return 1
    S = read_env(env_file)
    xvfb, display = start_xvfb()
    tmp = tempfile.mkdtemp(prefix="tavrel-dnd-")
    home = os.path.join(tmp, "home")
    runtime = os.path.join(tmp, "runtime")
    local = os.path.join(tmp, "local")
    for d in (home, local):
        os.makedirs(d)
    os.makedirs(runtime, mode=0o700)
    env = dict(os.environ, DISPLAY=display, TAVREL_HOME=home, XDG_RUNTIME_DIR=runtime,
               TAVREL_REGISTRY=os.path.join(tmp, "registry.ini"),
               XDG_CONFIG_HOME=os.path.join(tmp, "config"), XDG_DATA_HOME=os.path.join(tmp, "data"))
    env.pop("QT_QPA_PLATFORM", None)
    env.pop("WAYLAND_DISPLAY", None)
    # A known layout: the window at 0,0, the file list in the Details style right of the
    # mailbox list, no address bar; the notices of entries not yet local stay quiet.
    with open(os.path.join(home, "Tavrel.ini"), "w") as f:
        f.write("[IMAP]\nDomain=tavrel.test\nHost=%s\nPort=%s\n" % (S["HOST"], S["IMAP_PORT"]))
        f.write("[General]\nLeft=0\nTop=0\nWidth=700\nHeight=560\nState=0\nLeftBar=200\nAddrBar=0\n")
        f.write("[lvFiles]\nStyle=3\n[MsgBox]\n0=1\n1=1\n")

    def cli(*args):
        return subprocess.run([CLI, "--home", home, *args], stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=120, env=env)

    subprocess.run(["bash", MAILSERVERS_SH, "clear", os.path.dirname(env_file), S["USER1"]],
                   check=True, stdout=subprocess.DEVNULL)
    r = cli("add-box", "Box", "--address", S["ADDR1"],
            "--smtp", "%s:%s" % (S["HOST"], S["SMTP_PORT"]), "--pop", "%s:%s" % (S["HOST"], S["POP3_PORT"]),
            "--account", S["USER1"], "--password", S["PASS1"], "--max-attach-bytes", str(ATTACH))
    check(r.returncode == 0, "add-box (%s)" % r.stderr.strip())
    remote = random.Random(7).randbytes(2 * PART + 5)  # three part mails
    with open(os.path.join(local, "remote.bin"), "wb") as f:
        f.write(remote)
    # The last row of the list: dragged out through the mount.
    mounted = random.Random(8).randbytes(PART + 77)  # two part mails
    with open(os.path.join(local, MOUNTED), "wb") as f:
        f.write(mounted)
    for name in FOLDERS:
        os.makedirs(os.path.join(local, name))
    r = cli("put", "Box", *[os.path.join(local, n) for n in FOLDERS + ["remote.bin", MOUNTED]])
    check(r.returncode == 0, "the mailbox is filled (%s)" % r.stderr.strip())
    pasted = os.path.join(local, "pasted ü.txt")
    dragged = os.path.join(local, "dragged #1.txt")
    for path, text in ((pasted, b"pasted"), (dragged, b"dragged")):
        with open(path, "wb") as f:
            f.write(text)

    tavrel = None
    peers = []

    def peer(*args):
        p = subprocess.Popen([PEER, *args], env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        peers.append(p)
        return p

    try:
        tavrel = subprocess.Popen([TAVREL], env=env, stderr=subprocess.DEVNULL)
        windows = wait_window(env, "^Tavrel$")
        check(len(windows) == 1, "the window appears")
        if not windows:
            return 1
        win = windows[0]
        time.sleep(1)
        # A double-click on the mailbox (the first row of the mailbox list) opens it; its
        # structure is read from the server.
        xdo(env, "mousemove", "--window", win, "40", "113", "click", "--repeat", "2", "1")
        box_cache = os.path.join(home, "MailRoot", "Box")
        time.sleep(4)
        screenshot = os.environ.get("TAVREL_DND_SHOT")
        if screenshot:
            subprocess.run(["import", "-window", "root", screenshot], env=env)

        stored = mails(S["MAILDIR1"])
        # Paste of a list another program put on the clipboard in the gnome format: into
        # the folder selected (a row near the top).
        writer = peer("clip-write", "x-special/gnome-copied-files",
                      "copy\n" + "file://" + urllib.parse.quote(pasted), "30")
        writer.stdout.readline()
        time.sleep(1)
        keys(env, win, (400, 130), "ctrl+v")
        time.sleep(1)
        if screenshot:
            subprocess.run(["import", "-window", "root", screenshot + ".paste.png"], env=env)

        # A file dragged from the other program onto a folder row of the list.
        source = peer("drag-source", dragged, "900", "50")
        wait_window(env, "^dndsource$", 10)
        time.sleep(0.5)
        drag(env, (1000, 150), (400, 220))
        got = peer_output(source)
        if screenshot:
            subprocess.run(["import", "-window", "root", screenshot + ".in.png"], env=env)
        check(got.get("action") == b"1", "the drag in ends as a copy (%s)" % got.get("action"))
        check(os.path.exists(dragged), "the dragged file stays where it was")

        # A local entry (an empty folder row further down) dragged out to the other program.
        target = peer("drop-target", "900", "450")
        wait_window(env, "^dndtarget$", 10)
        time.sleep(0.5)
        drag(env, (400, 420), (1000, 550))
        got = peer_output(target)
        if screenshot:
            subprocess.run(["import", "-window", "root", screenshot + ".out.png"], env=env)
        uris = got.get("text/uri-list", b"").decode(errors="replace")
        path = urllib.parse.unquote(uris.strip()[len("file://"):]) if uris.startswith("file://") else ""
        check(path.startswith(box_cache + "/d") and os.path.basename(path) in FOLDERS,
              "a local entry dragged out arrives as a file URL of the cache (%r)" % uris)
        check(os.path.isdir(path), "and the program that takes it finds the folder there")
        gnome = got.get("x-special/gnome-copied-files", b"")
        check(gnome == b"copy\n" + uris.strip().encode(), "the drag also offers the gnome list")

        # Copy of the row the drag started on, read by the other program.
        keys(env, win, (400, 420), "ctrl+c")
        time.sleep(1)
        got = peer_output(peer("clip-read", "x-special/gnome-copied-files", "text/uri-list",
                               "application/x-kde-cutselection"))
        url = "file://" + urllib.parse.quote(path)
        check(got.get("x-special/gnome-copied-files") == ("copy\n" + url).encode(),
              "Copy offers the gnome list (%r)" % got.get("x-special/gnome-copied-files"))
        check(got.get("text/uri-list") == (url + "\r\n").encode(),
              "and text/uri-list (%r)" % got.get("text/uri-list"))
        check(got.get("application/x-kde-cutselection") == b"0", "and the copy marker")

        # An entry that is not local (the last row, brought into view and selected with
        # End), dragged out: a path in the mount that the other program opens and reads,
        # which makes the window download the entry first.
        points = tavrel_mounts(runtime)
        check(len(points) == 1 and re.fullmatch(re.escape(runtime) + r"/tavrel-[0-9a-f]{16}/mnt",
                                                points[0] if points else ""),
              "the open mailbox is mounted under XDG_RUNTIME_DIR (%s)" % points)
        keys(env, win, (400, 130), "End")
        time.sleep(0.5)
        if screenshot:
            subprocess.run(["import", "-window", "root", screenshot + ".end.png"], env=env)
        target = peer("drop-target", "900", "450", "read")
        wait_window(env, "^dndtarget$", 10)
        time.sleep(0.5)
        drag(env, (400, LAST_ROW_Y), (1000, 550))
        got = peer_output(target, 60)
        uris = got.get("text/uri-list", b"").decode(errors="replace")
        path = urllib.parse.unquote(uris.strip()[len("file://"):]) if uris.startswith("file://") else ""
        check(bool(points) and path == os.path.join(points[0], MOUNTED),
              "an entry that is not local is dragged out as its path in the mount (%r)" % uris)
        check(got.get("read") == mounted,
              "the other program reads the stored file's bytes there (%d of %d bytes, error %r)"
              % (len(got.get("read", b"")), len(mounted), got.get("read-error")))

        # The drop notice of an entry that is not local, twice: one download, one copy.
        dest = os.path.join(tmp, "dest")
        os.makedirs(dest)
        log_start = os.path.getsize(S["DOVECOT_LOG"])
        # Both at once: the second comes while the first waits for its download.
        notices = [subprocess.Popen([TAVREL, "--drop", "*\\remote.bin", dest], env=env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                   for _ in range(2)]
        codes = [p.wait(timeout=30) for p in notices]
        check(codes == [0, 0], "Tavrel --drop hands the notices over (%s)" % codes)
        out = os.path.join(dest, "remote.bin")
        wait_until(lambda: os.path.exists(out) and os.path.getsize(out) == len(remote), 60)
        data = open(out, "rb").read() if os.path.exists(out) else b""
        check(data == remote, "the entry arrives at the destination byte for byte")

        # The stores of the paste and the drop are done before the window ends.
        wait_until(lambda: mails(S["MAILDIR1"]) >= stored + 2, 60)
        # Quit (File, Quit, Yes when asked), then look at the mailbox from the command line.
        xdo(env, "key", "--window", win, "alt+f")
        time.sleep(0.5)
        xdo(env, "key", "q")
        rc = None
        for _ in range(8):
            try:
                rc = tavrel.wait(timeout=3)
                break
            except subprocess.TimeoutExpired:
                question = wait_window(env, "^Warning$", 2)
                if question:
                    xdo(env, "mousemove", "--window", question[-1], "5", "5", "click", "1")
                    time.sleep(0.2)
                    xdo(env, "key", "y")
        check(rc == 0, "the window ends (status %s)" % rc)
        check(tavrel_mounts(runtime) == [] and not [d for d in os.listdir(runtime) if d.startswith("tavrel-")],
              "the mount and its folder are gone once the window has ended (%s)" % tavrel_mounts(runtime))
        wait_until(lambda: retrieved(S["DOVECOT_LOG"], log_start) >= 3, 10)
        n = retrieved(S["DOVECOT_LOG"], log_start)
        check(n == 3, "two notices of the same pair fetch the entry once (%d mails, 3 a download)" % n)
        listing = cli("ls", "Box", "-R").stdout
        pasted_into = [f for f in FOLDERS if "pasted ü.txt" in cli("ls", "Box", f).stdout]
        check(len(pasted_into) == 1, "the pasted file is stored in the selected folder (%s)" % pasted_into)
        into = [f for f in FOLDERS if "dragged #1.txt" in cli("ls", "Box", f).stdout]
        check(len(into) == 1, "the dragged file is stored in the folder it was dropped on (%s)" % into)
        check(not set(into) & set(pasted_into) and "pasted" not in listing.split("\n\n")[0],
              "each in its own folder, none in the current one")
        if failures:
            print(listing)

        # A window that ends without unmounting (killed) leaves a dead mount behind; the
        # next window of the same program folder takes it away as it starts.
        tavrel = subprocess.Popen([TAVREL], env=env, stderr=subprocess.DEVNULL)
        windows = wait_window(env, "^Tavrel$")
        if windows:
            time.sleep(1)
            xdo(env, "mousemove", "--window", windows[0], "40", "113", "click", "--repeat", "2", "1")
        wait_until(lambda: len(tavrel_mounts(runtime)) == 1, 30)
        points = tavrel_mounts(runtime)
        tavrel.kill()
        tavrel.wait()
        dead = False
        if points:
            try:
                os.statvfs(points[0])  # a stat may come from the kernel's cache
            except OSError as e:
                dead = e.errno == errno.ENOTCONN
        check(dead, "a killed window leaves a dead mount behind (%s)" % points)
        tavrel = subprocess.Popen([TAVREL], env=env, stderr=subprocess.DEVNULL)
        check(bool(wait_window(env, "^Tavrel$")), "the next window starts")
        wait_until(lambda: tavrel_mounts(runtime) == [], 10)
        check(tavrel_mounts(runtime) == [], "and takes the dead mount away (%s)" % tavrel_mounts(runtime))
    finally:
        for p in peers:
            if p.poll() is None:
                p.kill()
        if tavrel and tavrel.poll() is None:
            tavrel.kill()
            tavrel.wait()
        # A window that was killed leaves its mount behind: ours to take away.
        for point in tavrel_mounts(runtime):
            subprocess.run(["fusermount3", "-u", "-z", point], stderr=subprocess.DEVNULL)
        for p in peers:
            if p.poll() is None:
                p.kill()
        if tavrel and tavrel.poll() is None:
            tavrel.kill()
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(tmp, ignore_errors=True)
    print("%d passed, %d failed" % (checks[0] - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
