#!/bin/bash
# Checks of what the project installs, each against the outside tool that
# judges it:
#   ship-check.sh <source dir> <build dir> <check>
# Checks: catalogues, install-run, desktop, appstream, man, systemd, help,
# completion. Each but "catalogues" installs the build into a fresh
# DESTDIR first and judges the installed files. A missing tool skips the
# check (exit 77), or fails it under CI=true.
set -uo pipefail
SRC=$1
BUILD=$2
CHECK=$3

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
need() {
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      if [ "${CI:-}" = true ]; then fail "$tool is not installed"; fi
      echo "SKIP: $tool is not installed"
      exit 77
    fi
  done
}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/kes-ship.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
DEST="$WORK/root"

# The install prefix the build was configured with (compiled into the
# programs and the service unit).
PREFIX=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$BUILD/CMakeCache.txt")
[ -n "$PREFIX" ] || fail "no install prefix in $BUILD/CMakeCache.txt"
install_tree() {
  DESTDIR="$DEST" cmake --install "$BUILD" >"$WORK/install.log" 2>&1 || {
    cat "$WORK/install.log"
    fail "cmake --install failed"
  }
  ROOT="$DEST$PREFIX"
}

case "$CHECK" in
catalogues)
  need msgfmt
  found=0
  for po in "$SRC"/po/*/*.po; do
    found=1
    msgfmt -c -o /dev/null "$po" || fail "msgfmt -c $po"
  done
  [ $found = 1 ] || fail "no catalogues in $SRC/po"
  ;;

install-run)
  install_tree
  for program in Selwand Marvick kescopy kestask; do
    [ -x "$ROOT/bin/$program" ] || fail "$program is not installed in $ROOT/bin"
  done
  # The main program's stand-in of the tests never ships.
  if find "$DEST" -iname 'kesmo*' | grep -q .; then fail "the stand-in was installed: $(find "$DEST" -iname 'kesmo*')"; fi
  for mo in Units selwand marvick; do
    [ -f "$ROOT/share/locale/de/LC_MESSAGES/$mo.mo" ] || fail "$mo.mo is not installed"
  done
  # The installed Selwand speaks German from the installed catalogues: the
  # message of a start without display and without /force.
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u KES_LOCALE_DIR LANGUAGE=de LC_ALL=C.UTF-8 HOME="$WORK" \
    XDG_CONFIG_HOME="$WORK/config" "$ROOT/bin/Selwand" 2>&1)
  rc=$?
  [ $rc = 2 ] || fail "Selwand without display: exit status $rc, expected 2: $out"
  grep -q 'Keine grafische Anzeige' <<<"$out" || fail "Selwand's message is not German: $out"
  # The installed Marvick runs a schedule: it starts the main program (a
  # script in the current folder that records its command line) for the
  # first full backup of the rotation and stores the new state.
  mkdir -p "$WORK/run" "$WORK/config/Kesmo6"
  printf '#!/bin/sh\necho "$@" >>"%s/kesmo.args"\n' "$WORK" >"$WORK/run/Kesmo"
  chmod +x "$WORK/run/Kesmo"
  : >"$WORK/home.buj"
  printf '[Config]\nCount=1\n[Sched00]\nName=Home\nTask=%s/home.buj\nCycles=2\nSteps=5\nDifferential=0\n' \
    "$WORK" >"$WORK/config/Kesmo6/Marvick.ini"
  out=$(cd "$WORK/run" && env -u DISPLAY -u WAYLAND_DISPLAY -u KES_LOCALE_DIR LC_ALL=C.UTF-8 HOME="$WORK" \
    XDG_CONFIG_HOME="$WORK/config" timeout 60 "$ROOT/bin/Marvick" Home 2>&1)
  rc=$?
  [ $rc = 0 ] || fail "Marvick Home: exit status $rc: $out"
  grep -qx "$WORK/home.buj /startapp:marvick /mode:full /backupdir:Bu01F /force /hide /logmode:1" "$WORK/kesmo.args" \
    || fail "Marvick started the main program with: $(cat "$WORK/kesmo.args" 2>/dev/null)"
  iconv -f UTF-16LE -t UTF-8 "$WORK/config/Kesmo6/Marvick.ini" | grep -q '^NextCycle=2' \
    || fail "Marvick did not store the rotation state"
  # kescopy: a gzip copy that gzip reads back.
  head -c 100000 /dev/urandom >"$WORK/data.bin"
  "$ROOT/bin/kescopy" -z "$WORK/data.bin" "$WORK/data.bin.gz" || fail "kescopy -z failed"
  gzip -dc "$WORK/data.bin.gz" | cmp - "$WORK/data.bin" || fail "gzip does not read kescopy's copy back"
  # The scheduled tasks' start check answers as its manual page says.
  "$ROOT/bin/kestask" >/dev/null 2>&1
  [ $? = 2 ] || fail "kestask without arguments: expected exit status 2"
  ;;

desktop)
  need desktop-file-validate python3 rsvg-convert
  install_tree
  n=0
  for f in "$ROOT"/share/applications/*.desktop; do
    n=$((n + 1))
    out=$(desktop-file-validate "$f" 2>&1) || fail "desktop-file-validate $f: $out"
    [ -z "$out" ] || fail "desktop-file-validate $f: $out"
    # The menu entry starts an installed program and shows an installed icon.
    exe=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$f" | head -n 1)
    [ -x "$ROOT/bin/$exe" ] || fail "$f starts $exe, which is not installed"
    icon=$(sed -n 's/^Icon=//p' "$f")
    [ -f "$ROOT/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "$f: no scalable icon $icon"
    for size in 16 24 32 48 64 128 256; do
      png="$ROOT/share/icons/hicolor/${size}x${size}/apps/$icon.png"
      [ -f "$png" ] || fail "$f: no ${size}x${size} icon"
      # The PNG is what its folder says.
      python3 - "$png" "$size" <<'PY' || fail "$png is not a ${size}x${size} PNG"
import struct, sys
data = open(sys.argv[1], 'rb').read(24)
w, h = struct.unpack('>II', data[16:24])
sys.exit(0 if data[:8] == b'\x89PNG\r\n\x1a\n' and w == h == int(sys.argv[2]) else 1)
PY
    done
    grep -q '^Name\[de\]=\|^GenericName\[de\]=' "$f" || fail "$f has no German name"
    grep -q '^Comment\[de\]=' "$f" || fail "$f has no German comment"
    grep -q '^Keywords=' "$f" || fail "$f has no keywords"
  done
  [ $n = 2 ] || fail "expected 2 desktop entries, found $n"
  ;;

appstream)
  need appstreamcli
  install_tree
  n=0
  for f in "$ROOT"/share/metainfo/*.metainfo.xml; do
    n=$((n + 1))
    appstreamcli validate --no-net --pedantic "$f" >"$WORK/as.log" 2>&1 || {
      cat "$WORK/as.log"
      fail "appstreamcli validate $f"
    }
    id=$(basename "$f" .metainfo.xml)
    [ -f "$ROOT/share/applications/$id.desktop" ] || fail "$f launches $id.desktop, which is not installed"
    grep -q "version=\"$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")\"" "$f" \
      || fail "$f does not name the project's version as its release"
  done
  [ $n = 2 ] || fail "expected 2 metainfo files, found $n"
  ;;

man)
  need groff man
  install_tree
  for page in Selwand Marvick kescopy kestask; do
    gz="$ROOT/share/man/man1/$page.1.gz"
    [ -f "$gz" ] || fail "no manual page $page(1)"
    gzip -t "$gz" || fail "$gz is not a gzip file"
    warnings=$(gzip -dc "$gz" | LC_ALL=C.UTF-8 groff -man -z -wall -Tutf8 2>&1)
    [ -z "$warnings" ] || fail "groff warns about $page(1): $warnings"
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$gz" 2>&1 >"$WORK/page.txt")
    [ -z "$warnings" ] || fail "man warns about $page(1): $warnings"
    grep -q "^NAME" "$WORK/page.txt" || fail "$page(1) has no NAME section"
  done
  # man finds the page by name in the installed tree.
  MANPATH="$ROOT/share/man" man -w Selwand >/dev/null || fail "man -w Selwand finds no page"
  ;;

systemd)
  need systemd-analyze
  install_tree
  unit="$ROOT/lib/systemd/user/selwand.service"
  [ -f "$unit" ] || fail "no user unit selwand.service"
  grep -q "^ExecStart=$PREFIX/bin/Selwand /force$" "$unit" || fail "the unit does not start the installed Selwand"
  # systemd-analyze checks that the program and the manual page exist: the
  # unit is judged with the staged paths in place of the final ones.
  mkdir -p "$WORK/units" "$WORK/runtime"
  chmod 700 "$WORK/runtime"
  sed "s|^ExecStart=$PREFIX/|ExecStart=$ROOT/|" "$unit" >"$WORK/units/selwand.service"
  out=$(XDG_RUNTIME_DIR="$WORK/runtime" HOME="$WORK" MANPATH="$ROOT/share/man" \
    systemd-analyze verify --user "$WORK/units/selwand.service" 2>&1)
  rc=$?
  [ $rc = 0 ] && [ -z "$out" ] || fail "systemd-analyze verify: $out"
  ;;

help)
  install_tree
  help="$ROOT/share/kestrup/help"
  # Every topic the programs open exists in English and German: the
  # topics are the ".html" texts of the sources.
  topics=$(grep -rhoE '"[a-z-]+\.html(#[a-z-]+)?"' "$SRC/src" | tr -d '"' | sort -u)
  topics="index.html kestrup-sched.html#tasks kestrup-dlink.html marvick.html selwand.html $topics"
  for topic in $topics; do
    page=${topic%%#*}
    for lang in en de; do
      [ -f "$help/$lang/$page" ] || fail "help page $lang/$page is missing"
      if [ "$page" != "$topic" ]; then
        grep -q "id=\"${topic#*#}\"" "$help/$lang/$page" || fail "$lang/$page has no anchor ${topic#*#}"
      fi
    done
  done
  # Every page is well-formed and every link and picture of it resolves
  # (pictures of windows whose screenshots are not in docs/ yet excepted).
  python3 - "$help" "$SRC/docs" <<'PY' || fail "broken help pages"
import html.parser, os, sys, urllib.parse
root, docs = sys.argv[1], sys.argv[2]
bad = []
class Page(html.parser.HTMLParser):
    def __init__(self, path):
        super().__init__()
        self.path, self.ids, self.refs, self.stack = path, set(), [], []
    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if 'id' in a: self.ids.add(a['id'])
        for key in ('href', 'src'):
            if key in a: self.refs.append((tag, a[key]))
        if tag not in ('meta', 'link', 'img', 'br', 'hr', 'input'): self.stack.append(tag)
    def handle_endtag(self, tag):
        if not self.stack or self.stack.pop() != tag:
            bad.append(f'{self.path}: </{tag}> does not close the open element')
pages = {}
for lang in sorted(os.listdir(root)):
    folder = os.path.join(root, lang)
    if not os.path.isdir(folder) or lang == 'images': continue
    for name in sorted(os.listdir(folder)):
        if name.endswith('.html'):
            path = os.path.join(folder, name)
            p = Page(path); p.feed(open(path, encoding='utf-8').read()); p.close()
            if p.stack: bad.append(f'{path}: unclosed {p.stack}')
            pages[path] = p
for path, p in pages.items():
    for tag, ref in p.refs:
        url = urllib.parse.urlsplit(ref)
        if url.scheme: bad.append(f'{path}: outside link {ref}'); continue
        target = os.path.normpath(os.path.join(os.path.dirname(path), url.path)) if url.path else path
        if not os.path.exists(target):
            if tag == 'img' and not os.path.exists(os.path.join(docs, os.path.basename(target))):
                print(f'note: {path}: picture {ref} waits for its screenshot in docs/')
                continue
            bad.append(f'{path}: {ref} does not exist'); continue
        if url.fragment and target in pages and url.fragment not in pages[target].ids:
            bad.append(f'{path}: {ref}: no such anchor')
for b in bad: print(b)
sys.exit(1 if bad else 0)
PY
  # Both languages hold the same pages.
  diff <(cd "$help/en" && ls) <(cd "$help/de" && ls) || fail "the English and German pages differ"
  ;;

completion)
  need bash
  install_tree
  for command in Selwand Marvick kescopy; do
    file="$ROOT/share/bash-completion/completions/$command"
    [ -f "$file" ] || fail "no completion for $command"
    bash -n "$file" || fail "$file does not parse"
  done
  # The completion offers each program's switches.
  result=$(bash -c '
    source "$1"
    complete_words() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); _kestrup "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"; echo "${COMPREPLY[*]}"; }
    complete_words Selwand /f
    complete_words Marvick /del
    complete_words kescopy --pass
    complete_words kescopy -k ""
  ' _ "$ROOT/share/bash-completion/completions/Selwand" 2>&1)
  expected=$'/force\n/delay:\n--password-env\n1 2 3'
  [ "$result" = "$expected" ] || fail "completion gave: $result"
  ;;

*)
  fail "unknown check $CHECK"
  ;;
esac
echo "OK: $CHECK"
