#!/usr/bin/env bash
# CPU time of an idle Tavrel window: started under Xvfb on a program folder with two
# mailboxes, left alone for a while, its user + system time read from /proc.
#   bash bench/idle_cpu.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
seconds=${2:-30}
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
mkdir -p "$TAVREL_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
for box in One Two; do
  "$build/tavrel-cli" add-box "$box" --address "$box@localhost" --smtp 127.0.0.1:2525 \
    --pop 127.0.0.1:1110 --account "$box" --password x >/dev/null
done
Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp -noreset 5>"$tmp/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$tmp/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$tmp/display")
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
"$build/Tavrel" 2>/dev/null &
tavrel_pid=$!
sleep 3 # start-up is not idle time
ticks() { awk '{print $14 + $15}' "/proc/$tavrel_pid/stat"; }
hz=$(getconf CLK_TCK)
t0=$(ticks)
sleep "$seconds"
t1=$(ticks)
awk -v d=$((t1 - t0)) -v hz="$hz" -v s="$seconds" \
  'BEGIN { printf "idle Tavrel window, %d s: %.2f s CPU = %.2f %% of one core\n", s, d / hz, 100 * d / hz / s }'
