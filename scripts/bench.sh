#!/usr/bin/env bash
# Builds and runs the benchmarks and prints their figures. Not a test: it exits 0 whenever
# the build works, whatever the figures are.
#
#   bash scripts/bench.sh [--quick] [--cap S] [--modes direct|proxy|direct,proxy]
#                         [--only REGEX] [--delay-ms MS] [--save FILE] [--quiet]
#                         [--no-model] [--mail-only]
#
# The mail benchmarks (bench/run_mail_bench.py) start their own mail servers
# (scripts/mailservers.sh, in a scratch folder removed at the end) and print one table for
# direct loopback and one through the latency relay; see README.md, "Benchmarks".
# --no-model / --mail-only skip the model benchmarks (table build, listing), which run
# after the mail table otherwise. Build folder: $TAVREL_BENCH_BUILD_DIR, default
# build-bench/ (Release).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BENCH_BUILD_DIR:-$top/build-bench}

model=1
mail_args=()
for arg in "$@"; do
  case $arg in
    --no-model|--mail-only) model=0 ;;
    -h|--help)
      awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"
      exit 0 ;;
    *) mail_args+=("$arg") ;;
  esac
done

bash "$top/scripts/install-deps.sh"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
# The build's own messages (compiler errors included) are shown only when it fails.
if ! cmake --build "$build" -j "$(nproc)" \
    --target bench_mail bench_latency_proxy bench_table_build bench_listing bench_explorer >"$build/bench-build.log" 2>&1; then
  cat "$build/bench-build.log" >&2
  echo "bench.sh: the build failed" >&2
  exit 1
fi

work=$(mktemp -d /tmp/tavrel-bench.XXXXXX)
chmod 755 "$work" # the mail user of the servers must reach their folder
cleanup() {
  bash "$top/scripts/mailservers.sh" stop "$work/servers" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

bash "$top/scripts/mailservers.sh" start "$work/servers" >/dev/null
python3 "$top/bench/run_mail_bench.py" --servers "$work/servers/servers.env" \
  --build "$build" --work "$work" "${mail_args[@]}" || echo "mail benchmarks failed (exit $?)"

if [ "$model" = 1 ]; then
  echo
  echo "Model benchmarks (no network):"
  "$build/bench/bench_table_build" || true
  "$build/bench/bench_listing" || true
  "$build/bench/bench_explorer" || true
fi
exit 0
