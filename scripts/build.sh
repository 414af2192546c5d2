#!/bin/sh
# Configures (once) and builds the project.
#   scripts/build.sh [build-folder] [cmake --build arguments...]
# Builds on this machine are serialised through a lock file so that several
# checkouts never compile at the same time on its two cores.
set -eu
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
[ $# -gt 0 ] && shift
# Warnings are errors in every build of ours (the CMake option defaults to
# off for other consumers).
if [ ! -f "$BUILD/build.ninja" ] || [ -n "${KES_RECONFIGURE:-}" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE="${KES_BUILD_TYPE:-RelWithDebInfo}" \
    -DKES_WERROR="${KES_WERROR:-ON}" -DKES_SANITIZE="${KES_SANITIZE:-OFF}"
fi
if command -v flock >/dev/null 2>&1; then
  exec flock /tmp/kestrup-build.lock cmake --build "$BUILD" -j2 "$@"
fi
exec cmake --build "$BUILD" -j2 "$@"
