#!/usr/bin/env bash
# Installs the Debian packages that a part of the build and the tests needs, and only those.
# Idempotent; run as root.
#   scripts/install-deps.sh               the native build and its tests (also for asan)
#   scripts/install-deps.sh win vm fuzz   adds the groups named: any of native, win, vm, fuzz, web, release
#   scripts/install-deps.sh --win         the same as 'native win'
set -euo pipefail

native=(cmake ninja-build g++ libgtest-dev
        # the Linux HID edge: libudev, found through pkg-config
        libudev-dev pkg-config)
# The Windows program: the mingw-w64 cross compiler, GoogleTest's sources for its tests, Wine
# with its fonts on a private Xvfb, and ImageMagick for the screenshots' .png.
win=(g++-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64-x86-64 googletest
     wine wine64 xvfb fonts-wine imagemagick)
# The end-to-end test in a VM: Debian's kernel under QEMU with busybox and udev.
vm=(qemu-system-x86 busybox-static udev cpio)
# The fuzz targets: clang with its libFuzzer runtime.
fuzz=(clang libclang-rt-14-dev)
# The page in the browser: Emscripten (its optimizer needs acorn), Node.js for the tests' driver
# and Chromium to drive; npm comes with Node.js where it is not a package of its own. Its run on
# a real WebHID stack also needs the native build (the virtual unit) and the VM's packages.
web=(cmake ninja-build emscripten node-acorn nodejs chromium)
# Releases: the Windows and web builds, and the tools that pack them, sign their checksums
# (GnuPG) and check the package; the release test reads the programs back with binutils and
# makes a German locale for its second run (locales' definitions, compiled with localedef).
release=(zip dpkg-dev lintian gnupg binutils locales)

groups=("$@")
[ ${#groups[@]} -eq 0 ] && groups=(native)
packages=()
for group in "${groups[@]}"; do
  case "$group" in
    native) packages+=("${native[@]}") ;;
    win|--win) packages+=("${native[@]}" "${win[@]}") ;;
    vm) packages+=("${native[@]}" "${vm[@]}") ;;
    fuzz) packages+=(cmake ninja-build "${fuzz[@]}") ;;
    web) packages+=("${native[@]}" "${vm[@]}" "${web[@]}") ;;
    release) packages+=("${native[@]}" "${win[@]}" "${web[@]}" "${release[@]}") ;;
    *) echo "install-deps: unknown group '$group' (native, win, vm, fuzz, web, release)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Debian's Node.js comes without npm, which is a package of its own there.
for group in "${groups[@]}"; do
  if { [ "$group" = web ] || [ "$group" = release ]; } && ! command -v npm >/dev/null 2>&1; then missing+=(npm); fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends $(printf '%s\n' "${missing[@]}" | sort -u)
