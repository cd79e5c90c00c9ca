#!/usr/bin/env bash
# The release of a test build, checked as a modeller, a Debian developer and a Windows release
# engineer would take it:
#   refusals   no images, a dirty tree, an --out folder holding a file of its own
#   same bytes a second run from a clone checked out with core.autocrlf=true, on tmpfs, with
#              umask 077, another time zone, locale and HOME, and ZIPOPT, GZIP and compiler flags
#              set, gives the same bytes as the first
#   contents   files, SHA256SUMS and its signature (a throwaway key), the archives' files, modes,
#              notices and licences, CR LF texts with a BOM, the package's version below the
#              release's
#   hardening  the flags read back from the programs (readelf, objdump, the PE headers)
#   Debian     lintian --pedantic without errors; installed, run and purged with dpkg
#   Windows    the programs' version resources read back under Wine, velquor-flash.exe run there
# Run as root (tmpfs, dpkg) on a machine whose installed packages may change (CI's).
#   tests/release/release-test.sh [BUILD_DIR]     (default build/release)
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$(pwd)
build=$(realpath -m "${1:-build/release}")
tmpfs="$build/tmpfs"
mountpoint -q "$tmpfs" 2>/dev/null && umount "$tmpfs"
rm -rf "$build"
mkdir -p "$build"
failures=0
fail() { echo "RELEASE-TEST FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "RELEASE-TEST PASS: $*"; }
# Runs a command with its output into a file and prints its exit status.
status_of() { local log=$1; shift; set +e; "$@" >"$log" 2>&1; local status=$?; set -e; echo "$status"; }

version=$(sed -n 's/^project(VelquorUpdater VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
commit=$(git rev-parse HEAD)
win="VelquorUpdater-$version-test-images-win64.zip"
deb="velquor-flash_${version}~test-images_amd64.deb"
web="velquor-web-$version-test-images.zip"
made=("$win" "$deb" "$web" BUILDINFO.txt SHA256SUMS)

# --- Refusals: nothing is built, nothing is touched.
refused=$(status_of "$build/refused.txt" scripts/release.sh --out "$build/refused")
{ [ "$refused" -eq 2 ] && [ ! -e "$build/refused" ] && grep -q -- '--firmware-dir' "$build/refused.txt"; } ||
  fail "release.sh without images ended with $refused: $(cat "$build/refused.txt")"

git clone -q --no-checkout "$repo" "$build/dirty"
git -C "$build/dirty" checkout -q --detach "$commit"
echo "a change not committed" >> "$build/dirty/README.md"
refused=$(status_of "$build/dirty.txt" "$build/dirty/scripts/release.sh" --test-images --out "$build/dirty-out")
{ [ "$refused" -eq 1 ] && [ ! -e "$build/dirty-out" ] && grep -q 'uncommitted changes' "$build/dirty.txt"; } ||
  fail "a dirty tree: release.sh ended with $refused: $(cat "$build/dirty.txt")"

mkdir -p "$build/occupied"
echo "the user's own notes" > "$build/occupied/notes.txt"
refused=$(status_of "$build/occupied.txt" scripts/release.sh --test-images --allow-dirty --out "$build/occupied")
{ [ "$refused" -eq 2 ] && [ "$(ls -A "$build/occupied")" = notes.txt ] &&
  [ "$(cat "$build/occupied/notes.txt")" = "the user's own notes" ] && grep -q 'notes.txt' "$build/occupied.txt"; } ||
  fail "--out on a folder with a file: release.sh ended with $refused, the folder holds $(ls -A "$build/occupied")"
pass "refused: no images, a dirty tree, an --out folder with a file of the user's (still there)"

# --- The first run, signed with a throwaway key, into a folder holding an earlier release.
export GNUPGHOME="$build/gnupg"
mkdir -m 0700 "$GNUPGHOME"
gpg --batch --quiet --passphrase '' --quick-gen-key 'VELQUOR release test <release-test@velquor.invalid>' ed25519 sign never
key=$(gpg --batch --with-colons --list-secret-keys | sed -n 's/^fpr:*\([0-9A-F]*\):$/\1/p' | head -n 1)
mkdir -p "$build/a"
echo "an earlier release" > "$build/a/velquor-web-1.9.0.zip"
scripts/release.sh --test-images --allow-dirty --out "$build/a" --sign-key "$key"

# --- The second run, varied: another person's clone and settings, on tmpfs.
mkdir -p "$tmpfs"
if mount -t tmpfs -o size=4g,mode=0755 velquor-release-test "$tmpfs"; then
  trap 'umount "$tmpfs" 2>/dev/null || true' EXIT
  [ "$(stat -f -c %T "$tmpfs")" = tmpfs ] || fail "$tmpfs is not on tmpfs"
else
  fail "tmpfs could not be mounted: the second run is on $(stat -f -c %T "$tmpfs")"
fi
mkdir -p "$build/home-b" "$build/locale" "$tmpfs/tmp"
printf '[core]\n\tautocrlf = true\n[tar]\n\tumask = 0002\n' > "$build/home-b/.gitconfig"
localedef -i de_DE -f UTF-8 "$build/locale/de_DE.UTF-8"
(umask 077 && git clone -q -c core.autocrlf=true --no-checkout "$repo" "$tmpfs/clone" &&
 git -C "$tmpfs/clone" checkout -q --detach "$commit") || fail "the clone could not be made"
grep -q $'\r$' "$tmpfs/clone/README.md" || fail "the clone's working files have no CR LF"
(
  umask 077
  cd "$tmpfs/clone"
  exec env HOME="$build/home-b" TMPDIR="$tmpfs/tmp" TZ=Pacific/Chatham LOCPATH="$build/locale" LANG=de_DE.UTF-8 \
      LC_ALL=de_DE.UTF-8 ZIPOPT=-0 GZIP=-1 CFLAGS=-O0 CXXFLAGS=-O0 LDFLAGS=-Wl,--build-id=sha1 \
      SOURCE_DATE_EPOCH=0 DEB_BUILD_MAINT_OPTIONS=hardening=-all \
      scripts/release.sh --test-images --out "$tmpfs/b"
) || fail "the second run failed"

for file in "${made[@]}" SHA256SUMS.asc; do
  [ -f "$build/a/$file" ] || fail "$file is missing"
done
[ "$(ls -A "$build/a" | wc -l)" -eq 6 ] || fail "the first run's folder holds: $(ls -A "$build/a")"
[ "$(ls -A "$tmpfs/b" | wc -l)" -eq 5 ] || fail "the unsigned run's folder holds: $(ls -A "$tmpfs/b")"
for file in "${made[@]}"; do
  cmp -s "$build/a/$file" "$tmpfs/b/$file" || fail "$file differs between the two runs"
done
pass "two runs, the second varied (tmpfs, umask 077, TZ, locale, HOME, core.autocrlf=true, ZIPOPT), same bytes: ${made[*]}"

# --- Checksums and their signature.
(cd "$build/a" && sha256sum --check --strict SHA256SUMS) || fail "SHA256SUMS does not verify"
gpg --batch --verify "$build/a/SHA256SUMS.asc" "$build/a/SHA256SUMS" 2>"$build/gpg-verify.txt" ||
  fail "the signature does not verify: $(cat "$build/gpg-verify.txt")"
grep -q "$key" <(gpg --batch --with-colons --status-fd 1 --verify "$build/a/SHA256SUMS.asc" "$build/a/SHA256SUMS" 2>/dev/null) ||
  fail "the signature is not the throwaway key's"
sed 's/^\([0-9a-f]\)/0/' "$build/a/SHA256SUMS" > "$build/SHA256SUMS.changed"
if gpg --batch --verify "$build/a/SHA256SUMS.asc" "$build/SHA256SUMS.changed" 2>/dev/null; then
  fail "the signature verifies a changed SHA256SUMS"
fi
grep -q "^Commit: $commit$" "$build/a/BUILDINFO.txt" || fail "BUILDINFO.txt names another commit"
for tool in 'cmake version' 'g++ (Debian' 'x86_64-w64-mingw32-g++-posix' 'emcc (Emscripten' "'dpkg-deb'" 'Zip 3' 'emscripten ' 'dpkg '; do
  grep -qF "$tool" "$build/a/BUILDINFO.txt" || fail "BUILDINFO.txt lacks $tool"
done
pass "SHA256SUMS verifies, signed by the throwaway key; a changed one does not verify; BUILDINFO.txt names the commit and the tools"

# --- Versions: the test release sorts below the release.
package=$(dpkg-deb -f "$build/a/$deb" Version)
[ "$package" = "$version~test-images" ] || fail "the package's version is $package"
dpkg --compare-versions "$package" lt "$version" || fail "$package does not sort below $version"
dpkg --compare-versions "$version+test-images" gt "$version" || fail "the old form no longer sorts above (the check is wrong)"
pass "the package's version $package sorts below $version"

# --- What each archive holds.
windows_files=$(unzip -Z1 "$build/a/$win" | tr '\n' ' ')
[ "$windows_files" = 'VelquorUpdater.exe velquor-flash.exe LIESMICH-README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt ' ] ||
  fail "the Windows zip holds: $windows_files"
mkdir -p "$build/win"
unzip -q -o "$build/a/$win" -d "$build/win"
for text in LIESMICH-README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt; do
  [ "$(head -c 3 "$build/win/$text" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "$text has no UTF-8 BOM"
  awk '!/\r$/ { bad++ } END { exit bad > 0 }' "$build/win/$text" || fail "$text has lines without CR LF"
done
for notice in 'GCC RUNTIME LIBRARY EXCEPTION' 'libstdc++' 'libgcc' 'winpthreads' 'Lockless Inc.' 'Zope Public License'; do
  grep -qF "$notice" "$build/win/THIRD-PARTY-NOTICES.txt" || fail "the notices lack '$notice'"
done
grep -qF 'Windows protected your PC' "$build/win/LIESMICH-README.txt" && grep -qF 'Get-FileHash' "$build/win/LIESMICH-README.txt" ||
  fail "the modellers' text says nothing of SmartScreen or the checksum"
for use in 'velquor-flash.exe --yes watch' 'velquor-flash.exe --record update.rec update' 'exit status'; do
  grep -qF "$use" "$build/win/LIESMICH-README.txt" || fail "the modellers' text does not say '$use'"
done
unzip -Z1 "$build/a/$web" > "$build/web-files.txt"
for page in index.html velquor.css page-texts.js startup.js page.js timer-worker.js velquor.js velquor.wasm velquor_logo.bmp \
    velquor.ico velquor.webmanifest icon-192.png icon-512.png sw.js sw-store.js LICENSE.txt images/157.bin; do
  grep -qx "velquor-web-$version-test-images/$page" "$build/web-files.txt" || fail "the web zip lacks $page"
done
unzip -p "$build/a/$web" "velquor-web-$version-test-images/index.html" | grep -q 'href="LICENSE.txt"' ||
  fail "the page does not link its licence"
# Every file with the mode set before packing, whatever the umask and git's tar.umask.
for zip in "$win" "$web"; do
  zipinfo "$build/a/$zip" | awk '/^-/ { print $1, $NF }' > "$build/modes.txt"
  awk '$1 != "-rw-r--r--" && !($1 == "-rwxr-xr-x" && ($2 == "VelquorUpdater.exe" || $2 == "velquor-flash.exe"))' \
    "$build/modes.txt" > "$build/odd-modes.txt"
  if [ -s "$build/odd-modes.txt" ]; then fail "$zip stores other modes: $(cat "$build/odd-modes.txt")"; fi
done
mkdir -p "$build/deb-b"
dpkg-deb -e "$tmpfs/b/$deb" "$build/deb-b/DEBIAN"
[ "$(head -n 1 "$build/deb-b/DEBIAN/postinst")" = '#!/bin/sh' ] || fail "the package's postinst does not start with #!/bin/sh"
grep -q $'\r' "$build/deb-b/DEBIAN/postinst" "$build/deb-b/DEBIAN/postrm" && fail "the package's scripts have CR"
dpkg-deb --fsys-tarfile "$build/a/$deb" | tar -xO ./usr/share/doc/velquor-flash/copyright > "$build/copyright.txt"
grep -q '^Files: resources/firmware/images/\*.bin$' "$build/copyright.txt" || fail "debian/copyright has no stanza for the images"
pass "archives: notices, licences, CR LF texts with a BOM, modes, the images' copyright, LF scripts"

# --- Hardening, read back from the programs.
mkdir -p "$build/deb-x"
dpkg-deb -x "$build/a/$deb" "$build/deb-x"
elf="$build/deb-x/usr/bin/velquor-flash"
readelf -hW "$elf" | grep -q 'Type: *DYN' || fail "velquor-flash is no PIE"
readelf -dW "$elf" > "$build/elf-dynamic.txt"
readelf -lW "$elf" > "$build/elf-segments.txt"
readelf --dyn-syms -W "$elf" > "$build/elf-symbols.txt"
grep -q '(FLAGS) *BIND_NOW' "$build/elf-dynamic.txt" || fail "velquor-flash lacks BIND_NOW"
grep -q 'FLAGS_1).*NOW.*PIE' "$build/elf-dynamic.txt" || fail "velquor-flash lacks FLAGS_1 NOW PIE"
grep -q GNU_RELRO "$build/elf-segments.txt" || fail "velquor-flash has no RELRO segment"
grep -q ' __stack_chk_fail' "$build/elf-symbols.txt" || fail "velquor-flash has no stack protector"
fortified=$(grep -o ' __[a-z0-9_]*_chk@' "$build/elf-symbols.txt" | grep -v stack_chk | tr -d ' @' | sort -u | tr '\n' ' ')
[ -n "$fortified" ] || fail "velquor-flash calls no fortified functions"
endbr=$(objdump -d "$elf" | grep -c endbr64 || true)
[ "$endbr" -gt 100 ] || fail "velquor-flash has $endbr endbr64 (no -fcf-protection)"
echo "FIGURE velquor-flash: PIE, $(sed -n 's/.*(FLAGS) *//p' "$build/elf-dynamic.txt"), FLAGS_1 $(sed -n 's/.*(FLAGS_1) *Flags: //p' "$build/elf-dynamic.txt"), GNU_RELRO, __stack_chk_fail, fortified: $fortified, $endbr endbr64"
for program in VelquorUpdater.exe velquor-flash.exe; do
  exe="$build/win/$program"
  x86_64-w64-mingw32-objdump -p "$exe" > "$build/pe-header.txt"
  characteristics=$(sed -n 's/^DllCharacteristics[[:space:]]*//p' "$build/pe-header.txt")
  for bit in 0x20:HIGH_ENTROPY_VA 0x40:DYNAMIC_BASE 0x100:NX_COMPAT; do
    [ $(( 0x$characteristics & ${bit%%:*} )) -ne 0 ] || fail "$program lacks ${bit#*:} ($characteristics)"
  done
  if grep -qi 'DLL Name:.*\(libstdc\|libgcc\|winpthread\|libssp\)' "$build/pe-header.txt"; then
    fail "$program needs a compiler DLL"
  fi
  grep -qaF 'stack smashing detected' "$exe" || fail "$program has no stack protector (libssp)"
  grep -q '\.reloc' "$build/pe-header.txt" || x86_64-w64-mingw32-objdump -h "$exe" | grep -q '\.reloc' ||
    fail "$program has no relocations (ASLR could not move it)"
  echo "FIGURE $program: DllCharacteristics 0x$characteristics ($(sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p' "$build/pe-header.txt" | sed -n 's/^[[:space:]]\+\([A-Z_]\+\)$/\1/p' | tr '\n' ' ')), libssp's stack protector linked in"
done
pass "hardening read back from velquor-flash, VelquorUpdater.exe and velquor-flash.exe"

# --- The package, as Debian's checker sees it.
lintian --pedantic "$build/a/$deb" > "$build/lintian.txt" 2>&1 || true
sed 's/^/  lintian --pedantic: /' "$build/lintian.txt"
grep -q '^E:' "$build/lintian.txt" && fail "lintian reports errors"
grep -q 'hardening-' "$build/lintian.txt" && fail "lintian reports missing hardening"
echo "FIGURE lintian --pedantic: $(grep -c '^[EWIPX]:' "$build/lintian.txt" || true) tags"
dpkg-deb --info "$build/a/$deb" | sed -n 's/^ \(Depends\|Installed-Size\): /  \1: /p'

# --- Installed, used, removed.
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

# --- The Windows programs' version resources, as Windows reads them; velquor-flash.exe runs.
x86_64-w64-mingw32-g++-posix -municode -static -O2 -o "$build/version_info.exe" tests/release/version_info.cpp -lversion
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all
wineserver -p </dev/null >/dev/null 2>&1 || true
for program in "VelquorUpdater.exe:VELQUOR ORVANT QX firmware updater" \
               "velquor-flash.exe:VELQUOR ORVANT QX firmware updater on the terminal"; do
  name=${program%%:*}
  timeout 300 wine "$build/version_info.exe" "Z:$build/win/$name" </dev/null >"$build/version.txt" 2>/dev/null ||
    fail "the version resource of $name could not be read under Wine"
  tr -d '\r' < "$build/version.txt" > "$build/version-lines.txt"
  sed "s/^/  version resource of $name: /" "$build/version-lines.txt"
  for line in "FileVersionNumber: ${version}.0" "ProductVersionNumber: ${version}.0" \
              "ProductName: VELQUOR ORVANT QX Firmware Updater" "FileVersion: ${version}+test-images" \
              "ProductVersion: ${version}+test-images" "OriginalFilename: $name" "FileDescription: ${program#*:}"; do
    grep -qxF "$line" "$build/version-lines.txt" || fail "the version resource of $name lacks '$line'"
  done
  grep -q '^LegalCopyright: Copyright' "$build/version-lines.txt" || fail "the version resource of $name has no copyright"
done
shown=$(timeout 300 wine "$build/win/velquor-flash.exe" --version </dev/null 2>/dev/null | tr -d '\r' || true)
[ "$shown" = "velquor-flash $version+test-images (ESC firmware 1.25)" ] || fail "velquor-flash.exe --version said '$shown'"
wineserver -k >/dev/null 2>&1 || true
pass "version resources of VelquorUpdater.exe and velquor-flash.exe; velquor-flash.exe --version: '$shown'"

(cd "$build/a" && for file in *; do echo "FIGURE release file $file: $(stat -c %s "$file") bytes"; done)
if [ "$failures" -ne 0 ]; then
  echo "RELEASE-TEST: $failures failures"
  exit 1
fi
echo "RELEASE-TEST: passed"
