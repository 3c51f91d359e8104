#!/usr/bin/env bash
# run.sh [ARGS...]: the TCP benchmark in an already built tree ($OVS_BUILD, default build/).
# Uses the tree's own Wine prefix: do not run it while that tree's tests run.
set -euo pipefail
cd "$(dirname "$0")/../.."
source bench/tree_env.sh
exec python3 bench/tcp/tcp_bench.py "$@"
