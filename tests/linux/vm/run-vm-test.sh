#!/usr/bin/env bash
# The end-to-end test on a real kernel: builds the test machine (build-initramfs.sh), boots it
# with qemu-system-x86_64 under software emulation, and reads the cases' results from its
# serial console. Fails when the machine does not boot, when a case fails, or when the run
# ends without its summary.
#
#   run-vm-test.sh BUILD_DIR VM_DIR
#
# The console is kept in VM_DIR/console.log.
set -euo pipefail

build=$1
vm=$(mkdir -p "$2" && realpath "$2")
here=$(dirname "$(realpath "$0")")
limit=${VELQUOR_VM_TIMEOUT:-900}

rm -rf "$vm/records"
"$here/build-initramfs.sh" "$build" "$vm"

log=$vm/console.log
: > "$log"
start=$(date +%s%N)
ready_ms=""
set +e
# Each line of the console is timestamped as it arrives, for the boot time.
timeout "$limit" qemu-system-x86_64 -accel tcg -m 512M -smp 1 -nographic -no-reboot -nic none \
    -kernel "$vm/vmlinuz" -initrd "$vm/initramfs.gz" \
    -append "console=ttyS0 quiet panic=-1 rdinit=/init" </dev/null 2>&1 |
  while IFS= read -r line; do
    line=${line%$'\r'}
    printf '%s\n' "$line" >> "$log"
    case "$line" in
      *VMTEST-READY*)
        echo "vm-test: booted to a settled udev in $(( ($(date +%s%N) - start) / 1000000 )) ms wall (${line#*VMTEST-READY } s in the VM)" ;;
      CASE*|FIGURE*|VMTEST-SUMMARY*) echo "vm-test: $line" ;;
      ---*) ;;
      RECORD-*) ;;
    esac
  done
qemu_status=${PIPESTATUS[0]}
set -e

if ! grep -q 'VMTEST-READY' "$log"; then
  echo "vm-test: FAILED: the test machine did not boot (qemu status $qemu_status); console in $log" >&2
  tail -n 30 "$log" >&2
  exit 1
fi
summary=$(grep -o 'VMTEST-SUMMARY.*' "$log" || true)
if [ -z "$summary" ]; then
  echo "vm-test: FAILED: the run ended without its summary (qemu status $qemu_status); console in $log" >&2
  tail -n 30 "$log" >&2
  exit 1
fi
if grep -q '^CASE .*: FAIL' "$log"; then
  echo "vm-test: FAILED; details in $log" >&2
  sed -n '/^CASE .*: FAIL/,/^CASE .*: PASS\|^VMTEST-SUMMARY/p' "$log" >&2
  exit 1
fi
case "$summary" in
  *" 0 failed") ;;
  *) echo "vm-test: FAILED: $summary" >&2; exit 1 ;;
esac

# The records made on hidraw in the VM, replayed here on the host by the same velquor-flash and
# kept in VM_DIR/records/ (scripts/record-corpus.sh --vm copies them into tests/records/).
. "$here/records.sh"
take_records "$log" "$vm/records" "$build/cli/velquor-flash" | sed 's/^/vm-test: /' ||
  { echo "vm-test: FAILED: the records made in the VM" >&2; exit 1; }
[ "$(ls "$vm/records" | grep -c '\.rec$')" -eq 3 ] ||
  { echo "vm-test: FAILED: $(ls "$vm/records" | grep -c '\.rec$') records came from the VM, not 3" >&2; exit 1; }

echo "vm-test: ${summary#VMTEST-SUMMARY: } (whole run $(( ($(date +%s%N) - start) / 1000000 )) ms)"
