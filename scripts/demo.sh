#!/usr/bin/env bash
# The demonstration of the main job: starts the local mail servers, makes a demo program
# folder with a mailbox "Demo" on them, stores a sample folder with tavrel-cli, lists it,
# fetches it back into another folder and checks that every byte came back. The servers
# it started are stopped when it ends, however it ends. Safe to run again.
#
#   bash scripts/demo.sh [BUILD_DIR]        (default: $TAVREL_BUILD_DIR, else build/)
#
# Everything it makes lies in BUILD_DIR: demo-mail/ (the servers), demo-home/ (Data.bin,
# Tavrel.ini), demo-work/ (the sample and the fetched copy). The mail servers need root;
# run as another user it asks sudo for them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-${TAVREL_BUILD_DIR:-$top/build}}" && pwd)
cli=$build/tavrel-cli
mail=$build/demo-mail
home=$build/demo-home
work=$build/demo-work
attach=65536 # small on purpose: the larger sample files travel as several part mails

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
[ -x "$cli" ] || { echo "demo: $cli is missing; build first (scripts/build.sh)" >&2; exit 1; }

step() { printf '\n== %s\n' "$*"; }
run() {
    printf '$ tavrel-cli %s\n' "$*"
    "$cli" --home "$home" "$@"
}

stop_servers() { $SUDO bash "$top/scripts/mailservers.sh" stop "$mail" >/dev/null 2>&1 || true; }
trap stop_servers EXIT
trap 'exit 130' INT TERM

step "Starting the local mail servers (SMTP, POP3, IMAP4; plain and TLS) in $mail"
$SUDO bash "$top/scripts/mailservers.sh" start "$mail"
# shellcheck disable=SC1091
. "$mail/servers.env"

step "A fresh program folder $home with the mailbox \"Demo\""
rm -rf "$home" "$work"
mkdir -p "$home" "$work"
cat >"$home/Tavrel.ini" <<EOF
[IMAP]
Domain=$DOMAIN
Host=$HOST
Port=$IMAPS_PORT
[TLS]
VerifyPeer=1
CaFile=$CA_FILE
EOF
printf '%s\n' "$PASS1" | run --password-stdin add-box Demo --address "$ADDR1" \
    --smtp "localhost:$SMTPS_PORT" --smtp-ssl --pop "localhost:$POP3S_PORT" --pop-ssl \
    --account "$USER1" --max-attach-bytes "$attach"
run boxes

step "A sample folder made on the spot"
sample=$work/sample
mkdir -p "$sample/notes" "$sample/photos" "$sample/empty folder"
printf 'Tavrel keeps these files as mails in the account.\n' >"$sample/README.txt"
: >"$sample/notes/empty.txt"
printf 'Minutes of the weekly meeting\nAll stored files came back intact.\n' >"$sample/notes/minutes.txt"
seq 1 20000 | sed 's/.*/&,value &/' >"$sample/data.csv"
head -c 150000 /dev/urandom >"$sample/photos/holiday.jpg"
(cd "$work" && find sample | sort | sed 's/^/  /')

# Every folder is one mail, every file one mail per part of 0.8 x the attachment limit.
part=$(((attach * 8 + 5) / 10))
expected=$(find "$sample" -type d | wc -l)
while IFS= read -r size; do
    expected=$((expected + (size == 0 ? 1 : (size - 1) / part + 1)))
done < <(find "$sample" -type f -printf '%s\n')

step "Storing it in the mailbox"
run put Demo "$sample"
# Delivery into the inbox runs on after the servers accepted the mails.
for _ in $(seq 1 300); do
    have=$($SUDO find "$MAILDIR1/new" "$MAILDIR1/cur" -type f | wc -l)
    [ "$have" -ge "$expected" ] && break
    sleep 0.1
done
echo "$have of $expected mails delivered"

step "Listing the mailbox (a new run: the tree comes from the mail subjects only)"
run ls -R -l Demo

step "Fetching it back into another folder"
fetched=$work/fetched
mkdir -p "$fetched"
run get Demo sample --to "$fetched"

step "Comparing"
diff <(cd "$sample" && find . | sort) <(cd "$fetched/sample" && find . | sort)
files=0
bytes=0
while IFS= read -r -d '' f; do
    cmp "$sample/$f" "$fetched/sample/$f"
    files=$((files + 1))
    bytes=$((bytes + $(stat -c %s "$sample/$f")))
done < <(cd "$sample" && find . -type f -print0)
folders=$(find "$sample" -type d | wc -l)
run info Demo
echo
echo "Round trip verified: $files files ($bytes bytes) in $folders folders came back" \
     "from the mailbox byte for byte."

if [ "${TAVREL_DEMO_WINDOW:-0}" = 1 ]; then
    step "Opening the Tavrel window on $home (the mail servers stop when you quit it)"
    TAVREL_HOME=$home "$build/Tavrel"
fi
