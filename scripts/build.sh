#!/usr/bin/env bash
# Configures and builds EFTMemb into build/ (or $EFT_BUILD_DIR). Extra arguments are build targets.
# EFT_WERROR=ON makes warnings errors (scripts/test.sh and CI set it; a user's build does not).
# EFT_CMAKE_ARGS adds configure options, e.g. EFT_CMAKE_ARGS=-DEFTMEMB_SANITIZE=address,undefined.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${EFT_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# shellcheck disable=SC2086  # EFT_CMAKE_ARGS is a list of words
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${EFT_BUILD_TYPE:-RelWithDebInfo}" \
  -DEFTMEMB_WERROR="${EFT_WERROR:-OFF}" "${launcher[@]}" ${EFT_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" --parallel "$(nproc)" ${1:+--target "$@"}
