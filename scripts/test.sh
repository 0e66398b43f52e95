#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors and runs every test,
# including the replay of every fuzz corpus and every input that once found a fault.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${EFT_BUILD_DIR:-$root/build}"
EFT_WERROR=ON "$root/scripts/build.sh"
cd "$build"
ctest --output-on-failure --parallel "$(nproc)" --timeout 300
