#!/bin/busybox sh
# The test machine's first process: mounts, loads the HID modules, starts Debian's udev, runs
# the cases (cases.sh) and powers off. Everything it says goes to the serial console, where
# run-vm-test.sh reads it.
/bin/busybox --install -s /bin
export PATH=/usr/bin:/bin:/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
chmod 1777 /tmp

for module in $(cat /lib/modules/load-order); do
  insmod "/lib/modules/$module" || echo "VMTEST: insmod $module failed"
done
/lib/systemd/systemd-udevd --daemon 2>/tmp/udevd.log
udevadm trigger --action=add
udevadm settle --timeout=10
echo "VMTEST-READY uptime=$(cut -d' ' -f1 /proc/uptime)"

sh /cases.sh
echo "VMTEST-END"
poweroff -f
