#!/usr/bin/env bash
# build.sh [ARCH...]: configures and builds the Windows binaries under $OVS_BUILD (default build/),
# one tree per architecture. Without arguments: i686 (shipped) and x86_64, the tree that a machine
# which cannot run 32-bit programs tests, so that both trees' tests run wherever they can. A
# tree's Wine tests are on where its programs run here: the i686 tree where 32-bit code runs, the
# x86_64 tree always.
set -euo pipefail
cd "$(dirname "$0")/.."
root="${OVS_BUILD:-build}"
run_arch=$(tools/winearch)
archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=(i686 x86_64)
for arch in "${archs[@]}"; do
  wine_tests=OFF; { [ "$arch" = "$run_arch" ] || [ "$arch" = x86_64 ]; } && wine_tests=ON
  # Quiet when it works; the whole configure output when it does not.
  log=$(mktemp)
  if ! cmake -S . -B "$root/$arch" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw.cmake -DOVS_ARCH="$arch" -DOVS_WINE_TESTS=$wine_tests >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "build.sh: configuring the $arch tree failed (output above)" >&2
    exit 1
  fi
  rm -f "$log"
  cmake --build "$root/$arch"
done
