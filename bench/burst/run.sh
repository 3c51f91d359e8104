#!/usr/bin/env bash
# run.sh [ARGS...]: the burst benchmark in an already built tree ($OVS_BUILD, default build/).
# Uses the tree's own Wine prefix: do not run it while that tree's tests run.
set -euo pipefail
cd "$(dirname "$0")/../.."
root="${OVS_BUILD:-build}"
case "$root" in /*) ;; *) root="$PWD/$root" ;; esac  # relative to the repository, or absolute
export OVS_TOOLS="$PWD/tools" PYTHONDONTWRITEBYTECODE=1
exec python3 bench/burst/burst_bench.py "$root/$(tools/winearch)" "$@"
