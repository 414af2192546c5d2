#!/bin/sh
# Listing scheduled tasks with their state and next run time through the
# task model (Marvick's task list): 100 tasks, the time of a listing.
#   scripts/bench-tasks.sh [build-folder] [runs] [tasks]
# Always against a fake user manager on a private bus; as root on a
# machine whose own init is not systemd also against a real systemd user
# manager, started in private mount, PID and cgroup namespaces below a
# control group of this script (removed afterwards).
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD="${1:-build}"
RUNS="${2:-20}"
TASKS="${3:-100}"
"$ROOT/scripts/build.sh" "$BUILD" --target bench_tasks kestask Marvick >/dev/null
BENCH="$ROOT/$BUILD/bin/bench_tasks"

"$BENCH" --tasks "$TASKS" --runs "$RUNS"

if [ "$(id -u)" != 0 ] || [ -d /run/systemd/system ] || [ ! -x /lib/systemd/systemd ] || ! command -v unshare >/dev/null; then
  echo "(no real user manager: needs root, unshare and a machine whose init is not systemd)"
  exit 0
fi
MOUNT=$(awk '{ for (i = 1; i <= NF; i++) if ($i == "-") { if ($(i + 1) == "cgroup2") print $5; break } }' /proc/self/mountinfo | head -n 1)
OWN=$(sed -n 's/^0:://p' /proc/self/cgroup)
CG=$(echo "$MOUNT/$OWN/kes-bench-$$" | sed 's://*:/:g')
if [ -z "$MOUNT" ] || ! mkdir "$CG" 2>/dev/null || [ ! -e "$CG/cgroup.kill" ]; then
  [ -d "$CG" ] && rmdir "$CG"
  echo "(no control group of our own for a real user manager)"
  exit 0
fi
W=$(mktemp -d)
cleanup() {
  echo 1 > "$CG/cgroup.kill" 2>/dev/null || true
  wait 2>/dev/null || true
  for _ in $(seq 1 100); do
    grep -q '^populated 0' "$CG/cgroup.events" 2>/dev/null && break
    sleep 0.1
  done
  find "$CG" -depth -type d -exec rmdir {} \; 2>/dev/null || true
  rm -rf "$W"
}
trap cleanup EXIT
mkdir -p "$W/run" "$W/home" "$W/config/systemd/user" "$W/data" "$W/xdg"
chmod 700 "$W/run"
(
  export XDG_RUNTIME_DIR="$W/run" HOME="$W/home" XDG_CONFIG_HOME="$W/config" XDG_DATA_HOME="$W/data" \
    XDG_CONFIG_DIRS="$W/xdg" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$W/nosystem"
  # A process of its own moves into the control group and makes sure it is
  # there before the manager is started: the manager's cgroup namespace is
  # rooted where that process is.
  exec sh -c '
    W=$1; CG=$2
    echo $$ > "$CG/cgroup.procs" || exit 3
    grep -q "^0::.*/${CG##*/}\$" /proc/self/cgroup || exit 7
    exec unshare --mount --pid --fork --cgroup --mount-proc --propagation private sh -c "
      umount -R /sys/fs/cgroup 2>/dev/null || umount -l /sys/fs/cgroup
      mount -t cgroup2 cgroup2 /sys/fs/cgroup || exit 4
      mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/system || exit 5
      : > \"\$0/console\" && mount --bind \"\$0/console\" /dev/console || exit 6
      /lib/systemd/systemd --user --log-target=console &
      wait
    " "$W"
  ' sh "$W" "$CG"
) >/dev/null 2>&1 &
for _ in $(seq 1 300); do [ -S "$W/run/bus" ] && break; sleep 0.1; done
"$BENCH" --tasks "$TASKS" --runs "$RUNS" --bus "unix:path=$W/run/bus" \
  --units "$W/config/systemd/user" --store "$W/data/Kesmo6/Tasks"
