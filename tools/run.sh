#!/usr/bin/env bash
# Installs what is missing, builds Kavelon and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -G Ninja
cmake --build build
if [ -x build/src/app/kavelon ]; then
  exec build/src/app/kavelon "$@"
fi
echo "Kavelon is built; the window program follows with the main window."
