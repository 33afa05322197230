#!/usr/bin/env bash
# Builds and runs every test: the default build and the Python package
# against it, the ASan+UBSan and TSan builds on Linux, three minutes of the
# fuzz target, then the Windows builds (interface checks, and every test
# program under 32-bit Wine and under wine64), then the checks of what is
# shipped (install, find_package and pkg-config, the .deb, the Windows zip).
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

# The Python package: its tests against the default build's library and
# simulated module, then an install into a fresh virtual environment, as the
# README describes. Debian's interpreter, which the Debian packages serve.
# Not repeated under the sanitizers: their runtimes cannot be loaded into a
# Python that did not start with them.
run_python() {
  echo "=== python ==="
  local python=/usr/bin/python3
  [ -x "$python" ] || python=python3
  local log rc
  log=$(mktemp)
  (cd python && PYTHONDONTWRITEBYTECODE=1 QUORVEX_LIBRARY="$PWD/../build/default/bin/libquorvex.so" \
    "$python" -m pytest -p no:cacheprovider -q) 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  local line counted=0
  line=$(grep -E '^=* ?[0-9]+ (passed|failed)' "$log" | tail -n1)
  if [[ $line =~ ([0-9]+)\ failed ]]; then
    failed=$((failed + BASH_REMATCH[1]))
    counted=1
  fi
  [[ $line =~ ([0-9]+)\ passed ]] && passed=$((passed + BASH_REMATCH[1]))
  # Any other non-zero exit, pytest's 5 for "no tests collected" included,
  # is one failure more.
  if [ "$rc" -ne 0 ]; then
    status=1
    [ $counted -eq 0 ] && failed=$((failed + 1))
  fi
  rm -f "$log"

  local venv
  venv=$(mktemp -d)
  rm -rf python/build python/quorvex.egg-info
  if "$python" -m venv --system-site-packages "$venv/env" &&
    PIP_DISABLE_PIP_VERSION_CHECK=1 "$venv/env/bin/pip" install --quiet --no-index \
      --no-build-isolation ./python &&
    (cd "$venv" && "$venv/env/bin/python" -c "import quorvex; print(quorvex.version())"); then
    echo "python: installed into a virtual environment and imported: passed"
    passed=$((passed + 1))
  else
    echo "python: install into a virtual environment: FAILED"
    failed=$((failed + 1))
    status=1
  fi
  rm -rf "$venv" python/build python/quorvex.egg-info
}

run_preset default
run_python
run_preset asan
run_preset tsan
# The fuzz target over its seed corpus for three minutes; any finding (a
# sanitizer report, a leak, a hang) fails the run.
echo "=== fuzz ==="
if bash scripts/fuzz.sh 180; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
  status=1
fi
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
