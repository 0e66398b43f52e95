#!/usr/bin/env bash
# Configures and builds EFTMemb into build/ (or $EFT_BUILD_DIR). Extra arguments are build targets.
# The run command and the test command both build here with the same flags, so neither
# rebuilds what the other built; compiler warnings are kept beside each object
# (scripts/compile-launcher.sh) and scripts/test.sh fails on them.
# EFT_CMAKE_ARGS adds configure options, e.g. EFT_CMAKE_ARGS=-DEFTMEMB_SANITIZE=address,undefined.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${EFT_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
launcher="$root/scripts/compile-launcher.sh"
command -v ccache >/dev/null && launcher="$launcher;ccache"
# shellcheck disable=SC2086  # EFT_CMAKE_ARGS is a list of words
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${EFT_BUILD_TYPE:-RelWithDebInfo}" \
  -DEFTMEMB_WERROR=OFF "-DCMAKE_CXX_COMPILER_LAUNCHER=$launcher" ${EFT_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" --parallel "$(nproc)" ${1:+--target "$@"}
