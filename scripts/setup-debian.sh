#!/bin/sh
# Installs what building, testing and running VELTPlayer needs on Debian 12.
set -eu
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
    build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev \
    googletest libgtest-dev libgmock-dev libbenchmark-dev \
    zlib1g-dev libsqlite3-dev nlohmann-json3-dev libasio-dev \
    qt6-base-dev libgl-dev libx11-dev fonts-dejavu-core xvfb xauth x11-utils xdotool imagemagick \
    dpkg-dev lintian desktop-file-utils shared-mime-info \
    iproute2 python3-zeroconf python3-dnspython avahi-daemon
