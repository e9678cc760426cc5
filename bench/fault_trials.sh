#!/usr/bin/env bash
# Seeded fault trials against the local mail servers, and their outcome table.
#
#   bash bench/fault_trials.sh [N]
#
# Runs N trials (default 200) of every operation over every route it uses (POP3 and IMAP4
# as the reader, SMTP as the writer), one broken connection a trial, and prints the table
# operation x protocol x outcome (ok / failed-cleanly / failed-no-reason / wrong-success /
# lost, duplicates, unhit), then each kind of bad ending seen with one trial showing it.
# A trial can be told again by its seed: the table names it.
#
# Environment:
#   TAVREL_FAULT_SEED       first seed (default 1000); trial i of each row uses seed + i
#   TAVREL_FAULT_BUILD_DIR  build folder (default build-fault/, RelWithDebInfo)
#   TAVREL_BUILD_JOBS       parallel build jobs (default: all cores)
#   TAVREL_MAILSERVERS      servers.env of servers already running; without it the script
#                           starts its own in a scratch folder and stops them at the end
# Not a test: it exits 0 whenever the build and the servers work, whatever the table says.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_FAULT_BUILD_DIR:-$top/build-fault}
trials=${1:-200}
case $trials in
  ''|*[!0-9]*|0) echo "usage: $0 [N]   (N: trials per operation and route, at least 1)" >&2; exit 2 ;;
esac

bash "$top/scripts/install-deps.sh"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
if ! cmake --build "$build" -j "${TAVREL_BUILD_JOBS:-$(nproc)}" --target engine_fault_trials \
    >"$build/fault-trials-build.log" 2>&1; then
  cat "$build/fault-trials-build.log" >&2
  echo "fault_trials.sh: the build failed" >&2
  exit 1
fi

work=""
if [ -z "${TAVREL_MAILSERVERS:-}" ]; then
  work=$(mktemp -d /tmp/tavrel-faults.XXXXXX)
  chmod 755 "$work" # the mail user of the servers must reach their folder
  cleanup() {
    bash "$top/scripts/mailservers.sh" stop "$work/servers" >/dev/null 2>&1 || true
    rm -rf "$work"
  }
  trap cleanup EXIT
  trap 'exit 130' INT TERM
  bash "$top/scripts/mailservers.sh" start "$work/servers" >/dev/null
  export TAVREL_MAILSERVERS=$work/servers/servers.env
fi

TAVREL_FAULT_TRIALS=$trials "$build/tests/engine/engine_fault_trials" \
  --gtest_filter='FaultTrialTable.*' --gtest_brief=1 || true
exit 0
