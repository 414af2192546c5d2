#!/bin/sh
# Builds the project with warnings as errors and runs every test.
#   scripts/test.sh [build-folder]
set -eu
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
KES_WERROR=ON "$(dirname "$0")/build.sh" "$BUILD"
cd "$BUILD"
ctest --output-on-failure -j2 -LE large
