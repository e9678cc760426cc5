#!/usr/bin/env python3
"""The real Tavrel as a process under Xvfb: the window appears, a second start hands over
and ends with 0 without a second window, tavrel-cli refuses the folder while the window
works on it, and a quit confirmed through the menus ends the program with the layout
written and the cache folder gone. The window started while the folder is locked says so
in an error box and ends."""
import fcntl
import hashlib
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

BUILD = sys.argv[1]
TAVREL = os.path.join(BUILD, "Tavrel")
CLI = os.path.join(BUILD, "tavrel-cli")
failures = []
checks = [0]


def check(cond, what):
    checks[0] += 1
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)


def start_xvfb():
    # -noreset: the server would reset when its last client leaves, and a program started
    # right after that could not connect.
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


def main():
    xvfb, display = start_xvfb()
    tmp = tempfile.mkdtemp(prefix="tavrel-window-")
    home = os.path.join(tmp, "home")
    runtime = os.path.join(tmp, "runtime")
    os.makedirs(home)
    os.makedirs(runtime, mode=0o700)
    env = dict(os.environ, DISPLAY=display, TAVREL_HOME=home, XDG_RUNTIME_DIR=runtime,
               TAVREL_REGISTRY=os.path.join(tmp, "registry.ini"),
               XDG_CONFIG_HOME=os.path.join(tmp, "config"), XDG_DATA_HOME=os.path.join(tmp, "data"))
    env.pop("QT_QPA_PLATFORM", None)
    env.pop("WAYLAND_DISPLAY", None)
    first = None
    try:
        # A socket file left by a crashed run: the new first instance takes its place.
        digest = hashlib.sha1(home.encode()).hexdigest()[:16]
        stale = os.path.join(runtime, "tavrel-%d-%s" % (os.getuid(), digest))
        dead = socket.socket(socket.AF_UNIX)
        dead.bind(stale)
        dead.close()
        first = subprocess.Popen([TAVREL], env=env, stderr=subprocess.DEVNULL)
        windows = wait_window(env, "^Tavrel$")
        check(len(windows) == 1, "the window appears with the title Tavrel")
        check(os.path.isdir(os.path.join(home, "MailRoot")), "the cache folder exists while it runs")

        cli = subprocess.run([CLI, "boxes"], env=env, capture_output=True, text=True, timeout=30)
        check(cli.returncode == 2 and "another Tavrel window or tavrel-cli" in cli.stderr,
              "tavrel-cli on the same folder exits 2 and says why (%d: %s)"
              % (cli.returncode, cli.stderr.strip()))

        t0 = time.time()
        second = subprocess.run([TAVREL], env=env, capture_output=True, timeout=30)
        # Quickly: its request was taken at once, so the first instance listens where the
        # crashed run had left its socket (an unanswered start retries for 3 s).
        check(second.returncode == 0 and time.time() - t0 < 2.5,
              "a second start hands over and exits 0 quickly (%d, %.1f s)"
              % (second.returncode, time.time() - t0))
        time.sleep(0.5)
        check(len(wait_window(env, "^Tavrel$", 2)) == 1, "no second window appears")
        check(first.poll() is None, "the first instance still runs")

        # Quit through the menus: File, Quit, then Yes in the question.
        win = windows[0]
        xdo(env, "windowfocus", "--sync", win)
        xdo(env, "key", "--window", win, "alt+f")
        time.sleep(0.5)
        xdo(env, "key", "q")
        question = wait_window(env, "^Warning$", 10)
        check(bool(question), "Quit asks its question")
        rc = None
        for _ in range(5 if question else 0):
            # The box takes keys once it is mapped and focused; a key sent too early is lost.
            # Without a window manager a click into the box gives it the keyboard.
            time.sleep(0.5)
            question = wait_window(env, "^Warning$", 5) or question
            xdo(env, "mousemove", "--window", question[-1], "5", "5", "click", "1")
            time.sleep(0.2)
            xdo(env, "key", "y")
            try:
                rc = first.wait(timeout=4)
                break
            except subprocess.TimeoutExpired:
                pass
        check(rc == 0, "the program ends after Yes (status %s)" % rc)
        ini = os.path.join(home, "Tavrel.ini")
        keys = []
        if os.path.exists(ini):
            for line in open(ini, encoding="utf-8"):
                line = line.strip()
                if line.startswith("["):
                    keys.append(line)
                elif "=" in line:
                    keys.append(line.split("=", 1)[0])
        check(keys[:8] == ["[General]", "Left", "Top", "Width", "Height", "State", "LeftBar",
                           "AddrBar"], "Tavrel.ini holds the layout keys in order: %s" % keys[:8])
        check("[lvFiles]" in keys and "[lvSearch]" in keys, "both lists' sections are written")
        check(not os.path.exists(os.path.join(home, "MailRoot")), "no MailRoot is left")

        # The folder held by another program: an error box, then the end.
        with open(os.path.join(home, ".tavrel.lock"), "a+") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            blocked = subprocess.Popen([TAVREL], env=env, stderr=subprocess.PIPE, text=True)
            box = wait_window(env, "^Tavrel$", 20)
            check(bool(box), "a locked program folder shows an error box")
            if box:
                time.sleep(0.5)
                xdo(env, "mousemove", "--window", box[-1], "5", "5", "click", "1")
                time.sleep(0.2)
                xdo(env, "key", "Return")
            try:
                rc = blocked.wait(timeout=20)
            except subprocess.TimeoutExpired:
                blocked.kill()
                rc = None
            check(rc == 1, "and the program ends (status %s)" % rc)
            if rc != 1:
                print(blocked.stderr.read()[-2000:])
    finally:
        if first and first.poll() is None:
            first.kill()
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(tmp, ignore_errors=True)
    print("%d passed, %d failed" % (checks[0] - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
