#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

The seeds are the inputs of the tests (subjects, replies, mails, Data.bin records, Tavrel.ini
lines) put together as the targets read them: a protocol seed is the server's whole side
of the session the target runs, in the order of the client's commands. Run it again after
a target's dialogue changes; the fuzzers then start from sessions that get all the way
through.
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def crlf(*lines):
    return "".join(l + "\r\n" for l in lines)


# ---------------------------------------------------------------- mails and subjects

BOUNDARY = "abcdefghijklmnop=_qrstuvwxyz012345"
PART_SUBJECT = "ExFile:\\Docs\\report.doc<1/1>|Size:58|Hash:7091|Attri:32|Time:39512.5;39500.25"
PART_HEADER = crlf(
    'From: "Tavrel" <me@example.com>',
    "Subject: " + PART_SUBJECT,
    'To: "Tavrel" <me@example.com>',
    'Content-Type: multipart/mixed; boundary="' + BOUNDARY + '"',
    "MIME-Version: 1.0",
    "Date: Wed, 5 Mar 2008 14:03:09 +0100",
)
PART_MAIL = PART_HEADER + crlf(
    "",
    "This is a multi-part message in MIME format",
    "",
    "--" + BOUNDARY,
    "Content-Type: text/plain",
    "Content-Transfer-Encoding: 7bit",
    "",
    "IMPORTANT: Please don't delete this mail manually",
    "This Attach Size:58.",
    "",
    "--" + BOUNDARY,
    "Content-Type: Stream;",
    '        name="report.doc"',
    "Content-Transfer-Encoding: base64",
    "Content-Disposition: attachment;",
    '        filename="report.doc"',
    "",
    "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4",
    "OQ==",
    "",
    "--" + BOUNDARY + "--",
    "",
)
FOLDER_MAIL = crlf(
    'From: "Tavrel" <me@example.com>',
    "Subject: ExFile:\\Docs\\|Time:39512.5",
    'To: "Tavrel" <me@example.com>',
    "Date: Wed, 5 Mar 2008 14:03:09 +0100",
    "",
    "IMPORTANT: Please don't delete this mail manually",
)


def multipart(boundary, parts, close=True):
    s = ("From: a@b\r\nSubject: t\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\""
         + boundary + "\"\r\n\r\nThis is a multi-part message in MIME format\r\n\r\n")
    for p in parts:
        s += "--" + boundary + "\r\n" + p
    if close:
        s += "--" + boundary + "--\r\n\r\n"
    return s


NESTED = multipart("outer", [
    "Content-Type: multipart/alternative; boundary=\"inner\"\r\n\r\ninner preamble\r\n"
    "--inner\r\nContent-Type: text/plain; charset=\"utf-8\"\r\n\r\nplain text\r\n\r\n"
    "--inner\r\nContent-Type: text/html\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
    "<p>h=C3=A9</p>\r\n--inner--\r\nepilogue\r\n",
    "Content-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\nYWJj\r\n",
    "Content-Type: text/plain\r\nContent-Disposition: attachment\r\n\r\nnote\r\n",
    "Content-Type: text/plain\r\nContent-Disposition: inline; filename*=UTF-8''%C3%A4.txt\r\n\r\nx\r\n",
])
MAILS = {
    "part_mail": PART_MAIL,
    "folder_mail": FOLDER_MAIL,
    "nested": NESTED,
    "qp_attachment": multipart("b=_1", [
        "Content-Type: application/x-test; name=q.txt\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
        "caf=C3=A9 =3D soft=\r\nbreak   \r\nlast=\r\n"]),
    "binary_8bit": multipart("b=_1", [
        "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: 8bit\r\n\r\n\xff\xfe\r\n\r\nx\r\n"]),
    "base64_garbage": multipart("b=_1", [
        "Content-Type: a/b\r\nContent-Transfer-Encoding: BASE64\r\n\r\nY W*J!j\r\n  ZG Vm\r\n"]),
    "unclosed": multipart("b", ["Content-Type: a/b; name=x\r\nContent-Transfer-Encoding: base64\r\n\r\nYWJj\r\nZGVm\r\n"],
                          close=False),
    "uuencode": crlf("Subject: files", "", "Here they are:", "begin 644 abc.txt", "#86)C", "`", "end",
                     "between", "begin 600 x.bin", "1MK7X", "+", "end", "bye"),
    "plain_qp": "Subject: x\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\na=3Db=\r\nc\r\nd\r\n",
    "mime_text_base64": ("MIME-Version: 1.0\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                         "bGluZSAxDQpsaW5lIDI=\r\n"),
    "single_pdf": ("MIME-Version: 1.0\r\nContent-Type: application/pdf; name=\"d.pdf\"\r\n"
                   "Content-Transfer-Encoding: base64\r\n\r\nJVBERg==\r\n"),
    "bare_lf": "Subject: x\nFrom: a@b\n\nline 1\n\nline 3\n",
}

HEADERS = {
    "part_header": PART_HEADER,
    "folder_header": FOLDER_MAIL.split("\r\n\r\n")[0] + "\r\n",
    "encoded_words": crlf(
        "Subject: =?ISO-8859-1?Q?ExFile:\\Caf=E9?=",
        " =?ISO-8859-1?Q?\\x.txt?=",
        "From: =?windows-1252?Q?J=F6rg_=80?= <j@x.de>, \"Plain, Name\" <p@x.de>, bare@x.de (Comment)",
        "To: =?UTF-8?B?w6TDtsO8?= <u@x.de>",
        "Cc: =?KOI8-R?B?5M/N?= <k@x.de>"),
    "folded_fields": crlf(
        "Return-Path: <x@y>", "subject: ExFile:\\a.txt<1/1>|Size:1", "MIME-Version: 1.0",
        "Content-Type: multipart/mixed;", "\tboundary=\"zz=_y\"", "Date: Wed, 5 Mar 2008 14:03:09 +0100",
        "X-Priority: 1 (Highest)"),
    "params_2231": crlf(
        "Content-Type: application/octet-stream; name*0*=UTF-8''%C3%A4; name*1=\".txt\"",
        "Content-Disposition: attachment; filename*=iso-8859-1'de'caf%E9.doc",
        "Date: 5 Mar 08 14:03 EST"),
    "malformed_words": "Subject: =?UTF-8?Q?a=ZZ?= =?UTF-8?B?!!?= =?UTF-8?X?a?= =?broken\r\n",
}

SUBJECTS = {
    "part": PART_SUBJECT,
    "part_utf8": "ExFile:\\a b\\\xc3\xa4.txt<1/2>|Size:5|Hash:7091|Attri:32|Time:39814.5;39000,25",
    "folder": "  ExFile:\\Docs\\|Time:39814.5\r\n",
    "lower_case": "exfile:\\a.txt<1/1>|size:5|hash:1|attri:32|time:1;2",
    "big_size": "ExFile:\\big<1/2>|Size:3000000000|Hash:1|Attri:32|Time:1;2",
    "wide_hash": "ExFile:\\h<1/1>|Size:1|Hash:4294967297|Attri:0|Time:1;2",
    "empty_file": "ExFile:\\e<1/1>|Size:0|Hash:0|Attri:32|Time:1;2",
    "foreign": "Re: hello",
    "climbs_out": "ExFile:\\..\\x<1/1>|Size:5|Hash:1|Attri:32|Time:1;2",
    "slash": "ExFile:\\a/b<1/1>|Size:5|Hash:1|Attri:32|Time:1;2",
    "too_many_parts": "ExFile:\\a.txt<1/2000000>|Size:4000000000|Hash:1|Attri:32|Time:1;2",
    "no_fields": "ExFile:\\a.txt<1/1>",
    "folder_no_time": "ExFile:\\a\\|Date:1",
}

# ---------------------------------------------------------------- POP3


def dot_stuffed(text):
    out = ""
    for line in text.split("\r\n")[:-1] if text.endswith("\r\n") else text.split("\r\n"):
        out += ("." + line if line.startswith(".") else line) + "\r\n"
    return out + ".\r\n"


HEADER_2 = PART_HEADER.replace("<1/1>|Size:58", "<1/2>|Size:116")
MAIL_2 = PART_MAIL.replace("<1/1>|Size:58", "<1/2>|Size:116")


def pop3_session(capa, count=2, refusals=False):
    s = "+OK Dovecot (Debian) ready. <1896.697170952@dbc.mtview.ca.us>\r\n"
    s += ("+OK\r\n" + crlf(*capa) + ".\r\n") if capa else "-ERR Unknown command.\r\n"
    s += "+OK\r\n+OK Logged in.\r\n"
    s += "+OK %d 1250\r\n" % count
    if refusals:
        s += "-ERR Unknown command: UIDL\r\n"
        s += "+OK 2 messages:\r\n1 600\r\n2 x\r\n\r\n3 9\r\n.\r\n"
        s += "+OK\r\n" + dot_stuffed(PART_HEADER) + "-ERR Message is gone\r\n"
        s += "-ERR no such message\r\n"
        s += "+OK\r\n" + dot_stuffed("Subject: short\r\n") + "+OK\r\n" + dot_stuffed(".dotted\r\n\r\nbody")
    else:
        s += "+OK\r\n1 000000015b3b2c4d\r\n2 000000025b3b2c4d\r\n.\r\n"
        s += "+OK 2 messages:\r\n1 600\r\n2 634\r\n.\r\n"
        s += "+OK\r\n" + dot_stuffed(PART_HEADER) + "+OK\r\n" + dot_stuffed(HEADER_2)
        s += "+OK 600 octets\r\n" + dot_stuffed(PART_MAIL)
        s += "+OK 600 octets\r\n" + dot_stuffed(PART_MAIL) + "+OK 634 octets\r\n" + dot_stuffed(MAIL_2)
    s += "+OK Marked to be deleted.\r\n+OK Marked to be deleted.\r\n"
    s += "+OK\r\n" + dot_stuffed(PART_HEADER + "\r\n")
    s += "+OK Logging out, messages deleted.\r\n"
    return s


CAPA = ["CAPA", "TOP", "UIDL", "RESP-CODES", "AUTH-RESP-CODE", "USER", "SASL PLAIN"]
POP3 = {
    "session": pop3_session(CAPA),
    "session_pipelining": pop3_session(CAPA + ["PIPELINING"]),
    "capa_refused_and_odd_replies": pop3_session(None, refusals=True),
    "login_refused": "+OK ready\r\n-ERR\r\n+OK\r\n-ERR [AUTH] Authentication failed.\r\n",
    "no_status": "HELLO there\r\n",
}

# ---------------------------------------------------------------- IMAP4


def literal(text):
    return "{%d}\r\n%s" % (len(text.encode("latin-1")), text)


def imap_session(greeting="* OK [CAPABILITY IMAP4rev1 SASL-IR LOGIN-REFERRALS ID ENABLE IDLE LITERAL+ AUTH=PLAIN] "
                 "Dovecot (Debian) ready.", refusals=False):
    tags = iter(range(1, 100))
    t = lambda: "C%d" % next(tags)
    s = greeting + "\r\n"
    preauth = "PREAUTH" in greeting
    if not preauth:
        s += t() + " OK [CAPABILITY IMAP4rev1 IDLE UIDPLUS] Logged in\r\n"
        s += "* CAPABILITY IMAP4rev1 IDLE UIDPLUS\r\n" + t() + " OK Capability completed.\r\n"
    s += "* CAPABILITY IMAP4rev1 IDLE UIDPLUS\r\n" + t() + " OK Capability completed.\r\n"
    s += ("* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n"
          "* OK [PERMANENTFLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft \\*)] Flags permitted.\r\n"
          "* 2 EXISTS\r\n* 0 RECENT\r\n* OK [UNSEEN 1] First unseen.\r\n"
          "* OK [UIDVALIDITY 1700000000] UIDs valid\r\n* OK [UIDNEXT 3] Predicted next UID\r\n"
          + t() + " OK [READ-WRITE] Select completed (0.001 + 0.000 secs).\r\n")
    if refusals:
        s += "* 1 FETCH (UID 11)\r\n* 2 FETCH (FLAGS (\\Seen))\r\n" + t() + " NO not now\r\n"
        s += "* 1 FETCH (RFC822.SIZE 600)\r\n" + t() + " OK Fetch completed.\r\n"
        s += t() + " BAD Error in IMAP command\r\n"
        s += "* 2 FETCH (RFC822.HEADER " + literal(HEADER_2) + ")\r\n" + t() + " OK\r\n"
        s += t() + " NO Message is gone\r\n"
        s += "* 1 FETCH (RFC822.HEADER NIL)\r\n" + t() + " OK\r\n"
        s += "* 1 FETCH (RFC822 {0}\r\n)\r\n" + t() + " OK\r\n"
        a, b = t(), t()
        s += "* 2 FETCH (RFC822 " + literal(MAIL_2) + ")\r\n" + b + " OK\r\n* 1 FETCH (RFC822 " + literal(PART_MAIL) \
            + ")\r\n" + a + " OK\r\n"
        s += t() + " NO [READ-ONLY] Mailbox is read-only.\r\n"
        s += "* BYE Disconnected for inactivity.\r\n"
        return s
    s += "* 1 FETCH (UID 1)\r\n* 2 FETCH (UID 2)\r\n" + t() + " OK Fetch completed.\r\n"
    s += "* 1 FETCH (RFC822.SIZE 600)\r\n* 2 FETCH (RFC822.SIZE 634)\r\n" + t() + " OK Fetch completed.\r\n"
    s += ("* 1 FETCH (UID 1 RFC822.HEADER " + literal(PART_HEADER + "\r\n") + ")\r\n"
          "* 2 FETCH (UID 2 RFC822.HEADER " + literal(HEADER_2 + "\r\n") + ")\r\n" + t() + " OK Fetch completed.\r\n")
    s += "* 1 FETCH (RFC822.HEADER " + literal(PART_HEADER + "\r\n") + ")\r\n" + t() + " OK Fetch completed.\r\n"
    s += "* 1 FETCH (RFC822 " + literal(PART_MAIL) + " FLAGS (\\Seen))\r\n" + t() + " OK Fetch completed.\r\n"
    a, b = t(), t()
    s += ("* 1 FETCH (RFC822 " + literal(PART_MAIL) + ")\r\n" + a + " OK Fetch completed.\r\n"
          "* 2 FETCH (RFC822 " + literal(MAIL_2) + ")\r\n" + b + " OK Fetch completed.\r\n")
    s += t() + " OK Store completed.\r\n"
    s += "* 2 EXPUNGE\r\n* 1 EXPUNGE\r\n" + t() + " OK Expunge completed.\r\n"
    s += "* BYE Logging out\r\n" + t() + " OK Logout completed.\r\n"
    return s


IMAP4 = {
    "session": imap_session(),
    "session_preauth": imap_session("* PREAUTH [CAPABILITY IMAP4rev1] welcome"),
    "refusals": imap_session(refusals=True),
    "login_refused": "* OK ready\r\nC1 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n* BYE\r\nC2 OK\r\n",
    "bye_greeting": "* BYE Too many connections\r\n",
}

# ---------------------------------------------------------------- SMTP

EHLO = crlf("250-localhost", "250-PIPELINING", "250-SIZE 10240000", "250-VRFY", "250-ETRN",
            "250-AUTH PLAIN LOGIN", "250-AUTH=PLAIN LOGIN", "250-ENHANCEDSTATUSCODES", "250-8BITMIME",
            "250-DSN", "250 SMTPUTF8")
MAIL_OK = crlf("250 2.0.0 Ok", "250 2.1.0 Ok", "250 2.1.5 Ok", "354 End data with <CR><LF>.<CR><LF>",
               "250 2.0.0 Ok: queued as 4F1A2B3C")
SMTP = {
    "session": ("220 localhost ESMTP Postfix (Debian/GNU)\r\n" + EHLO
                + crlf("334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6", "235 2.7.0 Authentication successful")
                + MAIL_OK + MAIL_OK + "221 2.0.0 Bye\r\n"),
    "helo_no_auth": ("220 fake ESMTP\r\n500 5.5.1 unknown command\r\n250 fake\r\n" + MAIL_OK
                     + crlf("250 Ok", "250 Ok", "550 5.1.1 <user1@localhost>: Recipient address rejected",
                            "250 Ok") + "221 Bye\r\n"),
    "refusals": ("220 fake ESMTP\r\n" + EHLO + "535 5.7.8 Error: authentication failed\r\n"
                 + crlf("250 Ok", "250 Ok", "250 Ok", "554 5.5.1 Error: no valid recipients", "250 Ok")
                 + crlf("250 Ok", "250 Ok", "250 Ok", "354 go ahead", "552-5.3.4 Message size", "552 5.3.4 exceeds limit",
                        "250 Ok")),
    "bad_greeting": "554 5.7.1 go away\r\n221 bye\r\n",
}

# ---------------------------------------------------------------- Data.bin

MAGIC = "{DC9B31A2-A7CE-46A1-B472-B83BEA25F7B2}"


def item(s):
    if isinstance(s, str):
        s = s.encode("latin-1")
    out = struct.pack("<I", len(s))
    prev = len(s) & 0xFF
    for c in s:
        out += bytes([c ^ prev])
        prev = c
    return out


def options(password="", flags=(0, 0, 1, 0)):
    login, required, tray, minimize = flags
    return item("10") + item(str(login)) + item(password) + item(str(required)) + item(str(tray)) + item(str(minimize))


def mailbox(alias, smtp="smtp.example.com", port="25", created="39814.5", capacity="1073741824",
            attach="10485760"):
    return (item(smtp) + item("yourname@example.com") + item(port) + item("0") + item("1") + item("pop.example.com")
            + item("110") + item("0") + item("Your Name") + item("pa ss\x01") + item(alias) + item(capacity)
            + item(attach) + item(created))


def data_bin(version="10", boxes=(), count=None, opts=None):
    out = item(MAGIC) + item(version) + (opts if opts is not None else options()) + item("filler \x01\xfe")
    out += item(str(len(boxes) if count is None else count))
    for b in boxes:
        out += b
    return out


DATA_BIN = {
    "empty": data_bin(),
    "two_boxes": data_bin(boxes=[
        mailbox("W\xc3\xb6rk", smtp="smtp.x", port="465", capacity="4294967295", attach="0"),
        mailbox("second", created="45000,25")], opts=options("secret", (0, 1, 0, 1))),
    "version_9": data_bin("9", [mailbox("old")]),
    "newer_version": data_bin("11", [mailbox("new")]),
    "damaged_record": data_bin(boxes=[mailbox("good")], count=2) + item("smtp") + item("a@b") + item("not a port"),
    "unsafe_aliases": data_bin(boxes=[mailbox(".."), mailbox("a/b"), mailbox(""), mailbox("x\x01")]),
    "short": item(MAGIC) + item("10")[:3],
}

# ---------------------------------------------------------------- Tavrel.ini

INI = {
    "test_file": "; comment\n[IMAP]\nDomain=GMAIL.COM\nPort = 993\n[TLS]\nVerifyPeer=0\nbroken line\n",
    "full": ("[IMAP]\r\nDomain=GMAIL.COM\r\nHost=imap.gmail.com\r\nPort=993\r\n[TLS]\r\nVerifyPeer=1\r\nCaFile=\r\n"
             "[General]\r\nLeft=10\r\nTop=20\r\nWidth=800\r\nHeight=600\r\nState=2\r\nLeftBar=200\r\nAddrBar=1\r\n"
             "LastSearch=report\r\n[MsgBox]\r\nConfirmDelete=1\r\n[FileList]\r\n0=200\r\nStyle=3\r\nSortASC=1\r\n"
             "SortCol=0\r\n"),
    "odd_numbers": "[imap]\nport=0x3E1\n[IMAP]\nPORT=99999999999\n[tls]\nverifypeer= 07\n[]\n=empty key\n#x=1\n",
}


def write(target, seeds):
    d = os.path.join(CORPUS, target)
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(d)
    for name, data in seeds.items():
        if isinstance(data, str):
            data = data.encode("latin-1")  # the strings above spell bytes (UTF-8 as \xc3\xa4)
        with open(os.path.join(d, name), "wb") as f:
            f.write(data)


def main():
    write("fuzz_stored_subject", SUBJECTS)
    write("fuzz_mime_message", MAILS)
    write("fuzz_mime_header", HEADERS)
    write("fuzz_pop3", POP3)
    write("fuzz_imap4", IMAP4)
    write("fuzz_smtp", SMTP)
    write("fuzz_data_bin", DATA_BIN)
    write("fuzz_ini", INI)


if __name__ == "__main__":
    main()
