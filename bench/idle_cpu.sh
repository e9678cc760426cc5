#!/usr/bin/env bash
# CPU time of an idle Tavrel window: started under Xvfb on a program folder with two
# mailboxes, left alone for a while, its user + system time read from /proc.
#   bash bench/idle_cpu.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
seconds=${2:-30}
. "$top/scripts/xvfb-session.sh"
for box in One Two; do
  "$build/tavrel-cli" add-box "$box" --address "$box@localhost" --smtp 127.0.0.1:2525 \
    --pop 127.0.0.1:1110 --account "$box" --password x >/dev/null
done
start_xvfb 1280x800
start_tavrel "$build"
sleep 3 # start-up is not idle time
ticks() { awk '{print $14 + $15}' "/proc/$tavrel_pid/stat"; }
hz=$(getconf CLK_TCK)
t0=$(ticks)
sleep "$seconds"
t1=$(ticks)
awk -v d=$((t1 - t0)) -v hz="$hz" -v s="$seconds" \
  'BEGIN { printf "idle Tavrel window, %d s: %.2f s CPU = %.2f %% of one core\n", s, d / hz, 100 * d / hz / s }'
