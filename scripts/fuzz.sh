#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (ASan+UBSan) into build-fuzz/ (or
# $EFT_FUZZ_BUILD_DIR) and runs each target for SECONDS (default 60) on a copy of its seed
# corpus. Needs clang and libclang-rt-14-dev (install-deps.sh --fuzz installs them). Extra
# arguments name the targets to run (default: all of them).
#
# A target that finds a fault stops with its crashing input saved as
# $build/findings/<target>/crash-* (with EFT_FUZZ_KEEP_GOING=1 it runs on in libFuzzer's fork
# mode and collects every fault it meets for the whole time); once the fault is mended, copy that
# input into fuzz/regressions/<target>/ so every build's tests replay it from then on.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${EFT_FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${1:-60}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(sed -n '/^set(EFT_FUZZ_TARGETS/,/^)/{s/^  \([a-z_]*\).*/\1/p}' "$root/fuzz/CMakeLists.txt")
fi

"$root/scripts/install-deps.sh" --fuzz
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DEFTMEMB_FUZZ=ON -DEFTMEMB_BUILD_QT=OFF -DEFTMEMB_BUILD_BENCH=OFF -DBUILD_TESTING=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target $(printf 'eft_fuzz_%s ' "${targets[@]}")

status=0
for t in "${targets[@]}"; do
  work="$build/findings/$t"
  mkdir -p "$work/corpus"
  cp -n "$root/fuzz/corpus/$t/"* "$work/corpus/" 2>/dev/null || true
  echo "== $t for ${seconds}s"
  # -rss_limit_mb: the reader targets parse replies of a few MB; more than 2 GB is a fault.
  keep_going=()
  [ "${EFT_FUZZ_KEEP_GOING:-0}" = 1 ] && keep_going=(-fork=1 -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1)
  if ! (cd "$work" && "$build/fuzz/eft_fuzz_$t" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=30 \
        -print_final_stats=1 "${keep_going[@]}" corpus 2>&1 | tee "$work/last-run.log" | tail -n 25); then
    status=1
  fi
  if ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* >/dev/null 2>&1; then
    echo "!! $t found faults: $(ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* 2>/dev/null | tr '\n' ' ')"
    status=1
  fi
done
exit $status
