#!/bin/sh
# Builds and runs the selection benchmark: names per second through a
# monitor task's full selection test, and allocations while testing.
#   scripts/bench-filter.sh [build-folder]
set -eu
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
"$(dirname "$0")/build.sh" "$BUILD" --target bench_filter_selection
"$BUILD/bin/bench_filter_selection"
