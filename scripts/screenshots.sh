#!/usr/bin/env bash
# Makes the README's screenshots under Xvfb: the main window with a mailbox on the local
# mail servers opened in a folder of its stored sample, the options dialog and the
# mailbox properties. Writes docs/window.png, docs/options.png and docs/mailprop.png.
# The mail servers need root (sudo otherwise).
#   bash scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-${TAVREL_BUILD_DIR:-$top/build}}" && pwd)
. "$top/scripts/xvfb-session.sh"
mkdir -p "$top/docs"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
mail=$build/screenshots-mail # the servers' users must reach it: not under the private scratch folder
stop_servers() { $SUDO bash "$top/scripts/mailservers.sh" stop "$mail" >/dev/null 2>&1 || true; cleanup; }
trap stop_servers EXIT
$SUDO bash "$top/scripts/mailservers.sh" start "$mail" >/dev/null
# shellcheck disable=SC1091
. "$mail/servers.env"
printf '%s\n' "$PASS1" | "$build/tavrel-cli" --password-stdin add-box Documents --address "$ADDR1" \
  --smtp "$HOST:$SMTP_PORT" --pop "$HOST:$POP3_PORT" --account "$USER1" --max-attach-bytes 65536 >/dev/null
"$build/tavrel-cli" add-box Photos --address photos@example.org --smtp smtp.example.org \
  --pop pop.example.org --account photos --password x >/dev/null
sample=$tmp/Projects
mkdir -p "$sample/Reports" "$sample/Designs"
printf 'Quarterly figures\n' >"$sample/Reports/q3.txt"
seq 1 30000 >"$sample/measurements.csv"
head -c 90000 /dev/urandom >"$sample/Designs/logo.png"
printf 'Project notes\n' >"$sample/notes.txt"
"$build/tavrel-cli" put Documents "$sample" >/dev/null
sleep 2 # delivery into the inbox runs on after the server took the mails
printf '[General]\nState=0\nLeft=0\nTop=0\nWidth=1000\nHeight=620\nLeftBar=250\n[lvFiles]\n0=220\n1=80\n2=140\n3=150\n4=80\n5=100\nStyle=3\n' \
  >"$TAVREL_HOME/Tavrel.ini"
start_xvfb 1100x720
start_tavrel "$build"
win=$(wait_window Tavrel)
sleep 1
# Open "Documents" (first in the list), then its folder "Projects".
xdotool mousemove --window "$win" 60 137 click --repeat 2 --delay 80 1
sleep 3
xdotool mousemove --window "$win" 260 130 click --repeat 2 --delay 80 1
sleep 1
# Download notes.txt (typed to select it, then the tool bar's Download): it turns black.
xdotool type --delay 60 notes
sleep 0.5
xdotool mousemove --window "$win" 480 45 click 1
sleep 3
# A folder selected for the details pane, and a search for the results panel.
xdotool type --delay 60 Reports
sleep 0.5
xdotool key alt+f s
sleep 0.5
xdotool key ctrl+a
xdotool type --delay 60 s
xdotool key Return
sleep 1
xdotool mousemove --window "$win" 600 300
import -window "$win" "$top/docs/window.png"
xdotool mousemove --window "$win" 300 300 click 1
xdotool key alt+t
sleep 0.4
xdotool key o
dlg=$(wait_window Options)
sleep 0.5
import -window "$dlg" "$top/docs/options.png"
xdotool key Escape
sleep 0.5
# The mailbox properties of "Documents" (MailBox menu, Properties).
xdotool mousemove --window "$win" 75 8 click 1
sleep 0.4
xdotool key p
dlg=$(wait_window "Documents properies")
sleep 0.5
import -window "$dlg" "$top/docs/mailprop.png"
echo "wrote docs/window.png, docs/options.png and docs/mailprop.png"
