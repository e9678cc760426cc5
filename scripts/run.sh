#!/usr/bin/env bash
# The main job of the README: installs what is needed, builds, and runs the demonstration:
# local mail servers, a "Demo" mailbox, and a folder stored, listed, fetched back and
# compared with tavrel-cli (scripts/demo.sh).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BUILD_DIR:-$top/build}
bash "$top/scripts/install-deps.sh"
TAVREL_BUILD_DIR=$build bash "$top/scripts/build.sh"
bash "$top/scripts/demo.sh" "$build"
