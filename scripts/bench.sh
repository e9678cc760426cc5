#!/usr/bin/env bash
# Builds and runs the benchmarks; prints their figures. Not a test: always exits 0 when
# the build works.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BUILD_DIR:-$top/build}
bash "$top/scripts/install-deps.sh"
TAVREL_BUILD_DIR=$build bash "$top/scripts/build.sh"
"$build/bench/bench_table_build"
"$build/bench/bench_listing"
