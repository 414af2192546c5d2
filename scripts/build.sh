#!/bin/sh
# Configures (once) and builds the project.
#   scripts/build.sh [build-folder] [cmake --build arguments...]
# Builds on this machine are serialised through a lock file so that several
# checkouts never compile at the same time on its two cores.
set -eu
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
[ $# -gt 0 ] && shift
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE="${KES_BUILD_TYPE:-RelWithDebInfo}" \
    -DKES_WERROR="${KES_WERROR:-OFF}" -DKES_SANITIZE="${KES_SANITIZE:-OFF}"
fi
if command -v flock >/dev/null 2>&1; then
  exec flock /tmp/kestrup-build.lock cmake --build "$BUILD" -j2 "$@"
fi
exec cmake --build "$BUILD" -j2 "$@"
