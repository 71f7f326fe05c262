#!/usr/bin/env bash
# Builds the benchmarks and runs them all: one line per figure with its size, time, baseline,
# ratio and target. Figures on a busy machine vary; run it when the machine is quiet.
#   bash tools/bench.sh [orders] [confirmations] [progress lines] [pending orders] [page lines]
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -G Ninja > /dev/null
cmake --build build --target kavelon kavelon-portal bench_exchange bench_window > /dev/null
runtime="$(mktemp -d)"
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$runtime}"
build/bench/bench_exchange build/src/app/kavelon build/tools/kavelon-portal/kavelon-portal \
  "${1:-1000}" "${2:-2000}"
build/bench/bench_window "${3:-10000}" "${4:-10000}" "${5:-5000}"
