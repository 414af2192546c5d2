#!/bin/sh
# Builds the libFuzzer target of the engine's readers with clang and runs it.
#   scripts/fuzz.sh [build-folder] [seconds]
set -eu
cd "$(dirname "$0")/.."
BUILD="${1:-build-fuzz}"
SECONDS_TO_RUN="${2:-60}"
if [ ! -f "$BUILD/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKES_WERROR=OFF -DKES_FUZZ=ON -DKES_BUILD_BENCH=OFF
fi
./scripts/build.sh "$BUILD" --target fuzz_engine_readers
mkdir -p "$BUILD/fuzz-corpus"
"$BUILD/bin/fuzz_engine_readers" -max_total_time="$SECONDS_TO_RUN" -rss_limit_mb=2048 "$BUILD/fuzz-corpus"
