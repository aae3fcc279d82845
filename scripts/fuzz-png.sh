#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fuzzes the PNG decoder with libFuzzer under address and undefined-behaviour checks.
#   scripts/fuzz-png.sh [seconds]   (default 60)
# Builds into build-fuzz/ with clang; findings (crash-*, leak-*, timeout-*) land in
# build-fuzz/findings/. Not part of the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build=build-fuzz
sanitizers="address,undefined"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZUB3_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link,$sanitizers -fno-omit-frame-pointer" \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,$sanitizers -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=$sanitizers" >/dev/null
cmake --build "$build" --target fuzz_PngImage --parallel 2

# Start from the program's own icons; the dictionary knows the chunk names.
corpus="$build/corpus"
mkdir -p "$corpus" "$build/findings"
cp widgets/icons/*.png "$corpus/"
printf '"\\x89PNG\\x0d\\x0a\\x1a\\x0a"\n"IHDR"\n"PLTE"\n"tRNS"\n"gAMA"\n"pHYs"\n"IDAT"\n"IEND"\n"zTXt"\n"iCCP"\n' \
  > "$build/png.dict"
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  "$build/tests/fuzz_PngImage" "$corpus" -dict="$build/png.dict" -max_total_time="$seconds" \
  -timeout=10 -rss_limit_mb=2048 -max_len=65536 -artifact_prefix="$build/findings/" \
  -print_final_stats=1
