#!/bin/sh
# Builds and runs the directory watcher's benchmark and prints its figures.
#   scripts/bench-watcher.sh [build-folder] [folder to work in [tree]]
# The work folder defaults to /dev/shm (tmpfs) when present: creating
# 100,000 files on a slow disk cannot reach the rates to be measured.
set -eu
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
"$(dirname "$0")/build.sh" "$BUILD" --target bench_watcher
shift $(( $# > 0 ? 1 : 0 ))
exec "$BUILD/bin/bench_watcher" "$@"
