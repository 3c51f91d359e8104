#!/usr/bin/env bash
# build.sh [ARCH...]: configures and builds the Windows binaries under $OVS_BUILD (default build/),
# one tree per architecture. Without arguments: i686 (shipped) and, where this machine cannot run
# 32-bit programs, x86_64 for running the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
root="${OVS_BUILD:-build}"
run_arch=$(tools/winearch)
archs=("$@")
[ ${#archs[@]} -gt 0 ] || { archs=(i686); [ "$run_arch" = i686 ] || archs+=("$run_arch"); }
for arch in "${archs[@]}"; do
  wine_tests=OFF; [ "$arch" = "$run_arch" ] && wine_tests=ON
  cmake -S . -B "$root/$arch" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw.cmake -DOVS_ARCH="$arch" -DOVS_WINE_TESTS=$wine_tests >/dev/null
  cmake --build "$root/$arch"
done
