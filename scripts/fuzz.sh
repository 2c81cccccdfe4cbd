#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS
# (default 15, so that the whole stage takes about two and a half minutes);
# fails when one of them finds a crash. Each starts from the seeds in
# tests/fuzz/seeds/<target>/ (and the saved pages of tests/data).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${FUZZ_BUILD_DIR:-$PWD/build-fuzz}
SECONDS_EACH=${FUZZ_SECONDS:-15}
# The libraries are instrumented too, so coverage reaches the readers.
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DGH_FUZZ=ON -DGH_TESTS=ON -DGH_BENCH=OFF -DGH_SANITIZE=ON \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$BUILD" --target fuzz_targets
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}
status=0
TARGETS=(fuzz_page_text fuzz_cut fuzz_search_crawl fuzz_update_page fuzz_bid_answer fuzz_history_pages
  fuzz_cookies_txt fuzz_profiles_ini fuzz_cookie_store)
for target in "${TARGETS[@]}"; do
  corpus="$BUILD/fuzz-corpus/$target"
  mkdir -p "$corpus"
  seeds=()
  if [ -d "$PWD/tests/fuzz/seeds/$target" ]; then seeds+=("$PWD/tests/fuzz/seeds/$target"); fi
  if [ "$target" = fuzz_page_text ]; then seeds+=("$PWD/tests/data"); fi
  echo "== $target for ${SECONDS_EACH}s"
  if ! (cd "$BUILD" && "$BUILD/bin/$target" -max_total_time="$SECONDS_EACH" -max_len=8192 \
        -print_final_stats=1 "$corpus" "${seeds[@]}"); then
    echo "fuzz: $target found a crash (reproducer in $BUILD)" >&2
    status=1
  fi
done
exit $status
