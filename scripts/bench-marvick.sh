#!/bin/sh
# Time of a scheduled start of Marvick, and of opening its window: from process start until the main
# program has been started and the rotation state stored (the whole
# process), with a settings file of 99 schedules, running the last one.
#   scripts/bench-marvick.sh [build-folder] [runs]
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD="${1:-build}"
RUNS="${2:-50}"
"$ROOT/scripts/build.sh" "$BUILD" --target Marvick kesmo_standin >/dev/null

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/config/Kesmo6" "$WORK/run" "$WORK/xdg"
ln -s "$ROOT/$BUILD/standin/Kesmo" "$WORK/run/Kesmo"
printf '[Job]\n' > "$WORK/task.buj"

# 99 schedules, daily and weekly mixed; the run uses the last one.
python3 - "$WORK/template.ini" "$WORK/task.buj" <<'PY'
import sys
out, task = sys.argv[1], sys.argv[2]
lines = ["[Config]", "Count=99", ""]
for i in range(99):
    weekly = i % 2 == 1
    lines += [f"[Sched{i:02d}]", f"Name=Schedule {i}", f"Task={task}",
              "Cycles=4", "Steps=" + ("7" if weekly else "10"), "FirstDay=1",
              "Differential=1", f"NextCycle={i % 5 + 1}", "LastFull=1", "LastDay=0", "Silent=1", ""]
with open(out, "w", encoding="utf-8") as f:
    f.write("\r\n".join(lines))
PY

run_once() {
  cp "$WORK/template.ini" "$WORK/config/Kesmo6/Marvick.ini"
  (cd "$WORK/run" && env -u DISPLAY -u WAYLAND_DISPLAY HOME="$WORK" XDG_CONFIG_HOME="$WORK/config" \
     XDG_CONFIG_DIRS="$WORK/xdg" KES_SYSLOG_SOCKET="$WORK/nolog" "$ROOT/$BUILD/bin/Marvick" "Schedule 98")
}

# Warm-up, and a check that the run did what it should.
run_once
if ! iconv -f UTF-16 -t UTF-8 "$WORK/config/Kesmo6/Marvick.ini" | grep -q 'NextCycle=5'; then
  echo "bench-marvick: the scheduled run did not store its state" >&2
  exit 1
fi

if command -v hyperfine >/dev/null 2>&1; then
  export WORK ROOT BUILD
  hyperfine --runs "$RUNS" --prepare "cp '$WORK/template.ini' '$WORK/config/Kesmo6/Marvick.ini'" \
    "cd '$WORK/run' && env -u DISPLAY -u WAYLAND_DISPLAY HOME='$WORK' XDG_CONFIG_HOME='$WORK/config' XDG_CONFIG_DIRS='$WORK/xdg' KES_SYSLOG_SOCKET='$WORK/nolog' '$ROOT/$BUILD/bin/Marvick' 'Schedule 98'"
else
: > "$WORK/times"
i=0
while [ "$i" -lt "$RUNS" ]; do
  cp "$WORK/template.ini" "$WORK/config/Kesmo6/Marvick.ini"
  t0=$(date +%s%N)
  (cd "$WORK/run" && env -u DISPLAY -u WAYLAND_DISPLAY HOME="$WORK" XDG_CONFIG_HOME="$WORK/config" \
     XDG_CONFIG_DIRS="$WORK/xdg" KES_SYSLOG_SOCKET="$WORK/nolog" "$ROOT/$BUILD/bin/Marvick" "Schedule 98")
  t1=$(date +%s%N)
  echo $(( (t1 - t0) / 1000 )) >> "$WORK/times"
  i=$((i + 1))
done
sort -n "$WORK/times" | awk -v runs="$RUNS" '
  { v[NR] = $1; sum += $1 }
  END {
    printf "Marvick scheduled start, 99 schedules, %d runs (whole process, ms):\n", runs
    printf "  min %.1f  median %.1f  mean %.1f  max %.1f  (goal: under 100)\n",
      v[1] / 1000, v[int((NR + 1) / 2)] / 1000, sum / NR / 1000, v[NR] / 1000
  }'
fi

# Opening the window with 100 schedules and 100 scheduled tasks (a fake
# user manager on a private bus, offscreen).
"$ROOT/scripts/build.sh" "$BUILD" --target bench_marvick_window kestask >/dev/null
env QT_QPA_PLATFORM=offscreen LANGUAGE= LC_ALL=C.UTF-8 XDG_CONFIG_HOME="$WORK/config" \
  "$ROOT/$BUILD/bin/bench_marvick_window" --runs 10
