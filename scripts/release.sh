#!/usr/bin/env bash
# Builds a release of the commit checked out (the committed tree, not the working folder) into
# dist/, the same bytes however often and wherever it runs:
#   VelquorUpdater-<version>-win64.zip    the Windows program, a text for modellers, the licence
#   velquor-flash_<version>_amd64.deb     velquor-flash, its udev rule, manual page and copyright
#   velquor-web-<version>.zip             the web page's folder
#   SHA256SUMS                            the checksums of the three
#
#   scripts/release.sh --firmware-dir DIR [--out DIR]    with the maker's images (DIR/<id>.bin)
#   scripts/release.sh --test-images [--out DIR]         a test release of the generated images:
#                                                        "-test-images" in every file name and
#                                                        "+test-images" in every version shown
# Installs what it needs first (scripts/install-deps.sh release, as root). About 5 minutes.
#
# Reproducible: time stamps come from the commit (SOURCE_DATE_EPOCH), the programs are built with
# VELQUOR_REPRODUCIBLE (no source or build folder in them, stripped, no link time in the Windows
# program), and every archive lists its files in a fixed order with the commit's time and fixed
# owners.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

firmware=""
test_images=0
out="$repo/dist"
while [ $# -gt 0 ]; do
  case "$1" in
    --firmware-dir) firmware=$(realpath "${2:?--firmware-dir needs a folder}"); shift 2 ;;
    --test-images) test_images=1; shift ;;
    --out) out=$(realpath -m "${2:?--out needs a folder}"); shift 2 ;;
    *) echo "release.sh: unknown argument '$1' (--firmware-dir DIR, --test-images, --out DIR)" >&2; exit 2 ;;
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

"$repo/scripts/install-deps.sh" release

version=$(sed -n 's/^project(VelquorUpdater VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release.sh: no project version in CMakeLists.txt" >&2; exit 1; }
firmware_version=$(sed -n 's/^constexpr uint16_t CARRIED_FIRMWARE_VERSION = \([0-9]*\);/\1/p' catalogue/catalogue.h)
firmware_text="$((firmware_version >> 8)).$((firmware_version & 255))"
if [ "$test_images" -eq 1 ]; then
  shown="$version+test-images"   # what the programs show, and the package's version
  named="$version-test-images"   # what the file names carry
else
  shown="$version"
  named="$version"
fi

export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct HEAD)
export TZ=UTC LC_ALL=C.UTF-8
umask 022

work=$(mktemp -d "${TMPDIR:-/tmp}/velquor-release.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src"
git archive --format=tar HEAD | tar -x -C "$work/src"

images=()
[ -n "$firmware" ] && images=(-DVELQUOR_FIRMWARE_DIR="$firmware")
common=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DVELQUOR_BUILD_TESTS=OFF -DVELQUOR_WERROR=ON -DVELQUOR_REPRODUCIBLE=ON
        "${images[@]}")

echo "=== release $shown: velquor-flash for Linux"
cmake -S "$work/src" -B "$work/linux" "${common[@]}" >/dev/null
cmake --build "$work/linux" --target velquor-flash

echo "=== release $shown: the Windows program"
cmake -S "$work/src" -B "$work/win64" "${common[@]}" -DCMAKE_TOOLCHAIN_FILE="$work/src/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$work/win64" --target velquor_updater

echo "=== release $shown: the web page"
NODE_PATH=/usr/share/nodejs cmake -S "$work/src" -B "$work/web" "${common[@]}" \
      -DCMAKE_TOOLCHAIN_FILE=/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake >/dev/null
NODE_PATH=/usr/share/nodejs cmake --build "$work/web"

# An archive of `folder` with the files listed, in that order, at the commit's time.
stamp() { find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +; }
zip_folder() {
  local folder=$1 archive=$2
  shift 2
  stamp "$folder"
  (cd "$folder" && zip -X -D -q -9 "$archive" "$@")
}

rm -rf "$out"
mkdir -p "$out"

echo "=== packing VelquorUpdater-$named-win64.zip"
mkdir -p "$work/zip-win"
cp "$work/win64/platform/win32/VelquorUpdater.exe" "$work/zip-win/"
cp "$work/src/packaging/windows/LIESMICH-README.txt" "$work/zip-win/LIESMICH-README.txt"
cp "$work/src/packaging/LICENSE" "$work/zip-win/LICENSE.txt"
zip_folder "$work/zip-win" "$out/VelquorUpdater-$named-win64.zip" VelquorUpdater.exe LIESMICH-README.txt LICENSE.txt

echo "=== packing velquor-flash_${shown}_amd64.deb"
deb=$work/deb
install -D -m 0755 "$work/linux/cli/velquor-flash" "$deb/usr/bin/velquor-flash"
install -D -m 0644 "$work/src/platform/linux/70-velquor.rules" "$deb/usr/lib/udev/rules.d/70-velquor.rules"
date_man=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%d)
date_rfc=$(date -u -R -d "@$SOURCE_DATE_EPOCH")
mkdir -p "$deb/usr/share/man/man1" "$deb/usr/share/doc/velquor-flash" "$deb/DEBIAN"
sed -e "s/@VERSION@/$shown/" -e "s/@DATE@/$date_man/" "$work/src/packaging/debian/velquor-flash.1" |
  gzip -9n > "$deb/usr/share/man/man1/velquor-flash.1.gz"
sed -e "s/@VERSION@/$shown/" -e "s/@FIRMWARE@/$firmware_text/" -e "s/@DATE_RFC2822@/$date_rfc/" \
    "$work/src/packaging/debian/changelog.in" | gzip -9n > "$deb/usr/share/doc/velquor-flash/changelog.Debian.gz"
install -m 0644 "$work/src/packaging/debian/copyright" "$deb/usr/share/doc/velquor-flash/copyright"
install -m 0755 "$work/src/packaging/debian/postinst" "$work/src/packaging/debian/postrm" "$deb/DEBIAN/"
# The libraries velquor-flash links, as dpkg-shlibdeps reads them off the program.
mkdir -p "$work/shlibs/debian"
printf 'Source: velquor-flash\n\nPackage: velquor-flash\nArchitecture: amd64\n' > "$work/shlibs/debian/control"
depends=$(cd "$work/shlibs" && dpkg-shlibdeps -O "$deb/usr/bin/velquor-flash" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "release.sh: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
installed=$(du -k -s --apparent-size "$deb/usr" | cut -f1)
sed -e "s/@VERSION@/$shown/" -e "s/@DEPENDS@/$depends/" -e "s/@INSTALLED_SIZE@/$installed/" \
    "$work/src/packaging/debian/control.in" > "$deb/DEBIAN/control"
(cd "$deb" && find usr -type f | LC_ALL=C sort | xargs md5sum > DEBIAN/md5sums)
chmod 0644 "$deb/DEBIAN/control" "$deb/DEBIAN/md5sums"
stamp "$deb"
dpkg-deb --root-owner-group -Zxz --build "$deb" "$out/velquor-flash_${shown}_amd64.deb" >/dev/null

echo "=== packing velquor-web-$named.zip"
page="$work/web/page"
(cd "$page" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) > "$work/page-files"
mkdir -p "$work/zip-web"
cp -a "$page" "$work/zip-web/velquor-web-$named"
mapfile -t files < <(sed "s|^|velquor-web-$named/|" "$work/page-files")
zip_folder "$work/zip-web" "$out/velquor-web-$named.zip" "${files[@]}"

(cd "$out" && sha256sum VelquorUpdater-"$named"-win64.zip velquor-flash_"$shown"_amd64.deb velquor-web-"$named".zip > SHA256SUMS)
echo "=== release $shown in $out"
(cd "$out" && ls -l && cat SHA256SUMS)
