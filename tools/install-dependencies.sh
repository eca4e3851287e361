#!/usr/bin/env bash
# Installs, from Debian's packages, what building and testing Pellatrix needs: the compilers
# (the machine's g++ and the MinGW-w64 cross compilers), GoogleTest, GTK 3, Wine (64- and
# 32-bit), the X tools the desktop tests use, FUSE (a file system that fails on demand) and the
# ACL tools; for the medium, xorriso, and fuseiso and mmdebstrap to test it. Does nothing when
# all of it is there.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config python3 libgtest-dev libgmock-dev libbenchmark-dev googletest
  groff-base
  libgtk-3-dev xvfb xdotool x11-apps imagemagick attr libfuse3-dev fuse3 acl
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
  wine wine64 wine32:i386 icoutils
  xorriso fuseiso mmdebstrap
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
