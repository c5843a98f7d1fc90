#!/usr/bin/env bash
# Runs every fuzz target for a bounded time and prints, per target, how many
# inputs it ran and what it found. Exits non-zero when anything was found.
#
#   scripts/fuzz.sh [seconds-per-target]     (default 60)
#
# The fuzzers are built with clang, libFuzzer and the address and undefined-
# behaviour sanitizers into $FOCUSER_BUILD_DIR/fuzz (default build/fuzz). Each
# target's working corpus is kept there, seeded from fuzz/corpus/<target>/;
# an input that breaks an invariant is saved under findings/<target>/. To keep
# one as a regression test, copy it into fuzz/corpus/<target>/.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FOCUSER_BUILD_DIR:-$here/build}/fuzz
jobs=${FOCUSER_JOBS:-$(nproc)}
seconds=${1:-60}
case $seconds in
  ''|*[!0-9]*|0) echo "usage: $0 [seconds-per-target]" >&2; exit 2 ;;
esac
targets=(reply number_text settings_text command link registry_script api_request)

"$here/scripts/bootstrap.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DFOCUSER_FUZZ=ON >/dev/null
fi
cmake --build "$build" -j "$jobs"

# Undefined behaviour is fatal (the build also says so); leaks count as findings.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}

status=0
summary=()
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  findings=$build/findings/$target
  log=$build/logs/$target.log
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  before=$(find "$findings" -type f | wc -l)

  echo "== fuzz: $target for ${seconds}s"
  # libFuzzer stops itself after max_total_time; the outer limit only guards
  # against a run that does not.
  rc=0
  timeout --kill-after=30 $((seconds + 120)) \
    "$build/${target}_fuzzer" "$corpus" "$here/fuzz/corpus/$target" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
      -artifact_prefix="$findings/" -print_final_stats=1 >"$log" 2>&1 || rc=$?

  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  found=$(( $(find "$findings" -type f | wc -l) - before ))
  if [ "$rc" -ne 0 ] && [ "$found" -eq 0 ]; then found=1; fi  # e.g. killed by the outer limit
  size=$(find "$corpus" -type f | wc -l)
  summary+=("$(printf '%-16s %12s %10s %8s %9s' "$target" "${runs:-?}" "${speed:-?}" "$size" "$found")")
  if [ "$found" -ne 0 ]; then
    status=1
    echo "   finding(s) in $findings, log $log:"
    grep -E 'ERROR|invariant broken|runtime error|Test unit written' "$log" | head -5 | sed 's/^/   /'
  fi
done

echo
printf '%-16s %12s %10s %8s %9s\n' target executions exec/s corpus findings
printf '%s\n' "${summary[@]}"
exit $status
