#!/usr/bin/env bash
# The test command of the README: installs what is needed, builds, and runs every test.
# CTest starts the local mail servers once (a fixture) for the tests that need them.
# Then the tests that need no mail servers run once more, built with AddressSanitizer and
# UBSan (build-asan/, without the window and the benchmarks): a memory error, a leak or
# undefined behaviour in them fails the run. Last, the fuzz targets are built (build-fuzz/)
# and their seeds replayed once, so that they keep building and the seeds keep passing.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BUILD_DIR:-$top/build}
asan=${TAVREL_ASAN_BUILD_DIR:-$top/build-asan}
bash "$top/scripts/install-deps.sh"
TAVREL_BUILD_DIR=$build bash "$top/scripts/build.sh"
(cd "$build" && ctest --output-on-failure -j 2 --timeout 600)

cmake -S "$top" -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREL_SANITIZE=ON \
      -DTAVREL_BUILD_UI=OFF -DTAVREL_BUILD_BENCH=OFF >/dev/null
cmake --build "$asan" -j "${TAVREL_JOBS:-$(nproc)}"
(cd "$asan" && UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j 2 --timeout 600 -LE mailservers)

bash "$top/scripts/fuzz.sh" 0
