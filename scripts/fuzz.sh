#!/usr/bin/env bash
# Builds the fuzz preset and runs the fuzz target over the committed seed
# corpus (tests/fuzz/corpus) for a while:
#
#   bash scripts/fuzz.sh [seconds]     default 180
#
# New inputs go to build/fuzz/corpus, findings (crash-*, leak-*, timeout-*)
# to build/fuzz/findings. Exits non-zero on any finding. Extra libFuzzer
# flags can be given in QVX_FUZZ_FLAGS (for example "-jobs=1").
set -uo pipefail
cd "$(dirname "$0")/.."
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz || exit 1
fuzzer=build/fuzz/bin/quorvex_fuzz

seconds=${1:-180}
mkdir -p build/fuzz/corpus build/fuzz/findings
log=build/fuzz/fuzz.log
echo "fuzzing for $seconds s (log: $log)"
# -timeout bounds one input (each call has its own watchdog of 30 s);
# -max_len keeps scripts to a few hundred calls.
# shellcheck disable=SC2086
"$fuzzer" -max_total_time="$seconds" -timeout=120 -max_len=512 -rss_limit_mb=4096 \
  -print_final_stats=1 -artifact_prefix=build/fuzz/findings/ ${QVX_FUZZ_FLAGS:-} \
  build/fuzz/corpus tests/fuzz/corpus >"$log" 2>&1
rc=$?
# The report of a finding, or the closing figures of a clean run.
if [ "$rc" -ne 0 ]; then
  sed -n '/==ERROR\|==watchdog==\|runtime error\|ERROR: libFuzzer/,$p' "$log" | head -n 150
  echo "fuzz: finding in build/fuzz/findings (replay: QVX_FUZZ_TRACE=1 $fuzzer <file>)"
else
  grep -E '^(stat::|quorvex_fuzz:)|^#[0-9]+.*DONE' "$log"
fi
exit "$rc"
