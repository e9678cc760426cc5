"""Small POP3 and IMAP4 clients for the mail benchmarks: the reference dialogues that
Tavrel's figures are compared with, and untimed helpers (warming the server's indexes,
finding message numbers). Plain sockets on loopback, standard library only.

Every timed function returns a dict: seconds, complete, fraction (see run_mail_bench.py).
With cap > 0 a loop stops after `cap` seconds and the time is extrapolated from the share
done.
"""
import re
import socket
import time

TIMEOUT = 120  # seconds for any one read


class LineConn:
    def __init__(self, host, port):
        self.sock = socket.create_connection((host, port), timeout=TIMEOUT)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buf = bytearray()
        self.pos = 0

    def send(self, data):
        self.sock.sendall(data)

    def _fill(self):
        if self.pos > 1 << 20:
            del self.buf[:self.pos]
            self.pos = 0
        chunk = self.sock.recv(1 << 18)
        if not chunk:
            raise ConnectionError("connection closed by the server")
        self.buf += chunk

    def readline(self):
        while True:
            i = self.buf.find(b"\n", self.pos)
            if i >= 0:
                line = bytes(self.buf[self.pos:i + 1])
                self.pos = i + 1
                return line.rstrip(b"\r\n")
            self._fill()

    def readexact(self, n):
        while len(self.buf) - self.pos < n:
            self._fill()
        data = bytes(self.buf[self.pos:self.pos + n])
        self.pos += n
        return data

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


def outcome(t0, done, total, cap_hit):
    seconds = time.monotonic() - t0
    fraction = 1.0 if total == 0 else done / total
    if cap_hit and fraction > 0:
        seconds /= fraction
    return {"seconds": seconds, "complete": not cap_hit, "fraction": fraction}


# ----------------------------------------------------------------------------- POP3

def pop3_ok(c, what):
    line = c.readline()
    if not line.startswith(b"+OK"):
        raise RuntimeError("POP3 %s: %r" % (what, line[:200]))
    return line


def pop3_login(host, port, user, password):
    c = LineConn(host, port)
    pop3_ok(c, "greeting")
    c.send(b"USER " + user.encode() + b"\r\n")
    pop3_ok(c, "USER")
    c.send(b"PASS " + password.encode() + b"\r\n")
    pop3_ok(c, "PASS")
    return c


def pop3_count(c):
    c.send(b"STAT\r\n")
    return int(pop3_ok(c, "STAT").split()[1])


def pop3_read_multiline(c):
    lines = []
    while True:
        line = c.readline()
        if line == b".":
            return lines
        lines.append(line[1:] if line.startswith(b"..") else line)


def subject_of(header_lines):
    """The Subject field of a header (unfolded), as text."""
    subject, inside = None, False
    for raw in header_lines:
        line = raw.decode("utf-8", "replace")
        if inside and line[:1] in (" ", "\t"):
            subject += line
            continue
        inside = False
        if subject is None and line[:8].lower() == "subject:":
            subject, inside = line[8:].strip(), True
    return subject or ""


def pop3_quit(c):
    c.send(b"QUIT\r\n")
    pop3_ok(c, "QUIT")
    c.close()


def pop3_top_serial(host, port, user, password, cap=0):
    """One connection; TOP n 0 for every mail, each sent after the previous reply."""
    t0 = time.monotonic()
    c = pop3_login(host, port, user, password)
    n = pop3_count(c)
    done, cap_hit = 0, False
    for i in range(1, n + 1):
        c.send(b"TOP %d 0\r\n" % i)
        pop3_ok(c, "TOP")
        pop3_read_multiline(c)
        done = i
        if cap and time.monotonic() - t0 >= cap and i < n:
            cap_hit = True
            break
    if cap_hit:
        c.close()
    else:
        pop3_quit(c)
    return outcome(t0, done, n, cap_hit)


def pop3_top_pipelined(host, port, user, password, window=100, collect=False):
    """One connection; TOP n 0 for every mail with up to `window` commands in flight.
    With collect=True the subjects by message number are returned too."""
    t0 = time.monotonic()
    c = pop3_login(host, port, user, password)
    n = pop3_count(c)
    subjects = {}
    sent = 0
    for i in range(1, n + 1):
        if sent < n and sent - (i - 1) <= window // 2:
            top = min(n, i - 1 + window)
            c.send(b"".join(b"TOP %d 0\r\n" % k for k in range(sent + 1, top + 1)))
            sent = top
        pop3_ok(c, "TOP")
        lines = pop3_read_multiline(c)
        if collect:
            subjects[i] = subject_of(lines)
    pop3_quit(c)
    r = outcome(t0, n, n, False)
    if collect:
        r["subjects"] = subjects
    return r


def pop3_retr_pipelined(host, port, user, password, numbers, window=100):
    """One connection; RETR of the given mails in order, up to `window` commands in flight."""
    t0 = time.monotonic()
    c = pop3_login(host, port, user, password)
    n = len(numbers)
    sent = 0
    for done in range(n):
        if sent < n and sent - done <= window // 2:
            top = min(n, done + window)
            c.send(b"".join(b"RETR %d\r\n" % k for k in numbers[sent:top]))
            sent = top
        pop3_ok(c, "RETR")
        pop3_read_multiline(c)
    pop3_quit(c)
    return outcome(t0, n, n, False)


def pop3_delete_matching(host, port, user, password, prefix, cap=0):
    """One connection; TOP one at a time over every mail, DELE of those whose subject
    starts with `prefix` (case-insensitive), QUIT (which makes the deletions final)."""
    t0 = time.monotonic()
    c = pop3_login(host, port, user, password)
    n = pop3_count(c)
    prefix = prefix.lower()
    matches, cap_hit, done = [], False, 0
    for i in range(1, n + 1):
        c.send(b"TOP %d 0\r\n" % i)
        pop3_ok(c, "TOP")
        if subject_of(pop3_read_multiline(c)).lower().startswith(prefix):
            matches.append(i)
        done = i
        if cap and time.monotonic() - t0 >= cap and i < n:
            cap_hit = True
            break
    if cap_hit:
        c.close()  # no QUIT: nothing is deleted
        return outcome(t0, done, n, True)
    for i in matches:
        c.send(b"DELE %d\r\n" % i)
        pop3_ok(c, "DELE")
    pop3_quit(c)
    r = outcome(t0, n, n, False)
    r["deleted"] = len(matches)
    return r


# ----------------------------------------------------------------------------- IMAP4

class Imap:
    def __init__(self, host, port, user, password):
        self.c = LineConn(host, port)
        self.tagno = 0
        self.c.readline()  # greeting
        self.command('LOGIN "%s" "%s"' % (user, password))
        self.exists = 0

    def command(self, text, on_untagged=None):
        """Sends one command and reads to its tagged reply; literals are read whole and
        handed to on_untagged(line, [literals])."""
        self.tagno += 1
        tag = b"R%d" % self.tagno
        self.c.send(tag + b" " + text.encode() + b"\r\n")
        while True:
            line = self.c.readline()
            literals = []
            full = line
            while True:
                m = re.search(rb"\{(\d+)\}$", line)
                if not m:
                    break
                literals.append(self.c.readexact(int(m.group(1))))
                line = self.c.readline()
                full += b" " + line
            if full.startswith(tag + b" "):
                if not full[len(tag) + 1:].startswith(b"OK"):
                    raise RuntimeError("IMAP %s: %r" % (text.split()[0], full[:200]))
                return
            m = re.match(rb"\* (\d+) EXISTS", full)
            if m:
                self.exists = int(m.group(1))
            if on_untagged:
                on_untagged(full, literals)

    def select(self):
        self.command("SELECT INBOX")
        return self.exists

    def subjects(self):
        """Sequence number -> subject of every mail, with one FETCH."""
        out = {}

        def take(line, literals):
            m = re.match(rb"\* (\d+) FETCH", line)
            if m and literals:
                out[int(m.group(1))] = subject_of(literals[0].split(b"\r\n"))

        if self.exists:
            self.command("FETCH 1:* (BODY.PEEK[HEADER.FIELDS (SUBJECT)])", take)
        return out

    def logout(self):
        try:
            self.command("LOGOUT")
        except (RuntimeError, ConnectionError, OSError):
            pass
        self.c.close()


def imap_subjects(host, port, user, password):
    t0 = time.monotonic()
    m = Imap(host, port, user, password)
    m.select()
    subjects = m.subjects()
    m.logout()
    r = outcome(t0, 1, 1, False)
    r["subjects"] = subjects
    return r


def imap_fetch_set(host, port, user, password, numbers):
    """One connection; SELECT and one FETCH of all the given mails (RFC822)."""
    t0 = time.monotonic()
    m = Imap(host, port, user, password)
    m.select()
    got = []
    if numbers:
        m.command("FETCH %s (RFC822)" % ",".join(str(k) for k in numbers),
                  lambda line, literals: got.append(len(literals)))
    m.logout()
    r = outcome(t0, 1, 1, False)
    r["fetched"] = len(got)
    return r


def imap_delete_matching(host, port, user, password, prefix):
    """One connection; one FETCH of every subject, one STORE of the matching mails
    (+FLAGS.SILENT \\Deleted), EXPUNGE."""
    t0 = time.monotonic()
    m = Imap(host, port, user, password)
    m.select()
    prefix = prefix.lower()
    matches = sorted(k for k, s in m.subjects().items() if s.lower().startswith(prefix))
    if matches:
        m.command("STORE %s +FLAGS.SILENT (\\Deleted)" % ",".join(map(str, matches)))
        m.command("EXPUNGE")
    m.logout()
    r = outcome(t0, 1, 1, False)
    r["deleted"] = len(matches)
    return r
