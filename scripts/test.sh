#!/usr/bin/env bash
# The test command of the README: installs what is needed, builds, and runs every test.
# CTest starts the local mail servers once (a fixture) for the tests that need them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BUILD_DIR:-$top/build}
bash "$top/scripts/install-deps.sh"
TAVREL_BUILD_DIR=$build bash "$top/scripts/build.sh"
cd "$build"
ctest --output-on-failure -j 2 --timeout 600
