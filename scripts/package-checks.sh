#!/usr/bin/env bash
# Checks what the project ships, used as a user receives it:
#   - `cmake --install` of the default build into a temporary prefix, then
#     moved elsewhere: the examples build out of tree against it through
#     find_package and through pkg-config and run against the installed
#     simulated driver, and the installed qvx runs;
#   - the .deb (target `package` of the default build): its files, its
#     dependencies, and an install and a removal by dpkg in a scratch root;
#   - the Windows zip (target `package` of the win32 build): its files, and
#     a program calling every function links against each import library,
#     libquorvex.dll.a with MinGW and QUORVEX.lib with clang and lld-link,
#     each call importing the DLL's export of its function.
# Uses the builds that test-all.sh made and builds what is missing. Prints
# one line per check and the totals as "N tests failed out of M".
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

version=$(sed -n 's/^project(quorvex VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
major=${version%%.*}
libdir=lib/$(gcc -print-multiarch)
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-package.XXXXXX")
trap '$SUDO rm -rf "$work"' EXIT

# What an install holds, relative to its prefix (the .deb: under usr/).
linux_files=(
  bin/qvx bin/quorvex_info
  include/quorvex.h include/quorvex.hpp include/quorvex_status.h include/quorvex.def
  include/kestro_sim.h
  "$libdir/libquorvex.so" "$libdir/libquorvex.so.$major" "$libdir/libquorvex.so.$version"
  "$libdir/libkestrolib.so"
  "$libdir/cmake/quorvex/quorvex-config.cmake" "$libdir/cmake/quorvex/quorvex-config-version.cmake"
  "$libdir/pkgconfig/quorvex.pc"
  share/doc/quorvex/README.md
)
# What the Windows zip holds, relative to its top folder.
windows_files=(
  bin/QUORVEX.dll bin/kestrolib.dll bin/qvx.exe bin/quorvex_info.exe
  include/quorvex.h include/quorvex.hpp include/quorvex_status.h include/quorvex.def
  include/kestro_sim.h
  lib/libquorvex.dll.a lib/QUORVEX.lib lib/cmake/quorvex/quorvex-config.cmake
  share/doc/quorvex/README.md
)

passed=0
failed=0
# check <description> <function>: runs the function, shows its output when it fails.
check() {
  local log="$work/log"
  if "$2" >"$log" 2>&1; then
    echo "ok: $1"
    passed=$((passed + 1))
  else
    echo "FAILED: $1"
    sed 's/^/  /' "$log"
    failed=$((failed + 1))
  fi
}

# has_files <root> <file>...: every file is there (a link counts).
has_files() {
  local root=$1 missing=0
  shift
  for f in "$@"; do
    [ -e "$root/$f" ] || [ -L "$root/$f" ] || { echo "missing: $f"; missing=1; }
  done
  return $missing
}

package() { # package <preset>: builds it with its package
  [ -f "build/$1/build.ninja" ] || cmake --preset "$1" >/dev/null || return 1
  cmake --build "build/$1" --target package
}

# ---- cmake --install and the two ways of building against it -------------

prefix=$work/moved
installed() {
  cmake --install build/default --prefix "$work/prefix" >/dev/null &&
    mv "$work/prefix" "$prefix" &&
    has_files "$prefix" "${linux_files[@]}" &&
    objdump -p "$prefix/$libdir/libquorvex.so.$version" | grep -q "SONAME *libquorvex.so.$major$" &&
    "$prefix/bin/qvx" info | grep "simulated module"
}
run_examples() { # run_examples <folder>
  "$1/c_capture" && "$1/cpp_capture"
}
through_find_package() {
  cmake -S examples -B "$work/find_package" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" &&
    cmake --build "$work/find_package" && run_examples "$work/find_package"
}
through_pkg_config() {
  local out=$work/pkg_config
  mkdir -p "$out"
  local -x PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
  local flags
  read -ra flags <<<"$(pkg-config --cflags --libs quorvex)"
  [ "$(pkg-config --modversion quorvex)" = "$version" ] &&
    cc -Wall -Werror -o "$out/c_capture" examples/c_capture.c "${flags[@]}" &&
    c++ -std=c++20 -Wall -Werror -o "$out/cpp_capture" examples/cpp_capture.cpp "${flags[@]}" &&
    LD_LIBRARY_PATH=$prefix/$libdir run_examples "$out"
}

# ---- the .deb --------------------------------------------------------------

deb=build/default/quorvex_${version}_$(dpkg --print-architecture).deb
deb_files() {
  dpkg-deb -x "$deb" "$work/deb" && has_files "$work/deb/usr" "${linux_files[@]}"
}
# Every shared library that a binary of the package needs and the package
# does not hold comes from a package it depends on, and apt can satisfy
# them all here.
deb_depends() {
  local depends needed owners missing=0
  depends=", $(dpkg-deb -f "$deb" Depends),"
  echo "Depends: $depends"
  for f in "$work/deb/usr/bin"/* "$work/deb/usr/$libdir"/*; do
    if [ ! -f "$f" ] || [ -L "$f" ]; then continue; fi
    for needed in $(objdump -p "$f" 2>/dev/null | awk '$1 == "NEEDED" { print $2 }'); do
      [ -e "$work/deb/usr/$libdir/$needed" ] && continue
      owners=$(dpkg -S "*/${libdir#lib/}/$needed" 2>/dev/null | cut -d: -f1 | sort -u)
      for owner in $owners; do
        [[ $depends == *", $owner "* || $depends == *", $owner,"* ]] && continue 2
      done
      echo "${f#"$work/deb/"} needs $needed (from '${owners:-?}'), which Depends lacks"
      missing=1
    done
  done
  apt-get -s install "./$deb" >/dev/null || missing=1
  return $missing
}
# dpkg installs and removes it in a scratch root (its dependencies are
# the system's, so they are not looked for there), and leaves nothing.
deb_install_remove() {
  local root=$work/root
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  touch "$root/var/lib/dpkg/status"
  local dpkg=(dpkg --root="$root" --force-depends --force-script-chrootless)
  [ -n "$SUDO" ] && dpkg=(sudo "${dpkg[@]}")
  "${dpkg[@]}" -i "$deb" && "${dpkg[@]}" -L quorvex | grep -q "/libquorvex.so.$version$" &&
    "${dpkg[@]}" --purge quorvex || return 1
  local left
  left=$(find "$root" -mindepth 1 -not -path "$root/var" -not -path "$root/var/lib" \
    -not -path "$root/var/lib/dpkg*")
  [ -z "$left" ] || { echo "left behind: $left"; return 1; }
}

# ---- the Windows zip -------------------------------------------------------

zip=build/win32/quorvex-$version-win32.zip
kit=$work/zip/quorvex-$version-win32
check_tool=tests/windows/check_interface.py
zip_files() {
  unzip -q "$zip" -d "$work/zip" && has_files "$kit" "${windows_files[@]}"
}
# calls_c: writes calls.c, a program calling every function of the header.
calls_c() {
  python3 "$check_tool" calls --header "$kit/include/quorvex.h" >"$work/calls.c"
}
imports_resolve() { # imports_resolve <exe>
  python3 "$check_tool" implib --objdump llvm-objdump --readobj llvm-readobj --exe "$1" \
    --dll "$kit/bin/QUORVEX.dll" --header "$kit/include/quorvex.h"
}
mingw_import_library() {
  calls_c && i686-w64-mingw32-gcc -Wall -Wextra -Werror -I"$kit/include" "$work/calls.c" -L"$kit/lib" \
    -lquorvex -o "$work/calls_mingw.exe" && imports_resolve "$work/calls_mingw.exe"
}
# No Microsoft runtime here: linked without it, from main; enough to see
# every import resolve.
msvc_import_library() {
  calls_c && clang --target=i686-pc-windows-msvc -Wall -Wextra -Werror -I"$kit/include" -c "$work/calls.c" \
    -o "$work/calls.obj" &&
    lld-link /nologo /nodefaultlib /entry:main /subsystem:console /debug:symtab \
      /out:"$work/calls_msvc.exe" "$work/calls.obj" "$kit/lib/QUORVEX.lib" &&
    imports_resolve "$work/calls_msvc.exe"
}

echo "=== package checks ==="
if package default >"$work/build.log" 2>&1; then
  check "cmake --install into a prefix, moved: $libdir/libquorvex.so.$major and the rest" installed
  check "examples built through find_package(quorvex) run" through_find_package
  check "examples built through pkg-config run" through_pkg_config
  check "the .deb holds the installed files" deb_files
  check "the .deb depends on the package of every library its binaries need" deb_depends
  check "dpkg installs the .deb and removes it cleanly" deb_install_remove
else
  tail -n 30 "$work/build.log"
  echo "FAILED: package of the default build"
  failed=$((failed + 1))
fi
if package win32 >"$work/build.log" 2>&1; then
  check "the Windows zip holds the DLLs, tools, headers, .def and both import libraries" zip_files
  check "libquorvex.dll.a: MinGW links every call to its export" mingw_import_library
  check "QUORVEX.lib: lld-link links every call to its export" msvc_import_library
else
  tail -n 30 "$work/build.log"
  echo "FAILED: package of the win32 build"
  failed=$((failed + 1))
fi

total=$((passed + failed))
echo "package checks: $((100 * passed / total))% tests passed, $failed tests failed out of $total"
[ "$failed" -eq 0 ]
