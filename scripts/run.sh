#!/usr/bin/env bash
# The main job of the README: installs what is needed, builds, and shows what the program
# can do so far.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BUILD_DIR:-$top/build}
bash "$top/scripts/install-deps.sh"
TAVREL_BUILD_DIR=$build bash "$top/scripts/build.sh"
"$build/tavrel-info"
