#!/usr/bin/env bash
# Builds and tests the Windows DLLs (docs/windows.md):
#   win32  QUORVEX.dll for 32-bit Windows, the product: its interface checks
#          (exports, __stdcall sizes, imports) run here
#          with mingw's binutils, and every test program runs under 32-bit
#          Wine (wine32:i386, ../shared/tools/install-wine32.sh). Without
#          32-bit Wine only the interface checks run, and the leg says so.
#   win64  the same library for 64-bit Windows: every test program runs
#          under Wine.
# Both Wine legs share one Wine prefix, made for this run and removed
# afterwards. Exits non-zero when a build or a test fails.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

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
[ ${#built[@]} -eq 0 ] && exit 1

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-wine.XXXXXX")
export WINEPREFIX
trap 'cmake/windows/wine-run.sh --stop; rm -rf "$WINEPREFIX" "$WINEPREFIX.lock"' EXIT
started=$(date +%s)
if ! cmake/windows/wine-run.sh --prepare; then
  echo "could not make a Wine prefix in $WINEPREFIX"
  exit 1
fi
echo "Wine prefix: $(($(date +%s) - started)) s"

for preset in "${built[@]}"; do
  started=$(date +%s)
  if [ "$preset" = win32 ] && ! cmake/windows/wine-run.sh --32-bit --available; then
    echo "=== win32: 32-bit Wine is not installed (../shared/tools/install-wine32.sh);" \
         "only the interface checks run ==="
    ctest --preset win32 -L interface || status=1
    continue
  fi
  echo "=== $preset: every test under Wine ==="
  ctest --preset "$preset" || status=1
  echo "Wine leg $preset: $(($(date +%s) - started)) s"
done

exit $status
