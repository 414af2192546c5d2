#!/bin/sh
# Builds and runs the benchmark of Selwand's window (25 tasks, 10,000
# pending files: start to first paint, stops of the event loop during a
# backup pass) on a private Xvfb display, and prints its figures.
#   scripts/bench-selwand-window.sh [build-folder] [folder to work in] [starts]
set -eu
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
"$(dirname "$0")/build.sh" "$BUILD" --target bench_selwand_window
shift $(( $# > 0 ? 1 : 0 ))
if command -v Xvfb >/dev/null; then
  DISPLAY_NUMBER=96
  Xvfb ":$DISPLAY_NUMBER" -screen 0 1280x900x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  XVFB=$!
  trap 'kill $XVFB 2>/dev/null || true' EXIT
  i=0
  while [ ! -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
  sleep 0.2
  env -u WAYLAND_DISPLAY DISPLAY=":$DISPLAY_NUMBER" QT_QPA_PLATFORM=xcb "$BUILD/bin/bench_selwand_window" "$@"
else
  echo "Xvfb not found: offscreen platform" >&2
  QT_QPA_PLATFORM=offscreen "$BUILD/bin/bench_selwand_window" "$@"
fi
