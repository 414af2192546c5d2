#!/bin/sh
# Builds the programs and runs Selwand's main road on a ready sample in a
# temporary folder: a backup task file as the main program writes it
# (UTF-16LE with BOM, CR LF lines), a monitored folder, Selwand monitoring
# without a window (/force) with a 5-second interval, a few files written
# and one changed across two passes, then the destination tree with its
# versions, the daily log, and Selwand stopped with SIGTERM.
# With SELWAND naming a program (an installed one: SELWAND=/usr/bin/Selwand)
# that one runs and nothing is built.
set -eu
cd "$(dirname "$0")/.."
if [ -z "${SELWAND:-}" ]; then
  ./scripts/build.sh build --target Selwand >/dev/null
  SELWAND="$PWD/build/bin/Selwand"
fi

DEMO="$(mktemp -d "${TMPDIR:-/tmp}/selwand-demo.XXXXXX")"
DATA="$DEMO/documents"
DEST="$DEMO/backup"
SETTINGS="$DEMO/config/Kesmo6"
mkdir -p "$DATA/letters" "$DEST" "$SETTINGS"

# The backup task: full original directory structure, gzip copies, JPEG
# files copied as they are, every file type selected.
printf '[Global]\r\nDestination=%s\r\nDestMode=1\r\nCompress=1\r\nNoCompTypes=jpg,png\r\nDirCount=1\r\n[Dir000]\r\nSource=%s\r\nBackupMode=1\r\n' \
  "$DEST" "$DATA" | iconv -f UTF-8 -t UTF-16LE | { printf '\377\376'; cat; } > "$DEMO/documents.buj"

# Selwand's settings: one monitor task keeping 3 previous versions, a
# 5-second interval, the daily log file on.
cat > "$SETTINGS/Selwand.ini" <<EOF
[Config]
Interval=5
WriteLog=1
Count=1
[Monitor00]
BackupTask=$DEMO/documents.buj
Directory=$DATA
RetainBak=3
Enabled=1
EOF

echo "== Sample in $DEMO"
echo "== Starting: Selwand /force (no window; log texts on standard output)"
env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$DEMO/config" "$SELWAND" /force >"$DEMO/selwand.out" 2>&1 &
PID=$!

# Waits (at most 20 s) until the output holds a line matching $1 $2 times.
wait_for() {
  i=0
  # (The output file may not exist yet: that counts as no line.)
  while [ "$(grep -c -- "$1" "$DEMO/selwand.out" 2>/dev/null || true)" -lt "$2" ] 2>/dev/null \
    || [ ! -s "$DEMO/selwand.out" ]; do
    i=$((i + 1))
    if [ $i -gt 100 ] || ! kill -0 $PID 2>/dev/null; then
      echo "Selwand did not get there:"; cat "$DEMO/selwand.out"; exit 1
    fi
    sleep 0.2
  done
}

wait_for "monitoring runs" 1
echo "== Writing files"
printf 'Dear Ann,\nthe first draft.\n' > "$DATA/letters/ann.txt"
printf 'shopping list\n' > "$DATA/notes.txt"
head -c 20000 /dev/urandom > "$DATA/photo.jpg"
wait_for "ann.txt =>" 1
echo "== First pass done; changing letters/ann.txt"
printf 'Dear Ann,\nthe second draft.\n' > "$DATA/letters/ann.txt"
wait_for "ann.txt =>" 2
echo "== Second pass done; changing it once more and stopping Selwand (SIGTERM)"
printf 'Dear Ann,\nthe final letter.\n' > "$DATA/letters/ann.txt"
sleep 0.5
kill -TERM $PID
wait $PID || true

echo
echo "== Selwand's output"
cat "$DEMO/selwand.out"
echo
echo "== Destination tree"
(cd "$DEST" && find . -type f | sort | sed 's|^\./||')
echo
echo "== The versions of letters/ann.txt"
for f in $(cd "$DEST" && find . -name 'ann*.gz' | sort); do
  printf '%s: ' "${f#./}"; gzip -dc "$DEST/$f" | tail -n 1
done
echo
echo "== Daily log file"
for f in "$SETTINGS"/Selwand*.log; do echo "$(basename "$f") (UTF-8 with BOM, CR LF lines):"; tr -d '\r' < "$f" | sed '1s/^\xEF\xBB\xBF//'; done
echo
echo "== Saved settings (Selwand.ini, UTF-16LE)"
iconv -f UTF-16LE -t UTF-8 "$SETTINGS/Selwand.ini" | tr -d '\r' | sed '1s/^\xEF\xBB\xBF//'
echo
echo "The sample stays in $DEMO (remove it with: rm -rf '$DEMO')."
