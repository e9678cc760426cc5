#!/usr/bin/env bash
# Makes the README's screenshots under Xvfb: the main window with two mailboxes, and the
# options dialog. Writes docs/window.png and docs/options.png.
#   bash scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-${TAVREL_BUILD_DIR:-$top/build}}" && pwd)
tmp=$(mktemp -d)
xvfb_pid=""
tavrel_pid=""
cleanup() {
  [ -n "$tavrel_pid" ] && kill "$tavrel_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
export TAVREL_HOME=$tmp/home TAVREL_REGISTRY=$tmp/registry.ini XDG_RUNTIME_DIR=$tmp/run
mkdir -p "$TAVREL_HOME" "$XDG_RUNTIME_DIR" "$top/docs"
chmod 700 "$XDG_RUNTIME_DIR"
"$build/tavrel-cli" add-box Documents --address docs@example.org --smtp smtp.example.org \
  --pop pop.example.org --account docs --password x >/dev/null
"$build/tavrel-cli" add-box Photos --address photos@example.org --smtp smtp.example.org \
  --pop pop.example.org --account photos --password x >/dev/null
printf '[General]\nState=0\nLeft=0\nTop=0\nWidth=1000\nHeight=620\nLeftBar=200\n[lvFiles]\n0=220\n1=80\n2=140\n3=150\n4=80\n5=100\nStyle=3\n' \
  >"$TAVREL_HOME/Tavrel.ini"
Xvfb -displayfd 5 -screen 0 1100x720x24 -nolisten tcp -noreset 5>"$tmp/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$tmp/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$tmp/display")
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
"$build/Tavrel" 2>/dev/null &
tavrel_pid=$!
win=""
for _ in $(seq 100); do
  win=$(xdotool search --onlyvisible --name '^Tavrel$' 2>/dev/null | head -n 1) && [ -n "$win" ] && break
  sleep 0.1
done
sleep 1
import -window "$win" "$top/docs/window.png"
xdotool mousemove --window "$win" 300 300 click 1
xdotool key alt+t
sleep 0.4
xdotool key o
dlg=""
for _ in $(seq 50); do
  dlg=$(xdotool search --onlyvisible --name '^Options$' 2>/dev/null | tail -n 1) && [ -n "$dlg" ] && break
  sleep 0.1
done
sleep 0.5
import -window "$dlg" "$top/docs/options.png"
echo "wrote docs/window.png and docs/options.png"
