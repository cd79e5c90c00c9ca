#!/usr/bin/env bash
# Builds the end-to-end test machine: Debian's kernel (fetched once with apt-get download and
# kept in VM_DIR/kernel) and an initramfs with busybox, the HID modules, Debian's udev, the
# udev rule, velquor-flash, the virtual unit and the test cases.
#
#   build-initramfs.sh BUILD_DIR VM_DIR
#
# BUILD_DIR is a Linux build folder of this project with the target velquor_vm_equipment
# built. Writes VM_DIR/vmlinuz and VM_DIR/initramfs.gz.
#
# Another run on the same machine (the page's, tests/web/vm/) sets two variables:
# VELQUOR_VM_MODULES, further modules loaded after the HID ones, and VELQUOR_VM_CASES, the
# script that /init runs instead of this folder's cases.sh.
set -euo pipefail

build=$(realpath "$1")
vm=$(mkdir -p "$2" && realpath "$2")
here=$(dirname "$(realpath "$0")")

# --- Kernel -----------------------------------------------------------------------------------
kernelDir=$vm/kernel
if [ ! -f "$kernelDir/release" ]; then
  rm -rf "$kernelDir" && mkdir -p "$kernelDir"
  package=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n1)
  [ -n "$package" ] || { echo "build-initramfs: no kernel package behind linux-image-amd64" >&2; exit 1; }
  (cd "$kernelDir" && apt-get download "$package" >/dev/null 2>&1) ||
    { echo "build-initramfs: apt-get download $package failed" >&2; exit 1; }
  dpkg-deb -x "$kernelDir"/"$package"_*.deb "$kernelDir/extracted"
  release=$(ls "$kernelDir/extracted/lib/modules")
  busybox depmod -b "$kernelDir/extracted" "$release"
  echo "$release" > "$kernelDir/release"
fi
release=$(cat "$kernelDir/release")
modules=$kernelDir/extracted/lib/modules/$release
cp "$kernelDir/extracted/boot/vmlinuz-$release" "$vm/vmlinuz"

# --- Root -------------------------------------------------------------------------------------
root=$vm/root
rm -rf "$root"
mkdir -p "$root"/{bin,sbin,etc,proc,sys,dev,run,tmp,lib/modules,lib/systemd,images,home/tester,usr/bin}
cp /bin/busybox "$root/bin/busybox"

# Modules in the order modules.dep gives: each module's dependencies (listed last-loaded-first)
# before the module itself, every module once.
: > "$root/lib/modules/load-order"
load_module() {
  local name=$1 line path deps dep
  line=$(grep -E "(^|/)$name\.ko:" "$modules/modules.dep") || { echo "build-initramfs: no module $name" >&2; exit 1; }
  path=${line%%:*}
  deps=${line#*:}
  for dep in $(echo "$deps" | tr ' ' '\n' | tac); do
    grep -qx "$(basename "$dep")" "$root/lib/modules/load-order" || {
      cp "$modules/$dep" "$root/lib/modules/"; basename "$dep" >> "$root/lib/modules/load-order"; }
  done
  grep -qx "$(basename "$path")" "$root/lib/modules/load-order" || {
    cp "$modules/$path" "$root/lib/modules/"; basename "$path" >> "$root/lib/modules/load-order"; }
}
for m in hid uhid hid-generic ${VELQUOR_VM_MODULES:-}; do load_module "$m"; done

# The shared libraries ldd lists for a program (none for a static one).
copy_libraries() {
  local library
  for library in $(ldd "$1" 2>/dev/null | grep -o '/[^ ]*' || true); do
    mkdir -p "$root$(dirname "$library")"
    cp -L "$library" "$root$library"
  done
}
copy_program() {
  cp "$1" "$root$2"
  copy_libraries "$1"
}
copy_program /lib/systemd/systemd-udevd /lib/systemd/systemd-udevd
copy_program /bin/udevadm /bin/udevadm
# The product as cmake --install lays it out: /usr/bin/velquor-flash and its udev rule in
# /usr/lib/udev/rules.d, where Debian's udev reads the rules of installed packages.
cmake --install "$build" --prefix "$root/usr" --strip >/dev/null
copy_libraries "$root/usr/bin/velquor-flash"
copy_program "$build/tests/linux/velquor-uhid-unit" /bin/velquor-uhid-unit
copy_program "$build/tests/linux/velquor-hotplug-probe" /bin/velquor-hotplug-probe

# The image the default controller receives, to compare the unit's flash with.
"$build/tests/linux/velquor-expected-image" 0x110fa0d2 "$root/images/expected.bin"

# Users: root, and the unprivileged user of the permission case.
printf 'root:x:0:0:root:/:/bin/sh\ntester:x:1000:1000:tester:/home/tester:/bin/sh\n' > "$root/etc/passwd"
printf 'root:x:0:\ntester:x:1000:\n' > "$root/etc/group"
chown 1000:1000 "$root/home/tester"

cp "$here/init.sh" "$root/init"
cp "${VELQUOR_VM_CASES:-$here/cases.sh}" "$root/cases.sh"
cp "$here/send-record.sh" "$root/send-record.sh"
chmod 755 "$root/init"

(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$vm/initramfs.gz"
