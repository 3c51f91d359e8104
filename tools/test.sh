#!/usr/bin/env bash
# Builds everything and runs every test: the Windows programs under Wine, the import-table checks
# of the shipped 32-bit binaries, and the native tests with the parser's fuzz run.
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
CC=clang CXX=clang++ cmake -S . -B "$root/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/native"

passed=0 failed=0 status=0
for dir in "$root/i686" "$root/$run_arch" "$root/native"; do
  [ -d "$dir" ] || continue
  case " ${done_dirs:-} " in *" $dir "*) continue ;; esac
  done_dirs="${done_dirs:-} $dir"
  echo "== tests in $dir"
  log=$(mktemp)
  (cd "$dir" && ctest --output-on-failure --timeout 900) 2>&1 | tee "$log" || status=1
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  rm -f "$log"
  if [ -z "$line" ]; then status=1; continue; fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad)) failed=$((failed + bad))
done
echo "all test trees: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && exit $status || exit 1
