#!/usr/bin/env bash
# Makes the README's screenshots under Xvfb: the main window with two mailboxes, and the
# options dialog. Writes docs/window.png and docs/options.png.
#   bash scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-${TAVREL_BUILD_DIR:-$top/build}}" && pwd)
. "$top/scripts/xvfb-session.sh"
mkdir -p "$top/docs"
"$build/tavrel-cli" add-box Documents --address docs@example.org --smtp smtp.example.org \
  --pop pop.example.org --account docs --password x >/dev/null
"$build/tavrel-cli" add-box Photos --address photos@example.org --smtp smtp.example.org \
  --pop pop.example.org --account photos --password x >/dev/null
printf '[General]\nState=0\nLeft=0\nTop=0\nWidth=1000\nHeight=620\nLeftBar=200\n[lvFiles]\n0=220\n1=80\n2=140\n3=150\n4=80\n5=100\nStyle=3\n' \
  >"$TAVREL_HOME/Tavrel.ini"
start_xvfb 1100x720
start_tavrel "$build"
win=$(wait_window Tavrel)
sleep 1
import -window "$win" "$top/docs/window.png"
xdotool mousemove --window "$win" 300 300 click 1
xdotool key alt+t
sleep 0.4
xdotool key o
dlg=$(wait_window Options)
sleep 0.5
import -window "$dlg" "$top/docs/options.png"
echo "wrote docs/window.png and docs/options.png"
