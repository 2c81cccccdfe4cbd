#!/usr/bin/env bash
# Installs what is needed, builds, and starts gavelhawk (arguments pass on,
# e.g. --demo).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGH_TESTS=OFF >/dev/null
cmake --build build
exec build/bin/gavelhawk "$@"
