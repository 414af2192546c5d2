#!/bin/sh
# Builds and runs Selwand's benchmark (change collection, backup pass
# against cp -r) and prints its figures.
#   scripts/bench-selwand.sh [build-folder] [folder to work in]
# The work folder defaults to /dev/shm (tmpfs) when present.
set -eu
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
"$(dirname "$0")/build.sh" "$BUILD" --target bench_selwand_pass
shift $(( $# > 0 ? 1 : 0 ))
exec "$BUILD/bin/bench_selwand_pass" "$@"
