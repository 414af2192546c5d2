#!/bin/sh
# Builds the programs and runs them on a ready sample in a temporary folder.
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh build
echo "Built programs:"
ls build/bin
