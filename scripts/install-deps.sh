#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing need. Safe to run
# again: packages already present are skipped by apt.
#
#   install-deps.sh        everything the test command needs
#   install-deps.sh demo   only what the main job (scripts/demo.sh) needs
set -euo pipefail

# The library, the simulated module and qvx, with the plot of its captures.
demo_packages=(
  build-essential cmake ninja-build
  libcli11-dev libfmt-dev gnuplot-nox
)
# The tests, the benchmarks, qvx's HDF5 files, the Python package (with
# matplotlib for its example's picture), the fuzz target (clang's fuzzer and
# sanitizer runtimes), the Windows builds and the checks of the packages (the
# .deb's dependencies, pkg-config, the MSVC import library made and linked by
# LLVM's tools, the Windows zip).
test_packages=(
  python3 python3-numpy python3-pytest python3-setuptools python3-wheel python3-venv
  python3-matplotlib
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libhdf5-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64
  clang-14 libclang-rt-14-dev
  dpkg-dev pkg-config clang lld llvm unzip
)

case "${1:-all}" in
  demo) packages=("${demo_packages[@]}") ;;
  all) packages=("${demo_packages[@]}" "${test_packages[@]}") ;;
  *)
    echo "usage: $0 [demo|all]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
for attempt in 1 2 3 4 5; do
  # An index that fails to download (a mirror in sync, the i386 security
  # index lagging behind) is not fatal: the install below says whether what
  # we need could be had.
  $SUDO apt-get update || true
  if $SUDO apt-get install -y --no-install-recommends "${missing[@]}"; then
    exit 0
  fi
  echo "apt-get failed (attempt $attempt), retrying in $((attempt * 10)) s" >&2
  sleep $((attempt * 10))
done
echo "could not install: ${missing[*]}" >&2
exit 1
