# The page's run inside the test machine, started by its /init (tests/linux/vm/init.sh) once udev
# has settled. The host's root file system, read-only over 9p, becomes a chroot at /host, with
# this machine's /dev, /proc, /sys and /run (udev's database: Chromium finds HID devices through
# udev), a tmpfs on /tmp and one on /etc/chromium, where a managed policy grants the page's
# origin http://127.0.0.1:8000 the programming units (vendor 0x21B8, products 1 and 2). There
# the system's Node.js runs the page's cases (page-webhid.mjs) in the system's Chromium.
# Screenshots go to the second 9p share, the host's VM_DIR/out.
#
# The kernel's command line gives the host's paths: VELQUOR_REPO (the checkout),
# VELQUOR_LINUX_BUILD (the virtual unit's build) and VELQUOR_PAGE_DIR (the page).
# Prints the cases' report and, last, "VMWEB-SUMMARY: N passed, N failed".

summary() { echo "VMWEB-SUMMARY: $1 passed, $2 failed"; }
setup_failed() {
  echo "VMWEB-SETUP: FAIL: $*"
  summary 0 1
  exit 1
}

[ -n "$VELQUOR_REPO" ] && [ -n "$VELQUOR_LINUX_BUILD" ] && [ -n "$VELQUOR_PAGE_DIR" ] ||
  setup_failed "the kernel's command line lacks VELQUOR_REPO, VELQUOR_LINUX_BUILD or VELQUOR_PAGE_DIR"
ip link set lo up || setup_failed "no loopback: the page is served on 127.0.0.1"
mkdir -p /host /keep
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=512000,cache=loose hostroot /host ||
  setup_failed "the host's root file system could not be mounted over 9p"
[ -f "/host$VELQUOR_REPO/tests/web/vm/page-webhid.mjs" ] || setup_failed "no checkout at $VELQUOR_REPO on the host"

# A path under the host's /tmp stays visible under the tmpfs that covers it.
kept=0
for path in "$VELQUOR_REPO" "$VELQUOR_LINUX_BUILD" "$VELQUOR_PAGE_DIR"; do
  case "$path" in
    /tmp/*) kept=$((kept + 1)); mkdir -p "/keep/$kept" && mount -o bind "/host$path" "/keep/$kept" ||
              setup_failed "can't keep $path" ;;
  esac
done

mount -o rbind /dev /host/dev && mount -o bind /proc /host/proc && mount -o bind /sys /host/sys &&
  mount -o bind /run /host/run && mount -t tmpfs -o mode=1777 tmpfs /host/tmp ||
  setup_failed "the chroot's /dev, /proc, /sys, /run or /tmp could not be mounted"

kept=0
for path in "$VELQUOR_REPO" "$VELQUOR_LINUX_BUILD" "$VELQUOR_PAGE_DIR"; do
  case "$path" in
    /tmp/*) kept=$((kept + 1)); mkdir -p "/host$path" && mount -o move "/keep/$kept" "/host$path" ||
              setup_failed "can't put $path back" ;;
  esac
done

mkdir -p /host/tmp/out &&
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 velquorout /host/tmp/out ||
  setup_failed "the share for the host's files could not be mounted"

# Chromium's settings: the host's, and the policy; nothing is written to the host.
[ -d /host/etc/chromium ] || setup_failed "the host has no /etc/chromium: is Chromium installed?"
cp /host/etc/chromium/master_preferences /tmp/ 2>/dev/null
mount -t tmpfs -o mode=755 tmpfs /host/etc/chromium || setup_failed "no tmpfs on /etc/chromium"
[ -f /tmp/master_preferences ] && cp /tmp/master_preferences /host/etc/chromium/
mkdir -p /host/etc/chromium/policies/managed
cat > /host/etc/chromium/policies/managed/velquor-webhid.json <<'EOF'
{ "WebHidAllowDevicesForUrls": [ {
    "devices": [ { "vendor_id": 8632, "product_id": 1 }, { "vendor_id": 8632, "product_id": 2 } ],
    "urls": [ "http://127.0.0.1:8000" ] } ] }
EOF
echo "VMWEB-CHROOT-READY uptime=$(cut -d' ' -f1 /proc/uptime)"

# The cases, in the chroot as root, for at most 19 minutes (run-vm.sh gives the machine 21).
chroot /host /usr/bin/env -i HOME=/tmp/home PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 NO_COLOR=1 \
  VELQUOR_LINUX_BUILD="$VELQUOR_LINUX_BUILD" VELQUOR_PAGE_DIR="$VELQUOR_PAGE_DIR" \
  VELQUOR_SCREENSHOT_DIR=/tmp/out/screenshots VELQUOR_RECORD_DIR=/tmp/out/records \
  /bin/sh -c 'mkdir -p "$HOME" && cd "$1" && exec timeout -k 10 "$2" node --test-reporter=tap vm/page-webhid.mjs' \
  cases "$VELQUOR_REPO/tests/web" 1140 > /tmp/report 2>&1 &
cases=$!
# The report as it comes, on the console.
tail -f /tmp/report &
shown=$!
wait "$cases"
status=$?
sleep 1
kill "$shown"

passed=$(sed -n 's/^# pass \([0-9]*\)$/\1/p' /tmp/report | tail -n 1)
failed=$(sed -n 's/^# fail \([0-9]*\)$/\1/p' /tmp/report | tail -n 1)
# A case cancelled (its hook failed: no browser, say) counts as failed.
cancelled=$(sed -n 's/^# cancelled \([0-9]*\)$/\1/p' /tmp/report | tail -n 1)
passed=${passed:-0}
failed=$((${failed:-0} + ${cancelled:-0}))
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
  echo "VMWEB-CASES: the cases ended with status $status without their report"
  failed=1
fi
[ "$passed" -gt 0 ] || { echo "VMWEB-CASES: no case passed"; [ "$failed" -gt 0 ] || failed=1; }
summary "$passed" "$failed"
