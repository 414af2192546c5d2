#!/bin/bash
# Soak test of Selwand's backup promise: a writer keeps changing files while
# Selwand is killed with SIGKILL again and again (at random moments, passes
# in progress or not), then one clean run backs up what is left. Prints how
# many source files are missing or stale at the destination; that figure
# must be 0.
#   scripts/soak-selwand.sh [cycles] [build-folder]
set -u
cd "$(dirname "$0")/.."
CYCLES="${1:-8}"
BUILD="${2:-build}"
SELWAND="$PWD/$BUILD/bin/Selwand"
[ -x "$SELWAND" ] || { echo "Selwand is not built: $SELWAND" >&2; exit 2; }

WORK=$(mktemp -d /tmp/selwand-soak.XXXXXX)
trap 'kill $WRITER 2>/dev/null; kill -9 $PID 2>/dev/null; rm -rf "$WORK"' EXIT
DATA="$WORK/data"
DEST="$WORK/dest"
CFG="$WORK/cfg"
mkdir -p "$DATA" "$DEST" "$CFG/Kesmo6"
printf '[Global]\nDestination=%s/\nDestMode=1\nDirCount=1\n[Dir000]\nSource=%s\nBackupMode=1\n' \
  "$DEST" "$DATA" > "$WORK/task.buj"
printf '[Config]\nInterval=5\nCount=1\n[Monitor00]\nBackupTask=%s\nDirectory=%s\nRetainBak=2\nEnabled=1\n' \
  "$WORK/task.buj" "$DATA" > "$CFG/Kesmo6/Selwand.ini"
export XDG_CONFIG_HOME="$CFG" LANGUAGE= LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY

# The load: 400 files in 8 folders, rewritten in random order, each write
# complete in itself (written beside and renamed, as editors do) or in place.
writer() {
  local n=0
  while :; do
    local d=$((RANDOM % 8)) f=$((RANDOM % 50))
    mkdir -p "$DATA/dir$d"
    if ((RANDOM % 2)); then
      head -c $((RANDOM % 20000)) /dev/urandom > "$DATA/dir$d/.w$f" && mv "$DATA/dir$d/.w$f" "$DATA/dir$d/f$f.bin"
    else
      head -c $((RANDOM % 20000)) /dev/urandom > "$DATA/dir$d/f$f.bin"
    fi
    n=$((n + 1))
    ((n % 25)) || sleep 0.02
  done
}
writer &
WRITER=$!

PID=0
kills=0
for ((c = 1; c <= CYCLES; c++)); do
  "$SELWAND" /force > "$WORK/run$c.log" 2>&1 &
  PID=$!
  # Random life: passes start by the interval and by SIGUSR1.
  life=$((500 + RANDOM % 6000))
  for ((t = 0; t < life; t += 250)); do
    sleep 0.25
    ((RANDOM % 4)) || kill -USR1 $PID 2>/dev/null
  done
  kill -9 $PID 2>/dev/null && kills=$((kills + 1))
  wait $PID 2>/dev/null
done

# The writer stops; one clean run takes what is left.
kill $WRITER
wait $WRITER 2>/dev/null
"$SELWAND" /force > "$WORK/final.log" 2>&1 &
PID=$!
sleep 1
kill -USR1 $PID
sleep 2
kill -TERM $PID
wait $PID
status=$?

files=0 missing=0 stale=0
while IFS= read -r -d '' src; do
  case "$(basename "$src")" in .w*) continue ;; esac
  files=$((files + 1))
  copy="$DEST$src"
  if [ ! -f "$copy" ]; then
    missing=$((missing + 1))
  elif ! cmp -s "$src" "$copy"; then
    stale=$((stale + 1))
  fi
done < <(find "$DATA" -type f -print0)
leftovers=$(find "$DEST" -name '*.tmp' | wc -l)

echo "cycles with kill -9: $kills, source files: $files, final run exit status: $status"
echo "missing at the destination: $missing"
echo "stale at the destination: $stale"
echo "temporary copies left: $leftovers"
echo "missing or stale: $((missing + stale))"
[ $((missing + stale)) -eq 0 ] && [ "$status" -eq 0 ]
