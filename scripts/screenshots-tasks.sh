#!/bin/sh
# Takes the pictures of the scheduled-task wizard's pages and the task
# selection (light and dark) on a private Xvfb display and stores them in
# docs/ as marvick-wizard-*.png and marvick-tasks-*.png. The dialogs are
# opened by their widget tests over a fake user manager, which save grabs
# when KES_SCREENSHOTS names a folder.
#   scripts/screenshots-tasks.sh [build-folder]
set -eu
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
"$(dirname "$0")/build.sh" "$BUILD" --target test_marvick_tasks
command -v Xvfb >/dev/null || { echo "Xvfb is needed (apt-get install xvfb)" >&2; exit 1; }
DISPLAY_NUMBER=96
Xvfb ":$DISPLAY_NUMBER" -screen 0 1280x900x24 -nolisten tcp -noreset >/dev/null 2>&1 &
XVFB=$!
trap 'kill $XVFB 2>/dev/null || true' EXIT
i=0
while [ ! -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
for variant in light dark; do
  env -u WAYLAND_DISPLAY DISPLAY=":$DISPLAY_NUMBER" QT_QPA_PLATFORM=xcb LANGUAGE= LC_ALL=C.UTF-8 \
    KES_SCREENSHOTS="$PWD/docs" KES_SCREENSHOT_VARIANT="$variant" \
    "$BUILD/bin/test_marvick_tasks" --gtest_filter='TaskDialogs.ATaskMadeWithTheWizardsControls:TaskDialogWidgets.*'
done
ls docs/marvick-wizard-*.png docs/marvick-tasks-*.png
