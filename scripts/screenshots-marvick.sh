#!/bin/sh
# Takes the README's screenshots of Marvick (main window light and dark,
# the desktop shortcut dialog, the preview) on a private Xvfb display and
# stores them in docs/.
#   scripts/screenshots-marvick.sh [build-folder]
set -eu
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
"$(dirname "$0")/build.sh" "$BUILD" --target marvick_screenshots
command -v Xvfb >/dev/null || { echo "Xvfb is needed (apt-get install xvfb)" >&2; exit 1; }
DISPLAY_NUMBER=98
Xvfb ":$DISPLAY_NUMBER" -screen 0 1280x900x24 -nolisten tcp -noreset >/dev/null 2>&1 &
XVFB=$!
trap 'kill $XVFB 2>/dev/null || true' EXIT
i=0
while [ ! -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
# Run under the program's own name, so that its texts say "Marvick".
WORK=$(mktemp -d)
trap 'kill $XVFB 2>/dev/null || true; rm -rf "$WORK"' EXIT
cp "$BUILD/bin/marvick_screenshots" "$WORK/Marvick"
for variant in light dark; do
  env -u WAYLAND_DISPLAY DISPLAY=":$DISPLAY_NUMBER" QT_QPA_PLATFORM=xcb LANGUAGE= LC_ALL=C.UTF-8 \
    XDG_CONFIG_HOME="$WORK/config" KES_LOCALE_DIR="$PWD/$BUILD/share/locale" "$WORK/Marvick" docs "$variant"
done
