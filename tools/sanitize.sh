#!/usr/bin/env bash
# Builds Kavelon and every test with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan and runs the tests there. The wine tests are left out: they run Windows programs
# that this build does not instrument.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-asan -G Ninja -DKAVELON_SANITIZE=ON "${launcher[@]}"
cmake --build build-asan
ctest --test-dir build-asan --output-on-failure -LE wine
