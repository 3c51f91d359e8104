#!/usr/bin/env bash
# run.sh [ARGS...]: the whole-chain benchmark in an already built tree ($OVS_BUILD, default build/).
# Uses the tree's own Wine prefix: do not run it while that tree's tests run.
set -euo pipefail
cd "$(dirname "$0")/../.."
source bench/tree_env.sh
exec python3 bench/chain/chain_bench.py "$@"
