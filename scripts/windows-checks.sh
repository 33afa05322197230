#!/usr/bin/env bash
# Builds and tests the Windows DLLs (docs/windows.md):
#   win32  QUORVEX.dll for 32-bit Windows, the product: its interface checks
#          (exports, __stdcall sizes, imports, no x87 arithmetic) run here
#          with mingw's binutils.
#   win64  the same library for 64-bit Windows: the test programs run under
#          Wine, in a Wine prefix made for this run and removed afterwards.
# Exits non-zero when a build or a test fails.
set -uo pipefail
cd "$(dirname "$0")/.."

status=0
built=()
for preset in win32 win64; do
  echo "=== build $preset ==="
  if cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"; then
    built+=("$preset")
  else
    echo "build of $preset failed"
    status=1
  fi
done

if [[ " ${built[*]} " == *" win32 "* ]]; then
  echo "=== win32: interface checks ==="
  ctest --preset win32 || status=1
fi

if [[ " ${built[*]} " == *" win64 "* ]]; then
  echo "=== win64: tests under Wine ==="
  started=$(date +%s)
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-wine.XXXXXX")
  export WINEPREFIX
  trap 'cmake/windows/wine-run.sh --stop; rm -rf "$WINEPREFIX" "$WINEPREFIX.lock"' EXIT
  if cmake/windows/wine-run.sh --prepare; then
    ctest --preset win64 || status=1
  else
    echo "could not make a Wine prefix in $WINEPREFIX"
    status=1
  fi
  echo "Wine leg: $(($(date +%s) - started)) s (prefix included)"
fi

exit $status
