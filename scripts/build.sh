#!/usr/bin/env bash
# Configures and builds everything into build/ (or $TAVREL_BUILD_DIR), with $TAVREL_JOBS
# build jobs (default: one per core).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "${TAVREL_JOBS:-$(nproc)}"
