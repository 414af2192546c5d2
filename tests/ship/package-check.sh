#!/bin/bash
# The Debian package:
#   package-check.sh <source dir> <package build dir> build|lintian|fresh-root
# build       scripts/package.sh builds <package build dir>/kestrup_*.deb
# lintian     lintian shows no errors (warnings are printed)
# fresh-root  a fresh Debian 12 root from the Debian mirror (mmdebstrap):
#             the package is installed there, both programs and the
#             headless demo run from the installed files, the manual page
#             and the help pages are found, and after a purge not one file
#             of the root differs from before the install.
# Needs root (chroot) and the Debian mirror; a missing tool skips the
# check (exit 77), or fails it under CI=true. They take minutes, so they run
# only when asked for: KES_PACKAGE_TESTS=1 ctest -L package.
set -uo pipefail
if [ "${KES_PACKAGE_TESTS:-}" != 1 ]; then
  echo "SKIP: the package checks run with KES_PACKAGE_TESTS=1 (ctest -L package)"
  exit 77
fi
SRC=$1
PKG_BUILD=$2
CHECK=$3
MIRROR=${KES_DEBIAN_MIRROR:-http://deb.debian.org/debian}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
skip() {
  if [ "${CI:-}" = true ]; then fail "$*"; fi
  echo "SKIP: $*"
  exit 77
}
need() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
  done
}
the_deb() {
  DEB=$(ls "$PKG_BUILD"/kestrup_*.deb 2>/dev/null | head -n 1)
  [ -n "$DEB" ] || fail "no package in $PKG_BUILD (the check \"build\" makes it)"
}

case "$CHECK" in
build)
  need cpack dpkg-shlibdeps dpkg-deb
  "$SRC/scripts/package.sh" "$PKG_BUILD" || fail "scripts/package.sh failed"
  the_deb
  dpkg-deb --info "$DEB"
  # What cpack asked dpkg-shlibdeps for: the libraries the programs link.
  depends=$(dpkg-deb -f "$DEB" Depends)
  for lib in libqt6core6 libqt6widgets6 libc6 zlib1g libssl3 libpcre2-16-0; do
    grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
  done
  # Nothing of the tests ships.
  if dpkg-deb -c "$DEB" | grep -iE 'kesmo|standin|test_'; then fail "test files in the package"; fi
  ;;

lintian)
  need lintian
  the_deb
  lintian --fail-on error --tag-display-limit 0 --display-info "$DEB"
  rc=$?
  [ $rc = 0 ] || fail "lintian reports errors"
  ;;

fresh-root)
  need mmdebstrap chroot unshare
  [ "$(id -u)" = 0 ] || skip "the fresh root needs root"
  the_deb
  WORK=$(mktemp -d "${TMPDIR:-/var/tmp}/kes-root.XXXXXX")
  ROOT="$WORK/root"
  cleanup() {
    # The root's mounts live in the private namespace of each run and end
    # with it; a root that still has a mount (its /dev bound to the
    # machine's) is never removed.
    if grep -q " $ROOT/" /proc/mounts; then
      echo "the root $ROOT still has mounts; it is left in place" >&2
    else
      rm -rf "$WORK"
    fi
  }
  trap cleanup EXIT
  echo "== A fresh Debian 12 root from $MIRROR"
  mmdebstrap --quiet --variant=apt --include=man-db bookworm "$ROOT" "$MIRROR" \
    || skip "mmdebstrap cannot make a Debian 12 root from $MIRROR"
  cp /etc/resolv.conf "$ROOT/etc/resolv.conf" 2>/dev/null || true
  cp "$DEB" "$ROOT/tmp/kestrup.deb"
  mkdir -p "$ROOT/tmp/kes/scripts"
  cp "$SRC/scripts/demo.sh" "$ROOT/tmp/kes/scripts/demo.sh"
  # Runs a shell command in the root, with its own /proc and /dev.
  in_root() {
    unshare --mount --pid --fork --mount-proc="$ROOT/proc" sh -c '
      mount --rbind /dev "$1/dev" && exec chroot "$1" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root LC_ALL=C.UTF-8 DEBIAN_FRONTEND=noninteractive /bin/sh -c "$2"' _ "$ROOT" "$1"
  }
  # What the package needs comes first, so that the snapshot before the
  # install holds it and the purge can be compared against it.
  depends=$(dpkg-deb -f "$DEB" Depends)
  in_root "apt-get -q update && apt-get -q -y --no-install-recommends satisfy '$depends'" \
    || fail "the package's dependencies cannot be installed"
  snapshot() {
    in_root "find / -xdev \\( -path /proc -o -path /dev -o -path /sys -o -path /run -o -path /tmp -o -path /root \
      -o -path /var/lib/dpkg -o -path /var/lib/apt -o -path /var/cache -o -path /var/log \\) -prune -o -printf '%p %m %s\\n'" \
      | sort >"$1"
  }
  snapshot "$WORK/before"

  echo "== Installing $(basename "$DEB")"
  in_root "dpkg -i /tmp/kestrup.deb" || fail "dpkg -i failed"
  in_root "dpkg -L kestrup" >"$WORK/files"
  for f in /usr/bin/Selwand /usr/bin/Marvick /usr/bin/kescopy /usr/bin/kestask \
    /usr/share/applications/org.kestrup.Selwand.desktop /usr/share/applications/org.kestrup.Marvick.desktop \
    /usr/share/icons/hicolor/48x48/apps/org.kestrup.Selwand.png /usr/share/kestrup/help/en/index.html \
    /usr/share/kestrup/help/de/selwand.html /usr/share/locale/de/LC_MESSAGES/selwand.mo \
    /usr/lib/systemd/user/selwand.service /usr/share/doc/kestrup/copyright; do
    grep -qx "$f" "$WORK/files" || fail "$f is not in the installed package"
  done

  echo "== Running the installed programs"
  out=$(in_root "LANGUAGE=de /usr/bin/Selwand" 2>&1)
  [ $? = 2 ] || fail "Selwand without display: $out"
  grep -q 'Keine grafische Anzeige' <<<"$out" || fail "Selwand does not find its German catalogue: $out"
  # Marvick runs a schedule and starts the main program (a script that
  # records its command line) for the rotation's first full backup.
  out=$(in_root 'mkdir -p /tmp/m/run /tmp/m/config/Kesmo6 && : >/tmp/m/home.buj &&
    printf "#!/bin/sh\necho \"\$@\" >/tmp/m/kesmo.args\n" >/tmp/m/run/Kesmo && chmod +x /tmp/m/run/Kesmo &&
    printf "[Config]\nCount=1\n[Sched00]\nName=Home\nTask=/tmp/m/home.buj\nCycles=2\nSteps=5\n" >/tmp/m/config/Kesmo6/Marvick.ini &&
    cd /tmp/m/run && XDG_CONFIG_HOME=/tmp/m/config timeout 60 /usr/bin/Marvick Home && cat /tmp/m/kesmo.args' 2>&1)
  rc=$?
  echo "$out"
  { [ $rc = 0 ] && grep -q '^/tmp/m/home.buj /startapp:marvick /mode:full ' <<<"$out"; } || fail "Marvick Home: exit status $rc: $out"
  out=$(in_root "echo kescopy >/tmp/a && kescopy -Z /tmp/a /tmp/a.zip && kescopy --check /tmp/a.zip" 2>&1) \
    || fail "kescopy: $out"
  in_root "man -P cat Selwand" 2>/dev/null | grep -q 'direct backup with online monitoring' \
    || fail "man Selwand does not show Selwand's page"

  echo "== The headless demo with the installed Selwand"
  in_root "SELWAND=/usr/bin/Selwand sh /tmp/kes/scripts/demo.sh" >"$WORK/demo.out" 2>&1
  rc=$?
  cat "$WORK/demo.out"
  [ $rc = 0 ] || fail "the demo failed"
  grep -q 'ann.bak-1' "$WORK/demo.out" || fail "the demo kept no previous version"

  echo "== Purging the package"
  in_root "dpkg --purge kestrup" || fail "dpkg --purge failed"
  if in_root "dpkg-query -W -f='\${Status}' kestrup" 2>/dev/null | grep -q .; then
    fail "dpkg still knows the package after the purge"
  fi
  snapshot "$WORK/after"
  if ! diff "$WORK/before" "$WORK/after"; then fail "the purge left the root changed (< before, > after)"; fi
  ;;

*)
  fail "unknown check $CHECK"
  ;;
esac
echo "OK: $CHECK"
