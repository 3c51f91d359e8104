#!/usr/bin/env bash
# run.sh [ARGS...]: the store-and-forward benchmark in an already built tree ($OVS_BUILD, default build/).
# Uses the tree's own Wine prefix: do not run it while that tree's tests run.
set -euo pipefail
cd "$(dirname "$0")/../.."
root="${OVS_BUILD:-build}"
arch=$(tools/winearch)
tree="$PWD/$root/$arch"
export OVS_WINEPREFIX="$tree/wineprefix" OVS_WINEARCH=win64 OVS_BIN="$tree/bin" OVS_TOOLS="$PWD/tools"
[ "$arch" = i686 ] && OVS_WINEARCH=win32
export PYTHONPATH="$PWD/tools/python" PYTHONDONTWRITEBYTECODE=1
exec python3 bench/spool/spool_bench.py "$@"
