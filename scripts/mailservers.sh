#!/usr/bin/env bash
# Local mail servers for the tests, the benchmarks and the demo.
#
#   mailservers.sh start  DIR        (re)start the servers, everything kept inside DIR
#   mailservers.sh stop   DIR        stop them and remove DIR/servers.env (safe to call
#                                    twice, or when never started; logs stay in DIR/log)
#   mailservers.sh status DIR        exit 0 when both daemons run, 3 otherwise
#   mailservers.sh clear  DIR USER   empty USER's inbox (USER = user1, user2, or its address)
#
# What runs, all on 127.0.0.1 and on free ports picked at each start:
#   Dovecot  POP3 and IMAP4, plain and implicit TLS; LMTP and the SASL auth socket on
#            unix sockets. LOGIN/USER-PASS are allowed without TLS.
#   Postfix  SMTP, plain (STARTTLS offered) and implicit TLS (wrapper mode). AUTH LOGIN
#            and PLAIN are offered on both, checked by Dovecot's auth socket. Mail for
#            the domain tavrel.test is delivered through Dovecot LMTP into the Maildirs
#            that POP3 and IMAP4 read. 127.0.0.1 may send without AUTH. Recipients outside
#            tavrel.test are refused at RCPT, with or without AUTH (nothing leaves the
#            machine). Message size limit 300 MB.
# A fresh local CA and a server certificate (CN localhost, subjectAltName DNS:localhost and
# IP:127.0.0.1) are made at each start; TLS clients verify against CA_FILE.
# Every start begins with empty mailboxes and an empty queue.
#
# DIR/servers.env, the file the tests read (TAVREL_MAILSERVERS names it):
#   One KEY=VALUE per line, no blanks around "=". Lines starting with "#" are comments.
#   A VALUE made only of the characters A-Z a-z 0-9 @ . _ / : + - is written bare; any
#   other VALUE is written in single quotes ('secret pass'). Values never hold a single
#   quote or a newline, so the file can be sourced by bash and read by a simple parser
#   that strips one pair of surrounding quotes. Keys:
#     HOST                 127.0.0.1
#     SMTP_PORT SMTPS_PORT POP3_PORT POP3S_PORT IMAP_PORT IMAPS_PORT
#     CA_FILE              PEM of the test CA (verify host name 127.0.0.1 or localhost)
#     SERVER_CERT SERVER_KEY        the servers' certificate and key (signed by the CA), for
#                                   scripted fake servers that need a valid certificate
#     UNTRUSTED_CERT UNTRUSTED_KEY  a self-signed certificate for localhost/127.0.0.1 that
#                                   CA_FILE does not vouch for (verification must fail)
#     DOMAIN               tavrel.test
#     USER1 PASS1 ADDR1 MAILDIR1    first account: login name, password, address, Maildir
#     USER2 PASS2 ADDR2 MAILDIR2    second account; PASS2 holds a blank
#     DOVECOT_LOG POSTFIX_LOG       log files, for when something fails
#     POSTFIX_QUEUE                 Postfix's queue folder: mails accepted, not yet delivered
#   Logins accept the bare name (user1) or the address (user1@tavrel.test).
#
# Emptying an inbox: "clear DIR USER", or from C++ ClearMailbox(MAILDIRn) (tests/support).
# Both delete the message files in the Maildir's new/ and cur/ while Dovecot runs; Dovecot
# notices at its next sync. Do it while no POP3/IMAP session of that user is open.
# Delivery is asynchronous: wait for a mail by polling the Maildir, never by a fixed sleep.
#
# Running one test binary by hand:
#   bash scripts/mailservers.sh start /tmp/ms
#   TAVREL_MAILSERVERS=/tmp/ms/servers.env ./build/tests/mailproto/mailproto_tests
#   bash scripts/mailservers.sh stop /tmp/ms
# CTest does the same through the fixture "mailservers" (DIR = BUILD/mailservers).
#
# Needs root: Postfix's master runs as root, Dovecot switches to the mail user "mail"
# (Dovecot refuses uid 0 for mail users), and the Maildirs belong to it. Touches nothing
# outside DIR: no system configuration, no system service. Both daemons are stopped by the
# pid in their own pid files (Dovecot: base_dir/master.pid; Postfix: queue/pid/master.pid).
set -euo pipefail

DOMAIN=tavrel.test
USER1=user1 PASS1=Tavrel-pass1
USER2=user2 PASS2='secret pass'

die() { echo "mailservers: $*" >&2; exit 1; }

usage() {
  echo "usage: $0 start|stop|status DIR   or   $0 clear DIR USER" >&2
  exit 2
}

[ $# -ge 2 ] || usage
cmd=$1
if [ "$cmd" = start ]; then
  mkdir -p "$2" || die "cannot create $2"
elif [ ! -d "$2" ]; then
  case $cmd in
    stop) exit 0 ;;
    status) echo "not started: no directory $2"; exit 3 ;;
    *) die "no directory $2" ;;
  esac
fi
DIR=$(cd "$2" && pwd -P)
case $DIR in *[[:space:]]*) die "DIR must not contain blanks (Postfix's paths): $DIR" ;; esac

# Unix socket paths are limited to 107 bytes. Dovecot's base_dir and Postfix's queue
# directory hold sockets (Postfix's logging client names queue/public/postlog by its full
# path), so a deep DIR gets them in a short folder under /tmp instead (removed by stop).
SHORT=$DIR
if [ ${#DIR} -gt 70 ]; then
  SHORT=/tmp/tavrel-ms-$(printf '%s' "$DIR" | md5sum | cut -c1-12)
fi
RUN=$SHORT/run
QUEUE=$SHORT/postfix/queue
DOVECOT_PID=$RUN/master.pid
POSTFIX_PID=$QUEUE/pid/master.pid
ENV_FILE=$DIR/servers.env
DAEMON_DIR=$(postconf -d -h daemon_directory 2>/dev/null || echo /usr/lib/postfix/sbin)
# The command lines the masters are started with (stop finds them by these when a pid
# file is gone).
DOVECOT_CMD="$(command -v dovecot || echo /usr/sbin/dovecot) -c $DIR/dovecot/dovecot.conf"
POSTFIX_CMD="$DAEMON_DIR/master -c $DIR/postfix -w"

# A process that has exited but is not reaped yet (a zombie) counts as gone: the daemons
# are orphans once started, and the reaper of orphans may take its time.
alive() {
  local state
  state=$(sed -n 's/^[0-9]* (.*) \([A-Za-z]\).*/\1/p' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

# Pid of one of our masters: from its pid file when that process is alive and runs the
# expected program; else (pid file lost) the live process started with exactly our
# configuration path.
live_pid() {
  local file=$1 prog=$2 args=$3 pid
  if [ -r "$file" ]; then
    pid=$(head -n1 "$file" | tr -dc 0-9)
    if [ -n "$pid" ] && alive "$pid" &&
       [[ $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) == *"$prog"* ]]; then
      echo "$pid"
      return 0
    fi
  fi
  pid=$(ps -e -o pid=,stat=,args= | awk -v a="$args" '
    { pid = $1; st = $2; $1 = ""; $2 = ""; sub(/^ +/, "") }
    $0 == a && st !~ /^Z/ { print pid; exit }')
  [ -n "$pid" ] && echo "$pid"
}

# Ends the daemons by their pids: TERM (each master then ends its children), KILL after
# 5 s. Both are stopped at once: Dovecot's master alone takes about a second to exit.
stop_pids() {
  local i pid left
  for pid in "$@"; do kill -TERM "$pid" 2>/dev/null || true; done
  for i in $(seq 100); do
    left=
    for pid in "$@"; do alive "$pid" && left=1; done
    [ -z "$left" ] && return 0
    sleep 0.05
  done
  for pid in "$@"; do alive "$pid" && kill -KILL "$pid" 2>/dev/null; done
  return 0
}

# Both masters start their own session (setsid), and their children stay in it: waits
# until no process of the given sessions is left (children leave shortly after their
# master). Nothing is killed here.
wait_sessions_gone() {
  local i
  [ $# -gt 0 ] || return 0
  for i in $(seq 100); do
    ps -e -o sid=,stat= | awk -v s=" $* " '$2 !~ /^Z/ && index(s, " " $1 " ") { found = 1 }
                                             END { exit !found }' \
      || return 0
    sleep 0.05
  done
  echo "mailservers: processes of sessions $* are still running" >&2
}

do_stop() {
  local pid sessions=()
  rm -f "$ENV_FILE"   # gone while nothing runs: tests then skip with a clear reason
  if pid=$(live_pid "$POSTFIX_PID" master "$POSTFIX_CMD"); then sessions+=("$pid"); fi
  if pid=$(live_pid "$DOVECOT_PID" dovecot "$DOVECOT_CMD"); then sessions+=("$pid"); fi
  if [ ${#sessions[@]} -eq 0 ]; then
    case $SHORT in /tmp/tavrel-ms-*) rm -rf "$SHORT" ;; esac
    return 0
  fi
  stop_pids "${sessions[@]}"
  wait_sessions_gone "${sessions[@]}"
  rm -f "$DOVECOT_PID" "$POSTFIX_PID"
  case $SHORT in /tmp/tavrel-ms-*) rm -rf "$SHORT" ;; esac
}

do_status() {
  local rc=0 pid
  if pid=$(live_pid "$DOVECOT_PID" dovecot "$DOVECOT_CMD"); then echo "dovecot running, pid $pid"
  else echo "dovecot stopped"; rc=3; fi
  if pid=$(live_pid "$POSTFIX_PID" master "$POSTFIX_CMD"); then echo "postfix running, pid $pid"
  else echo "postfix stopped"; rc=3; fi
  [ $rc -eq 0 ] && [ -r "$ENV_FILE" ] && echo "env file: $ENV_FILE"
  return $rc
}

do_clear() {
  local user=${1%%@*}
  [ -n "$user" ] && [ -d "$DIR/mail/$user/Maildir" ] || die "no mailbox for '$1' in $DIR"
  find "$DIR/mail/$user/Maildir/new" "$DIR/mail/$user/Maildir/cur" -mindepth 1 -maxdepth 1 \
    -type f -delete
  # Dovecot's index and uid list go too: files deleted in the same second as its last look
  # could go unnoticed, and a session would list mails that are gone.
  find "$DIR/mail/$user/Maildir" -mindepth 1 -maxdepth 1 -type f \
    \( -name 'dovecot.index*' -o -name dovecot-uidlist \) -delete
}

# Six free TCP ports on 127.0.0.1: the kernel hands out unused ports; all six sockets stay
# bound until every one is chosen, so they differ. Without python3, random ports of
# 20000-59999 that refuse a connection.
pick_ports() {
  if command -v python3 >/dev/null 2>&1; then
    python3 -c '
import socket
s = []
for _ in range(6):
    k = socket.socket(); k.bind(("127.0.0.1", 0)); s.append(k)
print(" ".join(str(k.getsockname()[1]) for k in s))'
  else
    local ports=() p
    while [ ${#ports[@]} -lt 6 ]; do
      p=$((20000 + RANDOM % 40000))
      case " ${ports[*]} " in *" $p "*) continue ;; esac
      (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null && continue
      ports+=("$p")
    done
    echo "${ports[*]}"
  fi
}

# One RSA key (the servers' key, for clients whose cipher lists want RSA); the CA key is an
# EC key, far quicker to make. The untrusted certificate reuses the RSA key: what makes
# it untrusted is that no CA of ours signed it.
make_certs() {
  local t=$DIR/tls
  mkdir -p "$t"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 30 \
    -keyout "$t/ca.key" -out "$t/ca.crt" -subj "/O=Tavrel tests/CN=Tavrel Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature,keyEncipherment" \
    "extendedKeyUsage=serverAuth" "subjectAltName=DNS:localhost,IP:127.0.0.1" >"$t/server.ext"
  openssl req -new -newkey rsa:2048 -nodes -keyout "$t/server.key" -out "$t/server.csr" \
    -subj "/O=Tavrel tests/CN=localhost" 2>/dev/null
  openssl x509 -req -in "$t/server.csr" -CA "$t/ca.crt" -CAkey "$t/ca.key" -CAcreateserial \
    -days 30 -extfile "$t/server.ext" -out "$t/server.crt" 2>/dev/null
  cp "$t/server.key" "$t/untrusted.key"
  openssl req -x509 -new -key "$t/untrusted.key" -days 30 -out "$t/untrusted.crt" \
    -subj "/O=Somebody else/CN=localhost" \
    -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" 2>/dev/null
  chmod 644 "$t"/*.crt
  chmod 600 "$t"/*.key
}

write_dovecot() {
  local d=$DIR/dovecot uid=$1 gid=$2
  mkdir -p "$d/state" "$RUN"
  # passwd-file: user:{PLAIN}password:uid:gid:gecos:home:shell: (a blank in a password is fine)
  {
    echo "$USER1:{PLAIN}$PASS1:$uid:$gid::$DIR/mail/$USER1::"
    echo "$USER2:{PLAIN}$PASS2:$uid:$gid::$DIR/mail/$USER2::"
  } >"$d/users"
  chmod 644 "$d/users"
  local dh=
  [ -r /usr/share/dovecot/dh.pem ] && dh="ssl_dh = </usr/share/dovecot/dh.pem"
  cat >"$d/dovecot.conf" <<EOF
# Written by scripts/mailservers.sh at each start.
instance_name = tavrel-$(printf '%s' "$DIR" | md5sum | cut -c1-8)
base_dir = $RUN
state_dir = $d/state
protocols = imap pop3 lmtp
listen = 127.0.0.1
log_path = $DIR/log/dovecot.log
auth_verbose = yes

ssl = yes
ssl_cert = <$DIR/tls/server.crt
ssl_key = <$DIR/tls/server.key
$dh
# Clients may log in without TLS (the plain ports are tested too).
disable_plaintext_auth = no
auth_mechanisms = plain login
# "user1" and "user1@$DOMAIN" are the same account (LMTP looks up the address).
auth_username_format = %Ln
# Wrong passwords are answered quickly (tests try them on purpose): this version still
# holds a failure back for up to half a second.
auth_failure_delay = 0

mail_location = maildir:~/Maildir
first_valid_uid = $uid
first_valid_gid = $gid
mail_max_userip_connections = 200

passdb {
  driver = passwd-file
  args = $d/users
}
userdb {
  driver = passwd-file
  args = $d/users
}

service imap-login {
  inet_listener imap {
    address = 127.0.0.1
    port = $IMAP_PORT
  }
  inet_listener imaps {
    address = 127.0.0.1
    port = $IMAPS_PORT
    ssl = yes
  }
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $POP3_PORT
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = $POP3S_PORT
    ssl = yes
  }
}
service lmtp {
  unix_listener lmtp {
    mode = 0666
  }
}
# No growing delay for an address after failed logins (Postfix's AUTH requests would
# otherwise slow every later login from 127.0.0.1 by up to 15 s).
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
service auth {
  # Postfix asks here whether an AUTH LOGIN holds a valid name and password.
  unix_listener auth-postfix {
    mode = 0666
  }
}
service imap-urlauth-login {
  inet_listener imap-urlauth {
    port = 0
  }
}
service submission-login {
  inet_listener submission {
    port = 0
  }
}
EOF
}

write_postfix() {
  local p=$DIR/postfix
  mkdir -p "$QUEUE" "$p/data"
  printf '%s OK\n' "$USER1@$DOMAIN" "$USER2@$DOMAIN" >"$p/vmailbox"
  cat >"$p/main.cf" <<EOF
# Written by scripts/mailservers.sh at each start.
compatibility_level = 3.6
queue_directory = $QUEUE
data_directory = $p/data
mail_owner = postfix
setgid_group = postdrop
# No syslog here: Postfix logs to its own file (through the postlog service).
maillog_file = $DIR/log/postfix.log
maillog_file_prefixes = $DIR/log

myhostname = mail.$DOMAIN
mydomain = $DOMAIN
myorigin = \$mydomain
mydestination =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
alias_maps =
alias_database =
local_recipient_maps =
biff = no
smtputf8_enable = no
smtpd_peername_lookup = no
# Mails pass as sent: no header rewriting, no added Date or Message-ID.
local_header_rewrite_clients =

# The test domain goes to Dovecot LMTP; nothing is delivered anywhere else.
virtual_mailbox_domains = $DOMAIN
virtual_mailbox_maps = texthash:$p/vmailbox
virtual_transport = lmtp:unix:$RUN/lmtp
default_transport = error:outside the test domain
relay_transport = error:outside the test domain
smtpd_relay_restrictions = permit_mynetworks, permit_sasl_authenticated, reject_unauth_destination
smtpd_recipient_restrictions = reject_unauth_destination

# Test mails can be big; the default limit is about 10 MB.
message_size_limit = 314572800
mailbox_size_limit = 0
virtual_mailbox_limit = 0
# Accept at full speed, and retry soon when Dovecot was not ready.
in_flow_delay = 0
queue_run_delay = 2s
minimal_backoff_time = 2s
maximal_backoff_time = 10s
delay_warning_time = 0

smtpd_sasl_auth_enable = yes
smtpd_sasl_type = dovecot
smtpd_sasl_path = $RUN/auth-postfix
smtpd_tls_auth_only = no
smtpd_tls_security_level = may
smtpd_tls_cert_file = $DIR/tls/server.crt
smtpd_tls_key_file = $DIR/tls/server.key
smtpd_tls_session_cache_database =
smtpd_error_sleep_time = 0
EOF
  # Same services as the packaged master.cf, none chrooted (chroot "n"), SMTP on our ports.
  cat >"$p/master.cf" <<EOF
# service  type  private unpriv chroot wakeup maxproc command
127.0.0.1:$SMTP_PORT  inet n - n - - smtpd
127.0.0.1:$SMTPS_PORT inet n - n - - smtpd
  -o smtpd_tls_wrappermode=yes
  -o smtpd_tls_security_level=encrypt
pickup     unix  n - n 60    1 pickup
cleanup    unix  n - n -     0 cleanup
qmgr       unix  n - n 300   1 qmgr
tlsmgr     unix  - - n 1000? 1 tlsmgr
rewrite    unix  - - n -     - trivial-rewrite
bounce     unix  - - n -     0 bounce
defer      unix  - - n -     0 bounce
trace      unix  - - n -     0 bounce
verify     unix  - - n -     1 verify
flush      unix  n - n 1000? 0 flush
proxymap   unix  - - n -     - proxymap
proxywrite unix  - - n -     1 proxymap
smtp       unix  - - n -     - smtp
relay      unix  - - n -     - smtp
showq      unix  n - n -     - showq
error      unix  - - n -     - error
retry      unix  - - n -     - error
discard    unix  - - n -     - discard
lmtp       unix  - - n -     - lmtp
anvil      unix  - - n -     1 anvil
scache     unix  - - n -     1 scache
postlog    unix-dgram n - n - 1 postlogd
EOF
  # Postfix waits before using a main.cf or a table file younger than about 2 s.
  touch -d '-1 min' "$p/main.cf" "$p/master.cf" "$p/vmailbox"
}

# Queue directories as Postfix's own installer lays them out (done here so that starting
# needs no integrity check run).
make_queue() {
  local q=$QUEUE sub
  for sub in active bounce corrupt defer deferred flush hold incoming private saved trace; do
    install -d -o postfix -g root -m 700 "$q/$sub"
  done
  install -d -o postfix -g postdrop -m 730 "$q/maildrop"
  install -d -o postfix -g postdrop -m 710 "$q/public"
  install -d -o root -g root -m 755 "$q/pid"
  chown root:root "$q"
  chmod 755 "$q"
  chown postfix:root "$DIR/postfix/data"
  chmod 700 "$DIR/postfix/data"
}

# Waits until every port accepts a connection; the plain ones must also greet.
wait_ready() {
  local deadline=$((SECONDS + 15)) port line
  for port in "$SMTP_PORT" "$POP3_PORT" "$IMAP_PORT"; do
    while :; do
      line=
      if exec 3<>"/dev/tcp/127.0.0.1/$port" 2>/dev/null; then
        IFS= read -r -t 5 line <&3 || true
        exec 3<&- 3>&-
      fi
      case $line in 220*|+OK*|'* OK'*) break ;; esac
      [ $SECONDS -lt $deadline ] || die "port $port does not greet (logs in $DIR/log)"
      sleep 0.05
    done
  done
  for port in "$SMTPS_PORT" "$POP3S_PORT" "$IMAPS_PORT"; do
    until (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
      [ $SECONDS -lt $deadline ] || die "port $port does not answer (logs in $DIR/log)"
      sleep 0.05
    done
  done
  until [ -S "$RUN/lmtp" ] && [ -S "$RUN/auth-postfix" ]; do
    [ $SECONDS -lt $deadline ] || die "Dovecot's sockets are missing (logs in $DIR/log)"
    sleep 0.05
  done
}

q() { # a value for servers.env: bare when safe, else in single quotes
  case $1 in *"'"*|*$'\n'*) die "value with a quote or newline: $1" ;; esac
  if [[ $1 =~ ^[A-Za-z0-9@._/:+-]*$ ]]; then printf '%s' "$1"; else printf "'%s'" "$1"; fi
}

write_env() {
  local tmp=$ENV_FILE.tmp k v
  {
    echo "# Local test mail servers; written by scripts/mailservers.sh start. Format: see there."
    for k in HOST SMTP_PORT SMTPS_PORT POP3_PORT POP3S_PORT IMAP_PORT IMAPS_PORT \
             CA_FILE SERVER_CERT SERVER_KEY UNTRUSTED_CERT UNTRUSTED_KEY DOMAIN \
             USER1 PASS1 ADDR1 MAILDIR1 USER2 PASS2 ADDR2 MAILDIR2 DOVECOT_LOG POSTFIX_LOG \
             POSTFIX_QUEUE; do
      v=${!k}
      echo "$k=$(q "$v")"
    done
  } >"$tmp"
  mv "$tmp" "$ENV_FILE"
}

do_start() {
  [ "$(id -u)" -eq 0 ] || die "needs root (Postfix's master runs as root; the Maildirs belong to 'mail')"
  local b
  for b in dovecot postfix openssl; do
    command -v "$b" >/dev/null || die "$b missing: run scripts/install-deps.sh"
  done
  [ -x "$DAEMON_DIR/master" ] || die "Postfix master not found in $DAEMON_DIR"

  local mail_user=mail
  id -u "$mail_user" >/dev/null 2>&1 || mail_user=nobody
  local uid gid
  uid=$(id -u "$mail_user"); gid=$(id -g "$mail_user")

  do_stop
  rm -rf "$DIR/tls" "$DIR/dovecot" "$DIR/postfix" "$DIR/mail" "$DIR/log" "$RUN" "$QUEUE" \
    "$ENV_FILE"
  chmod 755 "$DIR"

  read -r SMTP_PORT SMTPS_PORT POP3_PORT POP3S_PORT IMAP_PORT IMAPS_PORT < <(pick_ports)
  HOST=127.0.0.1
  CA_FILE=$DIR/tls/ca.crt
  SERVER_CERT=$DIR/tls/server.crt SERVER_KEY=$DIR/tls/server.key
  UNTRUSTED_CERT=$DIR/tls/untrusted.crt UNTRUSTED_KEY=$DIR/tls/untrusted.key
  ADDR1=$USER1@$DOMAIN ADDR2=$USER2@$DOMAIN
  MAILDIR1=$DIR/mail/$USER1/Maildir MAILDIR2=$DIR/mail/$USER2/Maildir
  DOVECOT_LOG=$DIR/log/dovecot.log POSTFIX_LOG=$DIR/log/postfix.log POSTFIX_QUEUE=$QUEUE

  mkdir -p "$DIR/log"
  local m
  for m in "$MAILDIR1" "$MAILDIR2"; do
    mkdir -p "$m/new" "$m/cur" "$m/tmp"
  done
  chown -R "$uid:$gid" "$DIR/mail"
  chmod -R 700 "$DIR/mail"
  chmod 755 "$DIR/mail"
  # The mail user must reach its Maildir through every folder above DIR.
  if command -v runuser >/dev/null && ! runuser -u "$mail_user" -- test -x "$DIR/mail/$USER1" 2>/dev/null; then
    die "user '$mail_user' cannot enter $DIR (a folder above it is closed to others); pick another DIR"
  fi

  make_certs
  write_dovecot "$uid" "$gid"
  write_postfix
  make_queue

  # A start that fails half way stops what it started.
  trap do_stop EXIT
  # The daemons must not keep the caller's stdout/stderr open (CTest waits for them to close).
  $DOVECOT_CMD </dev/null >/dev/null 2>"$DIR/log/dovecot.start" 9>&- \
    || { cat "$DIR/log/dovecot.start" >&2; die "dovecot did not start (see $DOVECOT_LOG)"; }
  # Postfix's master from our configuration directory: -w waits until it is ready and
  # leaves it in the background; the pid is in queue/pid/master.pid.
  MAIL_CONFIG=$DIR/postfix $POSTFIX_CMD \
      </dev/null >/dev/null 2>"$DIR/log/postfix.start" 9>&- \
    || { cat "$DIR/log/postfix.start" >&2
         # Without syslog, Postfix tells a failed start only to a terminal.
         die "postfix did not start; see $POSTFIX_LOG, or run:" \
             "script -qc 'postfix -c $DIR/postfix check' /dev/null"; }

  wait_ready
  write_env
  trap - EXIT
  echo "mail servers running; env file $ENV_FILE"
}

# One start or stop at a time per DIR.
if [ "$cmd" = start ] || [ "$cmd" = stop ]; then
  exec 9>"$DIR/.lock"
  flock 9
fi

case $cmd in
  start) do_start ;;
  stop) do_stop ;;
  status) do_status ;;
  clear) [ $# -eq 3 ] || usage; do_clear "$3" ;;
  *) usage ;;
esac
