#!/bin/sh
# Builds the Debian package of both programs:
#   scripts/package.sh [build-folder]       (default: build-pkg)
# A release build with the prefix /usr and Debian's hardened build flags,
# without tests, benchmarks and the build-tree look-ups of translations
# and help; cpack (DEB generator) then
# strips the programs, computes the dependencies with dpkg-shlibdeps and
# writes <build-folder>/kestrup_<version>_<arch>.deb. Prints its path.
set -eu
cd "$(dirname "$0")/.."
BUILD="${1:-build-pkg}"
if [ ! -f "$BUILD/build.ninja" ] || [ -n "${KES_RECONFIGURE:-}" ]; then
  # Debian's compiler and linker flags with every hardening feature
  # (fortified functions, stack protector, full RELRO with immediate
  # binding, position-independent executables).
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  CPPFLAGS=$(dpkg-buildflags --get CPPFLAGS)
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $CPPFLAGS" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $CPPFLAGS" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DKES_WERROR=ON -DKES_BUILD_TESTS=OFF -DKES_BUILD_BENCH=OFF -DKES_BUILD_TREE_LOOKUP=OFF >/dev/null
fi
./scripts/build.sh "$BUILD" >/dev/null
rm -f "$BUILD"/kestrup_*.deb
(cd "$BUILD" && cpack -G DEB >/dev/null)
case "$BUILD" in
/*) ls "$BUILD"/kestrup_*.deb ;;
*) ls "$PWD/$BUILD"/kestrup_*.deb ;;
esac
