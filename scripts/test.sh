#!/bin/sh
# Builds the project (warnings are errors) and runs every test except the
# ones labelled "large" (run those with: ctest -L large) and "systemd" (a
# real user manager in private namespaces: ctest -L systemd) and "package"
# (the Debian package in a fresh root: KES_PACKAGE_TESTS=1 ctest -L package).
#   scripts/test.sh [build-folder]
set -eu
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
"$(dirname "$0")/build.sh" "$BUILD"
cd "$BUILD"
ctest --output-on-failure -j2 -LE 'large|systemd|package'
