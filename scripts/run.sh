#!/usr/bin/env bash
# The main job of the README: installs what is needed, builds, and runs the demonstration:
# local mail servers, a "Demo" mailbox, and a folder stored, listed, fetched back and
# compared with tavrel-cli (scripts/demo.sh). On a desktop (DISPLAY or WAYLAND_DISPLAY set)
# the Tavrel window then opens on that program folder; the servers stop when it is quit.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BUILD_DIR:-$top/build}
bash "$top/scripts/install-deps.sh"
TAVREL_BUILD_DIR=$build bash "$top/scripts/build.sh"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    TAVREL_DEMO_WINDOW=1 bash "$top/scripts/demo.sh" "$build"
else
    bash "$top/scripts/demo.sh" "$build"
    echo
    echo "No display here, so the window was not opened. On a desktop (DISPLAY or"
    echo "WAYLAND_DISPLAY set), run this command again: the Tavrel window then opens on the"
    echo "demo mailbox while the demo mail servers run."
fi
