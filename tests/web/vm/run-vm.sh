#!/usr/bin/env bash
# The page on a real WebHID stack: builds the test machine of tests/linux/vm/ (Debian's kernel,
# busybox, udev, the virtual unit on uhid) with the 9p modules and this folder's vm-cases.sh,
# boots it under QEMU (software emulation) with the host's root file system read-only over 9p,
# and runs the page's cases (page-webhid.mjs) in the system's Chromium there. Fails when the
# machine does not boot, when the cases could not run (no file system, no browser, no device
# granted: each makes cases fail) or when a case fails.
#
#   run-vm.sh LINUX_BUILD_DIR PAGE_DIR VM_DIR
#
# LINUX_BUILD_DIR is a Linux build with the target velquor_vm_equipment built; PAGE_DIR the page,
# built with VELQUOR_ALLOW_TEST_IMAGES=ON; tests/web/node_modules holds the driver. The console
# is kept in VM_DIR/console.log, the screenshots in VM_DIR/out/screenshots, the page's logs in
# VM_DIR/out/records (each replayed on the host by velquor-flash).
set -euo pipefail

here=$(dirname "$(realpath "$0")")
repo=$(realpath "$here/../../..")
build=$(realpath "$1")
page=$(realpath "$2")
vm=$(mkdir -p "$3" && realpath "$3")
limit=${VELQUOR_VM_WEB_TIMEOUT:-1260}

fail() { echo "vm-web: FAILED: $*" >&2; exit 1; }
[ -f "$build/tests/linux/velquor-uhid-unit" ] || fail "no virtual unit in $build (target velquor_vm_equipment)"
[ -f "$page/velquor.wasm" ] || fail "no page in $page"
[ -d "$repo/tests/web/node_modules/playwright-core" ] || fail "no driver: run npm ci in tests/web"
for path in "$repo" "$build" "$page"; do
  case "$path" in *[[:space:]]*) fail "the path '$path' has a space: the kernel's command line can't carry it" ;; esac
done

VELQUOR_VM_MODULES="virtio_pci 9pnet_virtio 9p" VELQUOR_VM_CASES="$here/vm-cases.sh" \
  "$repo/tests/linux/vm/build-initramfs.sh" "$build" "$vm"
rm -rf "$vm/out"
mkdir -p "$vm/out"

log=$vm/console.log
: > "$log"
start=$(date +%s%N)
set +e
# Chromium needs more memory than the machine of velquor-flash's run: 2 GiB, two processors.
timeout "$limit" qemu-system-x86_64 -accel tcg -cpu qemu64 -m 2G -smp 2 -nographic -no-reboot -nic none \
    -kernel "$vm/vmlinuz" -initrd "$vm/initramfs.gz" \
    -virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap" \
    -virtfs "local,path=$vm/out,mount_tag=velquorout,security_model=none" \
    -append "console=ttyS0 quiet panic=-1 rdinit=/init VELQUOR_REPO=$repo VELQUOR_LINUX_BUILD=$build VELQUOR_PAGE_DIR=$page" \
    </dev/null 2>&1 |
  while IFS= read -r line; do
    line=${line%$'\r'}
    printf '%s\n' "$line" >> "$log"
    case "$line" in
      *VMTEST-READY*)
        echo "vm-web: booted to a settled udev in $(( ($(date +%s%N) - start) / 1000000 )) ms wall (${line#*VMTEST-READY } s in the VM)" ;;
      VMTEST-END*|"") ;;
      *) echo "vm-web: $line" ;;
    esac
  done
qemu_status=${PIPESTATUS[0]}
set -e
took=$(( ($(date +%s%N) - start) / 1000000 ))

grep -q 'VMTEST-READY' "$log" ||
  { tail -n 30 "$log" >&2; fail "the test machine did not boot (qemu status $qemu_status); console in $log"; }
summary=$(grep -o 'VMWEB-SUMMARY.*' "$log" | tail -n 1 || true)
[ -n "$summary" ] ||
  { tail -n 30 "$log" >&2; fail "the run ended without its summary after $took ms (qemu status $qemu_status); console in $log"; }
case "$summary" in
  *" 0 failed") ;;
  *) fail "${summary#VMWEB-SUMMARY: }; console in $log, screenshots in $vm/out/screenshots" ;;
esac
# The page's logs ("Save log") of an update, a refused block and an unplug, replayed on the host
# by velquor-flash as the unit's records.
. "$repo/tests/linux/vm/records.sh"
logs=$(find "$vm/out/records" -name '*.rec' 2>/dev/null | wc -l)
[ "$logs" -eq 3 ] || fail "the page saved $logs logs in $vm/out/records, not 3"
replay_records "$vm/out/records" "$build/cli/velquor-flash" | sed 's/^/vm-web: /' ||
  fail "a log the page saved does not replay on the host (in $vm/out/records)"
echo "FIGURE vm-web: the whole VM run took $took ms"
echo "vm-web: ${summary#VMWEB-SUMMARY: }"
