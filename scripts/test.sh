#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test, including the replay of
# every fuzz corpus and every input that once found a fault. A compiler warning in any object
# of the build fails the run, whichever command compiled it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${EFT_BUILD_DIR:-$root/build}"
"$root/scripts/build.sh"
warned=()
while IFS= read -r -d '' file; do
  [ -e "${file%.warnings}" ] && warned+=("$file")
done < <(find "$build" -name '*.warnings' -size +0 -print0)
if [ ${#warned[@]} -gt 0 ]; then
  echo "Compiler warnings in ${#warned[@]} objects:" >&2
  cat "${warned[@]}" >&2
  exit 1
fi
cd "$build"
ctest --output-on-failure --parallel "$(nproc)" --timeout 300
