#!/usr/bin/env bash
# Configures and builds EFTMemb into build/ (or $EFT_BUILD_DIR). Extra arguments are build targets.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${EFT_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel "$(nproc)" ${1:+--target "$@"}
