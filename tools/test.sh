#!/usr/bin/env bash
# Builds everything and runs every test: the Windows programs under Wine in the i686 tree (where
# 32-bit code runs) and in the x86_64 tree (always: it is what a machine without 32-bit code tests,
# so a fault of either tree shows here), the import-table checks of the shipped 32-bit binaries,
# and the native tests with the core under ThreadSanitizer and the parser's fuzz run. Exits
# non-zero when any tree's ctest failed.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
root="${OVS_BUILD:-build}"
run_arch=$(tools/winearch)
if [ "$run_arch" != i686 ]; then
  echo "note: this machine cannot execute 32-bit code; the shipped i686 binaries are built and"
  echo "      checked, and the tests run the same sources built for $run_arch under 64-bit Wine."
fi
tools/build.sh
log=$(mktemp)
if ! CC=clang CXX=clang++ cmake -S . -B "$root/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  echo "test.sh: configuring the native tree failed (output above)" >&2
  exit 1
fi
rm -f "$log"
cmake --build "$root/native"

trees=("$root/i686" "$root/x86_64" "$root/native")
failed=()
for dir in "${trees[@]}"; do
  echo "== tests in $dir"
  (cd "$dir" && ctest --output-on-failure --timeout 900) || failed+=("$dir")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "test.sh: ctest failed in ${failed[*]}" >&2
  exit 1
fi
echo "test.sh: ctest passed in ${trees[*]}"
