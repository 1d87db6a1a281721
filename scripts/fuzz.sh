#!/usr/bin/env bash
# Builds the loader fuzz target with clang (libFuzzer, AddressSanitizer, UndefinedBehavior-
# Sanitizer) and runs it for a bounded time, starting from the seed corpus in tests/fuzz/corpus.
# Usage: scripts/fuzz.sh [SECONDS]   (default 60). Needs clang and libclang-rt (Debian: clang,
# libclang-rt-14-dev or the matching version).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
out=build/fuzz
mkdir -p "$out/corpus" "$out/artifacts"
cxx=${CXX_FUZZ:-$(command -v clang++ || command -v clang++-14)}

"$cxx" -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I. tests/fuzz/loader_fuzz.cpp \
  engine/flash_updater.cpp engine/firmware_loader.cpp engine/download_commands.cpp \
  engine/update_run.cpp sumseal/sumseal.cpp sumseal/seal.cpp \
  -o "$out/loader_fuzz"

# Work on a copy so that the seeds in the repository stay as they are.
cp tests/fuzz/corpus/* "$out/corpus/"
"$out/loader_fuzz" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$out/artifacts/" -print_final_stats=1 "$out/corpus"
