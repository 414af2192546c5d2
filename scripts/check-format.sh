#!/bin/sh
# Fails when a C++ file of the repository is not formatted with the
# project's .clang-format.
set -eu
cd "$(dirname "$0")/.."
bad=$(git ls-files '*.cpp' '*.h' | while read -r f; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || echo "$f"
done)
if [ -n "$bad" ]; then
  echo "Not formatted with .clang-format (run clang-format -i on them):"
  echo "$bad"
  exit 1
fi
echo "All C++ files are formatted."
