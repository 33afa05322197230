#!/bin/sh
# Runs a Windows program of the cross-builds under Wine; the builds' tests
# use it as their launcher (CMAKE_CROSSCOMPILING_EMULATOR).
#
#   wine-run.sh [--32-bit] program.exe [arguments...]
#   wine-run.sh [--32-bit] --available   exits 0 when that Wine is installed
#   wine-run.sh --prepare      only makes the prefix and starts its server
#   wine-run.sh --stop         stops the prefix's server and its programs
#
# --32-bit runs the program with the 32-bit loader of wine32:i386
# (/usr/lib/wine/wine), which ../shared/tools/install-wine32.sh installs.
# Without it, test discovery in the 32-bit build lists nothing and a 32-bit
# program is turned away with a message.
#
# WINEPREFIX: scripts/windows-checks.sh creates a temporary prefix and
# exports it (made by wine64, it runs 32-bit programs too). Without one, the
# prefix is <build>/wine-prefix beside the program's bin folder, made on
# first use. WINEDEBUG is -all unless set. WINE, WINE32 and WINESERVER may
# name the programs to use.
set -eu

find_tool() {
  for candidate in "$@"; do
    if command -v "$candidate" >/dev/null 2>&1; then
      command -v "$candidate"
      return 0
    fi
    if [ -x "$candidate" ]; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

if [ "${1:-}" = "--32-bit" ]; then
  shift
  if ! WINE=$(find_tool "${WINE32:-/usr/lib/wine/wine}"); then
    [ "${1:-}" = "--available" ] && exit 1
    for arg in "$@"; do
      # Test discovery of the 32-bit build: there is nothing that can run.
      [ "$arg" = "--gtest_list_tests" ] && exit 0
    done
    echo "wine-run.sh: cannot run the 32-bit program $1: 32-bit Wine is not installed" \
         "(../shared/tools/install-wine32.sh installs it)" >&2
    exit 1
  fi
else
  WINE=${WINE:-$(find_tool wine64 /usr/lib/wine/wine64 wine)} || {
    echo "wine-run.sh: no wine64 found (Debian packages wine and wine64)" >&2
    exit 1
  }
fi
[ "${1:-}" = "--available" ] && exit 0

prepare_only=false
stop=false
if [ "${1:-}" = "--prepare" ] || [ "${1:-}" = "--stop" ]; then
  [ "$1" = "--prepare" ] && prepare_only=true || stop=true
  program=
else
  program=$1
  shift
fi

WINESERVER=${WINESERVER:-$(find_tool wineserver /usr/lib/wine/wineserver64)} || {
  echo "wine-run.sh: no wineserver found (Debian packages wine and wine64)" >&2
  exit 1
}
export WINESERVER
export WINEDEBUG="${WINEDEBUG:--all}"

if [ -z "${WINEPREFIX:-}" ]; then
  [ -n "$program" ] || { echo "wine-run.sh: --prepare and --stop need WINEPREFIX" >&2; exit 1; }
  WINEPREFIX=$(cd "$(dirname "$program")/.." && pwd)/wine-prefix
fi
export WINEPREFIX

if $stop; then
  "$WINESERVER" -k >/dev/null 2>&1 || true
  exit 0
fi

# The first program to run makes the prefix; the others wait for it.
if [ ! -f "$WINEPREFIX/.quorvex-ready" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.quorvex-ready" ]; then
      "$WINE" wineboot -i </dev/null >/dev/null 2>&1
      touch "$WINEPREFIX/.quorvex-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi

# The wine server and Wine's own background programs (services, devices)
# outlive the program they start with. Started here, with no pipe of the
# caller (a test runner waits until every copy of its pipes is closed), they
# stay a minute for the next program. The server exits with 2 when one runs
# already.
if "$WINESERVER" -p60 </dev/null >/dev/null 2>&1; then
  "$WINE" wineboot </dev/null >/dev/null 2>&1 || true
fi
$prepare_only && exit 0

exec "$WINE" "$program" "$@"
