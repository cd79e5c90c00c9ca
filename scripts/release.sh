#!/usr/bin/env bash
# Builds a release of the commit checked out into dist/, the same bytes on any machine and for
# any person:
#   VelquorUpdater-<version>-win64.zip    the Windows programs (the window and velquor-flash.exe), a
#                                         text for modellers, the licence, the notices of the
#                                         runtime libraries linked into them
#   velquor-flash_<version>_amd64.deb     velquor-flash, its udev rule, manual page and copyright
#   velquor-web-<version>.zip             the web page's folder, its licence included
#   BUILDINFO.txt                         the commit, and the versions of the tools that built it
#   SHA256SUMS                            the checksums of the four above
#   SHA256SUMS.asc                        with --sign-key: the OpenPGP signature of SHA256SUMS
#
#   scripts/release.sh --firmware-dir DIR [--out DIR] [--sign-key KEY]
#                                      with the maker's images (DIR/<id>.bin)
#   scripts/release.sh --test-images [--out DIR] [--sign-key KEY]
#                                      a test release of the generated images: "-test-images" in
#                                      every file name, "+test-images" in every version shown and
#                                      "~test-images" in the package's version (below the release's)
#   --allow-dirty                      build HEAD although the working folder has uncommitted
#                                      changes to tracked files (for tests; the changes are not built)
#
# Only a committed tree is released: the script refuses uncommitted changes, reads every version
# from the commit and builds the commit (git archive), never the working folder. --out names a
# new folder, an empty one or one that holds only an earlier release; the script never removes
# anything else. Installs what it needs first (scripts/install-deps.sh release, as root). About 5
# minutes.
#
# The same bytes: the script runs in an environment of its own (fixed PATH, TZ, locale, umask,
# an empty HOME; no compiler flags, ZIPOPT or GZIP from outside), the source comes out of git with
# LF line ends and fixed modes whatever the user's git settings, time stamps come from the commit
# (SOURCE_DATE_EPOCH), the programs are built with VELQUOR_REPRODUCIBLE (no source or build
# folder in them, stripped, no link time in the Windows program), every file's mode is set before
# packing, every archive lists its files in a fixed order with the commit's time and fixed owners,
# and the package's Installed-Size is counted as dpkg-gencontrol counts it, not by the file system.
set -euo pipefail
script=$(realpath "$0")
cd "$(dirname "$script")/.."
repo=$(pwd)

# Start again in an environment of nothing but what the release needs. TMPDIR only says where
# the work happens, the proxies only how apt-get reaches Debian; GnuPG's variables reach only
# the signing.
if [ "${VELQUOR_RELEASE_ENV:-}" != clean ]; then
  keep=()
  for name in TMPDIR http_proxy https_proxy no_proxy GNUPGHOME GPG_TTY TERM DISPLAY; do
    [ -n "${!name:-}" ] && keep+=("$name=${!name}")
  done
  exec env -i VELQUOR_RELEASE_ENV=clean VELQUOR_CALLER_HOME="${HOME:-}" \
       PATH=/usr/sbin:/usr/bin:/sbin:/bin TZ=UTC LC_ALL=C.UTF-8 "${keep[@]}" /bin/bash "$script" "$@"
fi
umask 022

firmware=""
test_images=0
out="$repo/dist"
sign_key=""
allow_dirty=0
while [ $# -gt 0 ]; do
  case "$1" in
    --firmware-dir) firmware=$(realpath "${2:?--firmware-dir needs a folder}"); shift 2 ;;
    --test-images) test_images=1; shift ;;
    --out) out=$(realpath -m "${2:?--out needs a folder}"); shift 2 ;;
    --sign-key) sign_key=${2:?--sign-key needs a key (its fingerprint, ID or user ID)}; shift 2 ;;
    --allow-dirty) allow_dirty=1; shift ;;
    *) echo "release.sh: unknown argument '$1' (--firmware-dir DIR, --test-images, --out DIR, --sign-key KEY, --allow-dirty)" >&2
       exit 2 ;;
  esac
done
if [ -z "$firmware" ] && [ "$test_images" -eq 0 ]; then
  echo "release.sh: a release carries the maker's firmware images: give --firmware-dir DIR" >&2
  echo "            (or --test-images for a test release of the generated images)" >&2
  exit 2
fi
if [ -n "$firmware" ] && [ "$test_images" -eq 1 ]; then
  echo "release.sh: --firmware-dir and --test-images exclude each other" >&2
  exit 2
fi

# Only from a committed tree (by the user's own git settings: with core.autocrlf=true the
# working folder's CR LF is no change).
commit=$(git rev-parse --verify HEAD^{commit})
if [ "$allow_dirty" -eq 0 ] && [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release.sh: the working folder has uncommitted changes; a release is made from a commit:" >&2
  git status --short --untracked-files=no >&2
  exit 1
fi

# The folder the release goes into holds nothing but an earlier release: nothing else in it is
# touched, and an earlier release's files are removed only once the new ones are built.
release_file() {
  case "$1" in
    VelquorUpdater-*-win64.zip|velquor-flash_*_amd64.deb|velquor-web-*.zip|BUILDINFO.txt|SHA256SUMS|SHA256SUMS.asc) return 0 ;;
  esac
  return 1
}
check_out() {
  if [ -e "$out" ] || [ -L "$out" ]; then
    if [ ! -d "$out" ] || [ -L "$out" ]; then
      echo "release.sh: --out $out exists and is not a folder" >&2
      exit 2
    fi
    local others=() entry
    shopt -s nullglob dotglob
    for entry in "$out"/*; do
      if [ -L "$entry" ] || [ ! -f "$entry" ] || ! release_file "$(basename "$entry")"; then
        others+=("$(basename "$entry")")
      fi
    done
    shopt -u nullglob dotglob
    if [ ${#others[@]} -gt 0 ]; then
      echo "release.sh: $out holds files that are not a release's (${others[*]}); give a new or empty folder" >&2
      exit 2
    fi
  fi
}
check_out

# The key signs before five minutes are spent building.
if [ -n "$sign_key" ]; then
  export GNUPGHOME="${GNUPGHOME:-$VELQUOR_CALLER_HOME/.gnupg}"
  gpg --batch --list-secret-keys -- "$sign_key" >/dev/null 2>&1 ||
    { echo "release.sh: no secret key '$sign_key' in $GNUPGHOME" >&2; exit 2; }
fi

"$repo/scripts/install-deps.sh" release

# The versions, from the commit built.
version=$(git show "$commit:CMakeLists.txt" | sed -n 's/^project(VelquorUpdater VERSION \([0-9.]*\) .*/\1/p')
[ -n "$version" ] || { echo "release.sh: no project version in the commit's CMakeLists.txt" >&2; exit 1; }
firmware_version=$(git show "$commit:catalogue/catalogue.h" | sed -n 's/^constexpr uint16_t CARRIED_FIRMWARE_VERSION = \([0-9]*\);/\1/p')
[ -n "$firmware_version" ] || { echo "release.sh: no firmware version in the commit's catalogue.h" >&2; exit 1; }
firmware_text="$((firmware_version >> 8)).$((firmware_version & 255))"
if [ "$test_images" -eq 1 ]; then
  shown="$version+test-images"     # what the programs show
  package="$version~test-images"   # the package's version: below the release's own
  named="$version-test-images"     # what the file names carry
else
  shown="$version"
  package="$version"
  named="$version"
fi

export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit")

work=$(mktemp -d "${TMPDIR:-/tmp}/velquor-release.XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME="$work/home"
mkdir -p "$HOME" "$work/src"
# The committed bytes with LF line ends and the modes 0644 and 0755, whatever the user's git
# settings (core.autocrlf, core.eol, tar.umask) and umask.
git -c core.autocrlf=false -c core.eol=lf -c tar.umask=0022 archive --format=tar "$commit" | tar -x --no-same-owner --no-same-permissions -C "$work/src"

images=()
[ -n "$firmware" ] && images=(-DVELQUOR_FIRMWARE_DIR="$firmware")
common=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DVELQUOR_BUILD_TESTS=OFF -DVELQUOR_WERROR=ON -DVELQUOR_REPRODUCIBLE=ON
        "${images[@]}")

echo "=== release $shown: velquor-flash for Linux"
cmake -S "$work/src" -B "$work/linux" "${common[@]}" -DVELQUOR_HARDEN=ON >/dev/null
cmake --build "$work/linux" --target velquor-flash -j2

echo "=== release $shown: the Windows programs"
cmake -S "$work/src" -B "$work/win64" "${common[@]}" -DCMAKE_TOOLCHAIN_FILE="$work/src/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$work/win64" --target velquor_updater velquor-flash -j2

echo "=== release $shown: the web page"
NODE_PATH=/usr/share/nodejs cmake -S "$work/src" -B "$work/web" "${common[@]}" \
      -DCMAKE_TOOLCHAIN_FILE=/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake >/dev/null
NODE_PATH=/usr/share/nodejs cmake --build "$work/web" -j2

# Modes set outright (folders 0755, files 0644, programs 0755) and times from the commit.
settle() {
  local folder=$1
  shift
  find "$folder" -type d -exec chmod 0755 {} +
  find "$folder" -type f -exec chmod 0644 {} +
  [ $# -eq 0 ] || chmod 0755 "$@"
  find "$folder" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}
# An archive of `folder` with the files listed, in that order.
zip_folder() {
  local folder=$1 archive=$2
  shift 2
  (cd "$folder" && zip -X -D -q -9 "$archive" "$@")
}
# A text for Windows: UTF-8 with a byte order mark, CR LF line ends.
windows_text() {
  if grep -q $'\r' "$1"; then echo "release.sh: $1 has CR line ends already" >&2; exit 1; fi
  { printf '\357\273\277'; sed 's/$/\r/' "$1"; } > "$2"
}

echo "=== packing VelquorUpdater-$named-win64.zip"
mkdir -p "$work/zip-win"
cp "$work/win64/platform/win32/VelquorUpdater.exe" "$work/win64/cli/velquor-flash.exe" "$work/zip-win/"
windows_text "$work/src/packaging/windows/LIESMICH-README.txt" "$work/zip-win/LIESMICH-README.txt"
windows_text "$work/src/packaging/LICENSE" "$work/zip-win/LICENSE.txt"
windows_text "$work/src/packaging/windows/THIRD-PARTY-NOTICES.txt" "$work/zip-win/THIRD-PARTY-NOTICES.txt"
settle "$work/zip-win" "$work/zip-win/VelquorUpdater.exe" "$work/zip-win/velquor-flash.exe"
zip_folder "$work/zip-win" "$work/VelquorUpdater-$named-win64.zip" \
  VelquorUpdater.exe velquor-flash.exe LIESMICH-README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt

echo "=== packing velquor-flash_${package}_amd64.deb"
deb=$work/deb
mkdir -p "$deb/usr/bin" "$deb/usr/lib/udev/rules.d" "$deb/usr/share/man/man1" "$deb/usr/share/doc/velquor-flash" "$deb/DEBIAN"
cp "$work/linux/cli/velquor-flash" "$deb/usr/bin/velquor-flash"
cp "$work/src/platform/linux/70-velquor.rules" "$deb/usr/lib/udev/rules.d/70-velquor.rules"
date_man=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%d)
date_rfc=$(date -u -R -d "@$SOURCE_DATE_EPOCH")
sed -e "s/@VERSION@/$shown/" -e "s/@DATE@/$date_man/" "$work/src/packaging/debian/velquor-flash.1" |
  gzip -9n > "$deb/usr/share/man/man1/velquor-flash.1.gz"
sed -e "s/@VERSION@/$package/" -e "s/@FIRMWARE@/$firmware_text/" -e "s/@DATE_RFC2822@/$date_rfc/" \
    "$work/src/packaging/debian/changelog.in" | gzip -9n > "$deb/usr/share/doc/velquor-flash/changelog.Debian.gz"
cp "$work/src/packaging/debian/copyright" "$deb/usr/share/doc/velquor-flash/copyright"
cp "$work/src/packaging/debian/postinst" "$work/src/packaging/debian/postrm" "$deb/DEBIAN/"
settle "$deb" "$deb/usr/bin/velquor-flash" "$deb/DEBIAN/postinst" "$deb/DEBIAN/postrm"
# The libraries velquor-flash links, as dpkg-shlibdeps reads them off the program.
mkdir -p "$work/shlibs/debian"
printf 'Source: velquor-flash\n\nPackage: velquor-flash\nArchitecture: amd64\n' > "$work/shlibs/debian/control"
depends=$(cd "$work/shlibs" && dpkg-shlibdeps -O "$deb/usr/bin/velquor-flash" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "release.sh: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
# Installed-Size as dpkg-gencontrol counts it: every regular file and symbolic link by its size in
# KiB, rounded up, and 1 KiB for every other object (folders), whatever the file system's blocks.
installed=$(find "$deb" -printf '%y %s\n' |
            awk '{ if ($1 == "f" || $1 == "l") total += int(($2 + 1023) / 1024); else total += 1 } END { print total }')
sed -e "s/@VERSION@/$package/" -e "s/@DEPENDS@/$depends/" -e "s/@INSTALLED_SIZE@/$installed/" \
    "$work/src/packaging/debian/control.in" > "$deb/DEBIAN/control"
(cd "$deb" && find usr -type f | LC_ALL=C sort | xargs md5sum > DEBIAN/md5sums)
settle "$deb" "$deb/usr/bin/velquor-flash" "$deb/DEBIAN/postinst" "$deb/DEBIAN/postrm"
dpkg-deb --root-owner-group -Zxz --build "$deb" "$work/velquor-flash_${package}_amd64.deb" >/dev/null

echo "=== packing velquor-web-$named.zip"
page="$work/web/page"
(cd "$page" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) > "$work/page-files"
mkdir -p "$work/zip-web"
cp -R "$page" "$work/zip-web/velquor-web-$named"
settle "$work/zip-web"
mapfile -t files < <(sed "s|^|velquor-web-$named/|" "$work/page-files")
zip_folder "$work/zip-web" "$work/velquor-web-$named.zip" "${files[@]}"

echo "=== BUILDINFO.txt"
{
  echo "Release: $named"
  echo "Package-Version: $package"
  echo "Commit: $commit"
  echo "Source-Date-Epoch: $SOURCE_DATE_EPOCH"
  if [ -n "$firmware" ]; then
    echo "Firmware: $firmware_text, the maker's images"
    (cd "$firmware" && LC_ALL=C sort -z < <(find . -maxdepth 1 -name '*.bin' -printf '%f\0') | xargs -0 -r sha256sum) |
      sed 's/^/ /'
  else
    echo "Firmware: $firmware_text, generated test images"
  fi
  echo "Tools:"
  {
    cmake --version | sed -n 1p
    echo "ninja $(ninja --version)"
    g++ --version | sed -n 1p
    ld --version | sed -n 1p
    x86_64-w64-mingw32-g++-posix --version | sed -n 1p
    x86_64-w64-mingw32-ld --version | sed -n 1p
    emcc --version 2>/dev/null | sed -n 1p
    clang --version | sed -n 1p
    echo "node $(node --version)"
    dpkg-deb --version | sed -n 1p
    zip -v | sed -n 2p | sed 's/^ *//'
    gzip --version | sed -n 1p
  } | sed 's/^/ /'
  echo "Packages:"
  dpkg-query -W -f='${Package} ${Version}\n' cmake ninja-build gcc-12 g++-12 binutils libc6-dev libstdc++-12-dev \
    libudev-dev g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix-runtime mingw-w64-x86-64-dev \
    binutils-mingw-w64-x86-64 emscripten clang-14 lld-14 llvm-14 binaryen nodejs dpkg dpkg-dev zip gzip |
    LC_ALL=C sort | sed 's/^/ /'
} > "$work/BUILDINFO.txt"
chmod 0644 "$work/BUILDINFO.txt"

# Into --out, and only now: an earlier release there goes, nothing else.
check_out
mkdir -p "$out"
shopt -s nullglob
for entry in "$out"/*; do
  release_file "$(basename "$entry")" && rm -f -- "$entry"
done
shopt -u nullglob
made=("VelquorUpdater-$named-win64.zip" "velquor-flash_${package}_amd64.deb" "velquor-web-$named.zip" BUILDINFO.txt)
for file in "${made[@]}"; do
  cp "$work/$file" "$out/$file"
  chmod 0644 "$out/$file"
done
(cd "$out" && sha256sum -- "${made[@]}" > SHA256SUMS && chmod 0644 SHA256SUMS)
if [ -n "$sign_key" ]; then
  echo "=== signing SHA256SUMS with $sign_key"
  gpg --batch --yes --local-user "$sign_key" --detach-sign --armor --output "$out/SHA256SUMS.asc" "$out/SHA256SUMS"
  chmod 0644 "$out/SHA256SUMS.asc"
fi
echo "=== release $shown in $out"
(cd "$out" && ls -l && cat SHA256SUMS)
