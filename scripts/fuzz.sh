#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ into build-fuzz/ (clang, ASan + UBSan) and runs each
# for SECONDS (default 60) with its seed corpus and dictionary, one after the other.
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]      e.g.  bash scripts/fuzz.sh 600 fuzz_pop3
#
# SECONDS 0 only replays the committed seeds once through every target (no fuzzing, a few
# seconds; scripts/test.sh does this so that the targets keep building and the seeds pass).
# The committed seeds (fuzz/corpus/TARGET) are only read; what the fuzzer finds new goes to
# a scratch corpus, build-fuzz/work/TARGET, kept between runs. Findings (crash-*, leak-*,
# timeout-*, oom-*) land in build-fuzz/findings/TARGET, the fuzzer's output in
# build-fuzz/logs/TARGET.log. An input that runs longer than the time-out counts as a
# finding (a hang), as does one that needs more memory than the limit. Prints per target
# the executions, executions per second, coverage (cov: edges, ft: features) and the
# findings of this run; exits 1 when there was any.
# Environment: TAVREL_FUZZ_BUILD_DIR (build folder), TAVREL_JOBS (build jobs, default all
# cores), CXX_FUZZ (clang++, default clang++-14).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_FUZZ_BUILD_DIR:-$top/build-fuzz}
jobs=${TAVREL_JOBS:-$(nproc)}
cxx=${CXX_FUZZ:-clang++-14}
cc=${cxx/clang++/clang}

seconds=60
if [ $# -gt 0 ] && [[ $1 =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
all=(fuzz_stored_subject fuzz_mime_message fuzz_mime_header fuzz_pop3 fuzz_imap4 fuzz_smtp
     fuzz_data_bin fuzz_ini)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")
for t in "${targets[@]}"; do
  [[ " ${all[*]} " == *" $t "* ]] || { echo "fuzz.sh: unknown target $t (one of: ${all[*]})" >&2; exit 2; }
done

# The longest input per target: protocol sessions and mails need room for several replies
# and an overlong line; a subject or an INI file is short.
max_len() {
  case $1 in
    fuzz_stored_subject) echo 4096 ;;
    fuzz_ini | fuzz_data_bin | fuzz_mime_header) echo 16384 ;;
    *) echo 65536 ;;
  esac
}

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREL_FUZZ=ON \
      -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

mkdir -p "$build/tmp" "$build/logs"
export TMPDIR=$build/tmp
summary=()
found=0
for t in "${targets[@]}"; do
  work=$build/work/$t
  findings=$build/findings/$t
  log=$build/logs/$t.log
  stamp=$build/logs/$t.start
  mkdir -p "$work" "$findings"
  touch "$stamp"
  status=0
  limits=(-timeout=10 -rss_limit_mb=2048 -max_len="$(max_len "$t")" -artifact_prefix="$findings/"
          -print_final_stats=1)
  if [ "$seconds" -eq 0 ]; then
    echo "== $t: the seeds once"
    nice -n 19 "$build/fuzz/$t" -runs=0 "${limits[@]}" "$top/fuzz/corpus/$t" >"$log" 2>&1 ||
      status=$?
  else
    echo "== $t: $seconds s"
    nice -n 19 "$build/fuzz/$t" "$work" "$top/fuzz/corpus/$t" -dict="$top/fuzz/dict/$t.dict" \
        -max_total_time="$seconds" "${limits[@]}" >"$log" 2>&1 || status=$?
  fi
  new=$(find "$findings" -type f -newer "$stamp" | wc -l)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  if [ "$new" -gt 0 ] || [ "$status" -ne 0 ]; then
    found=1
    grep -m3 -E '^==[0-9]+==ERROR|^SUMMARY|fuzz check failed|fuzz: |ALARM|out-of-memory' "$log" || true
    find "$findings" -type f -newer "$stamp" | sed 's/^/   finding: /'
  fi
  summary+=("$(printf '%-20s %12s %9s %7s %8s %9s' "$t" "${execs:-?}" "${rate:-?}" "${cov:-?}" \
               "${ft:-?}" "$new")")
done

echo
printf '%-20s %12s %9s %7s %8s %9s\n' target executions exec/s cov ft findings
printf '%s\n' "${summary[@]}"
[ "$found" -eq 0 ] || { echo "Findings: see $build/findings and $build/logs" >&2; exit 1; }
