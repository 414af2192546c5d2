#!/bin/sh
# Throughput of the file transfer engine beside the tools people would
# otherwise use: cp, gzip -6, pigz -6 -p 2, zip -6 and 7z (zip, AES-256),
# each with and without reading the result back. Source: a 200 MB file,
# half text-like, half random. Figures are MB/s (10^6 bytes) of source,
# best of N runs, destination in the page cache of the same file system.
#   scripts/bench-engine.sh [build-folder] [runs]
set -eu
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
RUNS="${2:-3}"
SIZE=200000000
"$(dirname "$0")/build.sh" "$BUILD" --target bench_engine >/dev/null
BENCH="$BUILD/bin/bench_engine"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/kes-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
SRC="$WORK/mixed.bin"
"$BENCH" make-data "$SRC" "$SIZE"
cat "$SRC" >/dev/null

echo "== engine (bench_engine, in-process workers, 512 KiB buffer)"
"$BENCH" run "$SRC" "$WORK/engine" "$RUNS"

# best "label" "command": best of RUNS runs of a shell command.
best() {
    b=""
    i=0
    while [ "$i" -lt "$RUNS" ]; do
        rm -f "$WORK"/t.*
        s=$(date +%s%N)
        if ! sh -c "$2" >/dev/null 2>&1; then
            echo "$1: failed" >&2
            return
        fi
        e=$(date +%s%N)
        d=$((e - s))
        if [ -z "$b" ] || [ "$d" -lt "$b" ]; then b=$d; fi
        i=$((i + 1))
    done
    awk -v l="$1" -v n="$SIZE" -v d="$b" 'BEGIN { printf "%-28s %10.1f MB/s\n", l, n * 1000 / d }'
}

have() { command -v "$1" >/dev/null 2>&1; }

echo "== tools"
best "cp" "cp '$SRC' '$WORK/t.cp'"
best "cp + cmp" "cp '$SRC' '$WORK/t.cp' && cmp '$SRC' '$WORK/t.cp'"
have gzip && best "gzip -6" "gzip -6 -c '$SRC' > '$WORK/t.gz'"
have gzip && best "gzip -6 + gzip -t" "gzip -6 -c '$SRC' > '$WORK/t.gz' && gzip -t '$WORK/t.gz'"
have pigz && best "pigz -6 -p 2" "pigz -6 -p 2 -c '$SRC' > '$WORK/t.gz'"
have pigz && best "pigz -6 -p 2 + pigz -t" "pigz -6 -p 2 -c '$SRC' > '$WORK/t.gz' && pigz -t '$WORK/t.gz'"
have zip && best "zip -6" "zip -6 -q -j '$WORK/t.zip' '$SRC'"
have zip && best "zip -6 + unzip -t" "zip -6 -q -j '$WORK/t.zip' '$SRC' && unzip -tq '$WORK/t.zip'"
have 7z && best "7z zip AES-256 (-mx5)" "7z a -tzip -mem=AES256 -mx=5 -pbench '$WORK/t.zip' '$SRC'"
have 7z && best "7z zip AES-256 + 7z t" \
    "7z a -tzip -mem=AES256 -mx=5 -pbench '$WORK/t.zip' '$SRC' && 7z t -pbench '$WORK/t.zip'"
