#!/usr/bin/env bash
# The release of a test build, checked as a modeller and Debian would take it: the release
# script runs twice, in different folders at different times, and must give the same bytes;
# every file is there and listed in SHA256SUMS; lintian finds no error in the package, which
# installs, works and goes again cleanly with dpkg; the Windows program's version resource reads
# back under Wine. Run as root on a machine whose installed packages may change (CI's).
#   tests/release/release-test.sh [BUILD_DIR]     (default build/release)
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$(pwd)
build=$(realpath -m "${1:-build/release}")
rm -rf "$build"
mkdir -p "$build"
failures=0
fail() { echo "RELEASE-TEST FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "RELEASE-TEST PASS: $*"; }

# Without the maker's images and without asking for a test release, nothing is made.
set +e
scripts/release.sh --out "$build/refused" >"$build/refused.txt" 2>&1
refused=$?
set -e
{ [ "$refused" -eq 2 ] && [ ! -e "$build/refused" ] && grep -q -- '--firmware-dir' "$build/refused.txt"; } ||
  fail "release.sh without images ended with $refused: $(cat "$build/refused.txt")"

scripts/release.sh --test-images --out "$build/a"
sleep 2
mkdir -p "$build/tmp"
TMPDIR="$build/tmp" scripts/release.sh --test-images --out "$build/b"

version=$(sed -n 's/^project(VelquorUpdater VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
win="VelquorUpdater-$version-test-images-win64.zip"
deb="velquor-flash_${version}+test-images_amd64.deb"
web="velquor-web-$version-test-images.zip"
for file in "$win" "$deb" "$web" SHA256SUMS; do
  [ -f "$build/a/$file" ] || fail "$file is missing"
done
[ "$(ls "$build/a" | wc -l)" -eq 4 ] || fail "dist holds more than the four files: $(ls "$build/a")"

# Reproducible: the second run gave the same bytes.
for file in "$build"/a/*; do
  cmp -s "$file" "$build/b/$(basename "$file")" || fail "$(basename "$file") differs between two runs"
done
pass "two runs, same bytes: $(cd "$build/a" && ls | tr '\n' ' ')"

(cd "$build/a" && sha256sum --check --strict SHA256SUMS) || fail "SHA256SUMS does not verify"

# What each archive holds.
windows_files=$(unzip -Z1 "$build/a/$win" | tr '\n' ' ')
[ "$windows_files" = 'VelquorUpdater.exe LIESMICH-README.txt LICENSE.txt ' ] || fail "the Windows zip holds: $windows_files"
# (Listed once into a file: a pipe into grep -q would end unzip early, which pipefail counts.)
unzip -Z1 "$build/a/$web" > "$build/web-files.txt"
for page in index.html velquor.css page-texts.js startup.js page.js timer-worker.js velquor.js velquor.wasm velquor_logo.bmp \
    velquor.ico velquor.webmanifest icon-192.png icon-512.png sw.js sw-store.js images/157.bin; do
  grep -qx "velquor-web-$version-test-images/$page" "$build/web-files.txt" || fail "the web zip lacks $page"
done

# The package, as Debian's checker sees it.
lintian "$build/a/$deb" > "$build/lintian.txt" 2>&1 || true
sed 's/^/  lintian: /' "$build/lintian.txt"
grep -q '^E:' "$build/lintian.txt" && fail "lintian reports errors"
dpkg-deb --info "$build/a/$deb" | sed -n 's/^ Depends: /  depends on: /p'

# Installed, used, removed.
status=$(dpkg-query -W -f='${Status}' velquor-flash 2>/dev/null || true)
case "$status" in *"ok installed"*) fail "velquor-flash is installed already" ;; esac
dpkg -i "$build/a/$deb"
shown=$(/usr/bin/velquor-flash --version || true)
[ "$shown" = "velquor-flash $version+test-images (ESC firmware 1.25)" ] || fail "--version said '$shown'"
[ -f /usr/lib/udev/rules.d/70-velquor.rules ] || fail "the udev rule is not in place"
[ -f /usr/share/man/man1/velquor-flash.1.gz ] || fail "no manual page"
/usr/bin/velquor-flash --sim '' --lang en status >/dev/null || fail "the installed program does not run"
dpkg --purge velquor-flash
for path in /usr/bin/velquor-flash /usr/lib/udev/rules.d/70-velquor.rules /usr/share/doc/velquor-flash; do
  [ ! -e "$path" ] || fail "$path is left after the removal"
done
pass "installed: '$shown', rule and manual page in place; removed and purged cleanly"

# The Windows program's version resource, as Windows reads it.
mkdir -p "$build/win"
unzip -q -o "$build/a/$win" -d "$build/win"
x86_64-w64-mingw32-g++-posix -municode -static -O2 -o "$build/version_info.exe" tests/release/version_info.cpp -lversion
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all
wineserver -p </dev/null >/dev/null 2>&1 || true
timeout 300 wine "$build/version_info.exe" "Z:$build/win/VelquorUpdater.exe" </dev/null >"$build/version.txt" 2>/dev/null ||
  fail "the version resource could not be read under Wine"
wineserver -k >/dev/null 2>&1 || true
tr -d '\r' < "$build/version.txt" > "$build/version-lines.txt"
sed 's/^/  version resource: /' "$build/version-lines.txt"
for line in "FileVersionNumber: ${version}.0" "ProductVersionNumber: ${version}.0" \
            "ProductName: VELQUOR ORVANT QX Firmware Updater" "FileVersion: ${version}+test-images" \
            "ProductVersion: ${version}+test-images" "OriginalFilename: VelquorUpdater.exe" \
            "FileDescription: VELQUOR ORVANT QX firmware updater"; do
  grep -qxF "$line" "$build/version-lines.txt" || fail "the version resource lacks '$line'"
done
grep -q '^LegalCopyright: Copyright' "$build/version-lines.txt" || fail "the version resource has no copyright"

(cd "$build/a" && for file in *; do echo "FIGURE release file $file: $(stat -c %s "$file") bytes"; done)
if [ "$failures" -ne 0 ]; then
  echo "RELEASE-TEST: $failures failures"
  exit 1
fi
echo "RELEASE-TEST: passed"
