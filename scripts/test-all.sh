#!/usr/bin/env bash
# Builds and runs every test: the default, ASan+UBSan and TSan builds on
# Linux, then the Windows builds (interface checks, and every test program
# under 32-bit Wine and under wine64), then the checks of what is shipped
# (install, find_package and pkg-config, the .deb, the Windows zip).
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1

passed=0
failed=0
status=0

# Runs one ctest preset and adds its counts to the totals.
run_preset() {
  local preset=$1
  echo "=== $preset ==="
  if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset"; then
    echo "build of $preset failed"
    status=1
    failed=$((failed + 1))
    return
  fi
  local log
  log=$(mktemp)
  ctest --preset "$preset" -j2 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n1)
  if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=$((failed + BASH_REMATCH[1]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  fi
  [ "$rc" -ne 0 ] && status=1
  rm -f "$log"
}

run_preset default
run_preset asan
run_preset tsan
# Runs one script of checks and adds the counts it prints to the totals.
run_script() {
  local log
  log=$(mktemp)
  bash "$1" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line
  while read -r line; do
    if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
      failed=$((failed + BASH_REMATCH[1]))
      passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
    fi
  done < <(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log")
  [ "$rc" -ne 0 ] && status=1
  rm -f "$log"
}

if [ -f scripts/windows-checks.sh ]; then
  echo "=== windows ==="
  run_script scripts/windows-checks.sh
fi
run_script scripts/package-checks.sh

echo
echo "total: $passed passed, $failed failed"
exit $status
