#!/bin/sh
# Throughput of the zip archive writer (kescopy --archive) beside zip -r -6
# and 7z a -tzip on the same input: 10,000 small files (1-12 KB, text-like
# and random), then one 1 GiB file (half text-like, half random). Figures
# are MB/s (10^6 bytes) of source, best of N runs, archive in the page
# cache of the same file system; each archive is tested afterwards.
#   scripts/bench-zip.sh [build-folder] [runs] [big-file-bytes]
set -eu
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
RUNS="${2:-3}"
BIG="${3:-1073741824}"
"$(dirname "$0")/build.sh" "$BUILD" --target kescopy bench_engine >/dev/null
KESCOPY="$(cd "$BUILD/bin" && pwd)/kescopy"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/kes-bench-zip.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# The small files: deterministic, a third random, the rest text-like.
mkdir -p "$WORK/small"
python3 - "$WORK/small" <<'PY'
import os, random, sys
random.seed(15)
words = [b"backup ", b"copy ", b"the ", b"file ", b"of ", b"data\n", b"zip ", b"2026 "]
for i in range(10000):
    d = os.path.join(sys.argv[1], "d%02d" % (i % 50))
    os.makedirs(d, exist_ok=True)
    n = random.randint(1000, 12000)
    if i % 3 == 0:
        data = random.randbytes(n)
    else:
        data = b"".join(random.choice(words) for _ in range(n // 5))[:n]
    with open(os.path.join(d, "f%05d.txt" % i), "wb") as f:
        f.write(data)
PY
"$BUILD/bin/bench_engine" make-data "$WORK/big.bin" "$BIG"
SMALL_BYTES=$(du -sb --apparent-size "$WORK/small" | cut -f1)

# best "label" bytes "command" "check": best of RUNS runs; the check runs
# once after the last.
best() {
    b=""
    i=0
    while [ "$i" -lt "$RUNS" ]; do
        rm -f "$WORK"/t.*
        s=$(date +%s%N)
        if ! sh -c "$3" >/dev/null 2>&1; then
            echo "$1: failed" >&2
            return
        fi
        e=$(date +%s%N)
        d=$((e - s))
        if [ -z "$b" ] || [ "$d" -lt "$b" ]; then b=$d; fi
        i=$((i + 1))
    done
    if ! sh -c "$4" >/dev/null 2>&1; then echo "$1: its archive does not test" >&2; fi
    size=$(cat "$WORK"/t.* | wc -c)
    awk -v l="$1" -v n="$2" -v d="$b" -v z="$size" \
        'BEGIN { printf "%-34s %8.2f s %10.1f MB/s  archive %6.1f%%\n", l, d / 1e9, n * 1000 / d, 100 * z / n }'
}

have() { command -v "$1" >/dev/null 2>&1; }

for set in small big; do
    if [ "$set" = small ]; then
        bytes=$SMALL_BYTES
        echo "== 10,000 small files ($bytes bytes)"
        src=small
    else
        bytes=$BIG
        echo "== one file of $BIG bytes"
        src=big.bin
    fi
    best "kescopy --archive (-l 6)" "$bytes" "cd '$WORK' && '$KESCOPY' --archive t.zip $src" \
        "unzip -tq '$WORK/t.zip'"
    best "kescopy --archive --threads 1" "$bytes" "cd '$WORK' && '$KESCOPY' --archive t.zip --threads 1 $src" \
        "unzip -tq '$WORK/t.zip'"
    have zip && best "zip -r -6" "$bytes" "cd '$WORK' && zip -r -6 -q t.zip $src" "unzip -tq '$WORK/t.zip'"
    have 7z && best "7z a -tzip" "$bytes" "cd '$WORK' && 7z a -tzip t.zip $src" "7z t '$WORK/t.zip'"
done
