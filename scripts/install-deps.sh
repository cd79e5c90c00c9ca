#!/usr/bin/env bash
# Installs every Debian package that the build and the tests need. Idempotent; run as root.
#   scripts/install-deps.sh          native build and tests (with the VM test and the fuzz targets)
#   scripts/install-deps.sh --win    adds the mingw-w64 cross compiler, Wine and Xvfb
set -euo pipefail

packages=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev
          # the Linux HID edge: libudev, found through pkg-config
          libudev-dev pkg-config
          # the end-to-end test in a VM: Debian's kernel under QEMU with busybox and udev
          qemu-system-x86 busybox-static udev cpio
          # the fuzz targets: clang with its libFuzzer runtime
          clang libclang-rt-14-dev)
if [ "${1:-}" = "--win" ]; then
  packages+=(g++-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64-x86-64
             wine wine64 xvfb fonts-wine x11-apps imagemagick)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
