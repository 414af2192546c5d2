#!/bin/sh
# Installs everything needed to build, test and demo the project on Debian 12.
set -eu
SUDO=""
if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build pkg-config clang-format clang libclang-rt-14-dev \
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-qpa-plugins libgl-dev \
  zlib1g-dev libpcre2-dev libssl-dev libacl1-dev gettext \
  libgtest-dev libgmock-dev libbenchmark-dev \
  gzip unzip zip p7zip-full pigz python3 faketime attr acl \
  xdg-user-dirs desktop-file-utils locales dbus-daemon \
  libqt6svg6 xvfb trayer dunst xdotool x11-utils systemd \
  librsvg2-bin man-db groff-base appstream dpkg-dev file lintian mmdebstrap
