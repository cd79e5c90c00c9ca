# The end-to-end cases, run by /init inside the test machine: velquor-flash, unchanged, as a
# user runs it, against the virtual unit (velquor-uhid-unit) on the kernel's uhid, hidraw and
# udev. One line per case, "CASE name: PASS" or "CASE name: FAIL: reasons", a few "FIGURE"
# lines, and at the end "VMTEST-SUMMARY: N passed, N failed".
passed=0
failed=0
reasons=""
status=0
dev=""
as_user=""
unit_options=""

fail() { reasons="$reasons; $*"; }

# Uptime in hundredths of a second.
now_cs() {
  read -r up _ < /proc/uptime
  echo "${up%.*}${up#*.}"
}

first_node() { ls /dev/hidraw* 2>/dev/null | head -n 1; }
node_count() { ls /dev/hidraw* 2>/dev/null | wc -l; }

# The node of the first device with vendor 0x21B8 and product 1 or 2, by its HID device's name.
unit_node() {
  for class in /sys/class/hidraw/hidraw*; do
    case "$(readlink "$class/device")" in
      *:21B8:0001.*|*:21B8:0002.*) echo "/dev/${class##*/}"; return ;;
    esac
  done
}

# Plugs in the scenario's devices (the unit and any others; $2 of them, default 1) and waits
# at most 5 s for their nodes. $dev is the unit's node.
start_unit() {
  rm -f /tmp/flash.bin /tmp/unit.log /tmp/unit.err
  velquor-uhid-unit --scenario "$1" --flash /tmp/flash.bin --log /tmp/unit.log $unit_options 2>/tmp/unit.err &
  unit_pid=$!
  i=0
  while [ "$(node_count)" -lt "${2:-1}" ] && [ $i -lt 100 ]; do usleep 50000; i=$((i + 1)); done
  udevadm settle --timeout=5
  dev=$(unit_node)
  [ "$(node_count)" -ge "${2:-1}" ] || fail "the devices' nodes never appeared: $(cat /tmp/unit.err)"
  case "$1" in
    *unit=none*) ;;
    *) [ -n "$dev" ] || fail "no node of a unit among $(ls /dev/hidraw* 2>/dev/null)" ;;
  esac
}

# Pulls the virtual unit out; it leaves its flash in /tmp/flash.bin and counts in /tmp/unit.log.
stop_unit() {
  kill -TERM "$unit_pid" 2>/dev/null
  wait "$unit_pid"
  unit_status=$?
  [ "$unit_status" -eq 0 ] || fail "the virtual unit ended with $unit_status: $(cat /tmp/unit.err)"
  udevadm settle --timeout=5
}

# velquor-flash as root (or as `as_user`), at most 120 s; stdout in /tmp/out, stderr in /tmp/err.
flash() {
  if [ -n "$as_user" ]; then
    timeout 120 su "$as_user" -s /bin/sh -c "velquor-flash $*" </dev/null >/tmp/out 2>/tmp/err
  else
    timeout 120 velquor-flash "$@" </dev/null >/tmp/out 2>/tmp/err
  fi
  status=$?
}

expect_status() { [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"; }
expect_out() { grep -qF -- "$1" /tmp/out || fail "stdout lacks '$1'"; }
expect_err() { grep -qF -- "$1" /tmp/err || fail "stderr lacks '$1'"; }
expect_no_err() { ! grep -qF -- "$1" /tmp/err || fail "stderr has '$1'"; }
expect_unit_log() { grep -qF -- "$1" /tmp/unit.log || fail "unit log '$(cat /tmp/unit.log)' lacks '$1'"; }

run_case() {
  reasons=""
  : >/tmp/out
  : >/tmp/err
  "$2"
  if [ -z "$reasons" ]; then
    passed=$((passed + 1))
    echo "CASE $1: PASS"
  else
    failed=$((failed + 1))
    echo "CASE $1: FAIL:${reasons#;}"
    echo "--- stdout"; tail -n 15 /tmp/out
    echo "--- stderr"; tail -n 15 /tmp/err
  fi
}

# ---- Cases ----------------------------------------------------------------------------------

identify_setbox() {
  start_unit ""
  flash identify
  stop_unit
  expect_status 0
  expect_out "result: 0"
  expect_out "DevicePath: $dev"
  expect_out "OutputReportLength: 0x0000003c"
  expect_out "InputReportLength: 0x0000003c"
  expect_out "UnitVersion: 0x00011900"
  expect_out "ControllerState: 0x0003"
  expect_out "ControllerIdentity: d2a00f1105010000"
  expect_out "ProductId: 0x0002"
  expect_unit_log "requests=3 replies=3 unplugged=0"
}

identify_dialpuck() {
  start_unit "unit=dialpuck,fw=0x0117"
  flash identify
  stop_unit
  expect_status 0
  expect_out "ProductId: 0x0001"
  expect_out "ControllerInfo: c0c1c2c31701"
}

status_ready() {
  start_unit ""
  flash --lang en status
  stop_unit
  expect_status 0
  expect_out "SETBOX: 1.25"
  expect_out "ESC-bootloader: 1.5"
  expect_out "ESC: 1.24"
}

update_realtime() {
  start_unit ""
  start=$(now_cs)
  flash --trace --yes --lang en update
  wall=$(( $(now_cs) - start ))
  stop_unit
  expect_status 0
  expect_out "ESC: 1.25"
  expect_err "100 %  2048/2048 blocks"
  size=$(stat -c %s /images/expected.bin)
  cmp -s -n "$size" /tmp/flash.bin /images/expected.bin || fail "the flash differs from the image"
  rest=$(tail -c +$((size + 1)) /tmp/flash.bin | tr -d '\377' | wc -c)
  [ "$rest" -eq 0 ] || fail "$rest bytes after the image are not erased"
  # The trace's last line carries the milliseconds from the first call to the last reply.
  traced=$(grep -E '^[0-9]+ [<>] ' /tmp/err | tail -n 1 | cut -d' ' -f1)
  echo "FIGURE update on hidraw: ${traced:-?} ms traced (${wall}0 ms wall) against 46040 ms of mandated pauses"
  [ "${traced:-0}" -ge 46040 ] || fail "the update took ${traced:-?} ms, less than its pauses"
  [ "${traced:-0}" -lt 120000 ] || fail "the update took ${traced:-?} ms"
}

refused_block() {
  start_unit "fail=block#5:refuse:7"
  flash --yes --lang en update
  stop_unit
  expect_status 1
  expect_out "[Update failed!]"
  expect_out "The system shows following errorcode: 0x00000007-0x00000000"
}

unit_never_answers() {
  start_unit "fail=status:hang"
  start=$(now_cs)
  flash --trace identify
  took=$(( $(now_cs) - start ))
  stop_unit
  expect_status 1
  expect_out "result: -3"
  expect_err "< failed"
  echo "FIGURE no answer: identify gave up after ${took}0 ms (limit 15000 ms)"
  [ "$took" -ge 1500 ] && [ "$took" -lt 2000 ] || fail "gave up after ${took}0 ms, not 15 s"
}

unplug_mid_transfer() {
  start_unit "unplug=block#100"
  flash --yes --lang en update
  stop_unit
  expect_status 1
  expect_out "[Update failed!]"
  expect_out "The system shows following errorcode: 0xfffffffd-0x00000013"
  # identification (3), lock, protection off, erase, address, blocks 1..100: no reply to the last
  expect_unit_log "requests=107 replies=106 unplugged=1"
  [ -z "$(first_node)" ] || fail "a device node is left after the unplug"
}

permission_refused() {
  start_unit ""
  mode=$(stat -c %a "$dev")
  [ "$mode" = 600 ] || fail "the node has mode $mode, not 600"
  as_user=tester
  flash identify
  expect_status 1
  expect_out "result: -4"
  expect_err "a programming unit is connected at $dev, but permission to open it was refused"
  expect_err "70-velquor.rules"
  expect_err "udevadm control --reload-rules"
  # With access granted the same user is served, and nothing is explained.
  chmod 666 "$dev"
  flash identify
  as_user=""
  stop_unit
  expect_status 0
  expect_out "result: 0"
  expect_no_err "permission"
}

udev_rule_tags_unit() {
  start_unit "unit=dialpuck"
  udevadm info --query=property --name="$dev" >/tmp/out 2>/tmp/err
  stop_unit
  grep -q '^TAGS=.*:uaccess:' /tmp/out || fail "the unit's node carries no uaccess tag"
}

lengths_do_not_fit() {
  start_unit "inlen=40"
  flash identify
  expect_status 1
  expect_out "result: -1"
  flash --lang en status
  stop_unit
  expect_status 4
  expect_out "No programming unit was found"
  expect_unit_log "requests=0 replies=0"
}

# Reports without ids: the kernel leaves the id byte out, the edge puts a 0 in its place, and
# the lengths still count it.
unnumbered_reports() {
  unit_options=--unnumbered
  start_unit ""
  unit_options=""
  flash --lang en status
  stop_unit
  expect_status 0
  expect_out "SETBOX: 1.25"
  expect_out "ESC: 1.24"
  expect_unit_log "requests=3 replies=3"
}

foreign_devices_passed_over() {
  start_unit "others=2,alien=1" 4
  flash identify
  stop_unit
  expect_status 0
  expect_out "result: 0"
  expect_out "DevicePath: $dev"
  expect_out "ProductId: 0x0002"
  expect_unit_log "requests=3 replies=3"
}

only_foreign_devices() {
  start_unit "unit=none,others=2,alien=1" 3
  flash --lang en status
  stop_unit
  expect_status 4
  expect_out "No programming unit was found"
  expect_no_err "permission"
}

hotplug_events() {
  rm -f /tmp/probe
  velquor-hotplug-probe 2 5000 >/tmp/probe 2>&1 &
  probe=$!
  i=0
  while ! grep -q listening /tmp/probe 2>/dev/null && [ $i -lt 100 ]; do usleep 50000; i=$((i + 1)); done
  start_unit ""
  stop_unit
  wait "$probe"
  velquor-hotplug-probe 1 300 >>/tmp/probe 2>&1
  cp /tmp/probe /tmp/out
  expect_out "add $dev"
  expect_out "remove $dev"
  waited=$(sed -n 's/^timeout //p' /tmp/probe)
  [ "${waited:-0}" -ge 300 ] && [ "${waited:-0}" -lt 1000 ] || fail "an empty wait took '${waited}' ms, not 300"
}

list_interfaces() {
  start_unit "others=1,alien=1" 3
  flash --lang en list
  stop_unit
  expect_status 0
  expect_out "$dev"
  expect_out "vendor 0x21b8  product 0x0002  reports in/out 60/60"
  expect_out "taken: the programming unit served"
  expect_out "vendor 0x21b8  product 0x0003"
  [ "$(grep -c 'not taken: not a programming unit' /tmp/out)" -eq 2 ] || fail "the two foreign devices are not both passed over"
  expect_unit_log "requests=0 replies=0"
}

# Waits up to $2 seconds for $1 in watch's output.
wait_out() {
  i=0
  while ! grep -qF -- "$1" /tmp/out && [ $i -lt $(($2 * 10)) ]; do usleep 100000; i=$((i + 1)); done
  grep -qF -- "$1" /tmp/out || fail "watch never showed '$1'"
}

# watch, as a modeller with several controllers uses it: started with nothing plugged in, it
# sees a unit arrive and updates it, sees it leave, sees the next one arrive, and ends on Ctrl-C.
watch_fleet() {
  velquor-flash --yes --lang en watch </dev/null >/tmp/out 2>/tmp/err &
  watch_pid=$!
  wait_out "Waiting for programming units" 10
  start_unit ""
  wait_out "ESC 0x110fa0d2  1.24 -> 1.25  updated" 120
  first=$dev
  stop_unit
  size=$(stat -c %s /images/expected.bin)
  cmp -s -n "$size" /tmp/flash.bin /images/expected.bin || fail "the flash differs from the image"
  wait_out "--- Programming unit removed: $first" 10
  start_unit "state=2"
  wait_out "No updatable ESC connected." 10
  stop_unit
  kill -INT "$watch_pid"
  wait "$watch_pid"
  status=$?
  expect_status 130
  [ "$(grep -c -- '--- Programming unit connected' /tmp/out)" -eq 2 ] || fail "not two arrivals"
  [ "$(grep -c 'updated' /tmp/out)" -eq 1 ] || fail "not one update"
}

run_case identify_setbox identify_setbox
run_case identify_dialpuck identify_dialpuck
run_case status_ready status_ready
run_case update_realtime update_realtime
run_case refused_block refused_block
run_case unit_never_answers unit_never_answers
run_case unplug_mid_transfer unplug_mid_transfer
run_case permission_refused permission_refused
run_case udev_rule_tags_unit udev_rule_tags_unit
run_case lengths_do_not_fit lengths_do_not_fit
run_case unnumbered_reports unnumbered_reports
run_case foreign_devices_passed_over foreign_devices_passed_over
run_case only_foreign_devices only_foreign_devices
run_case hotplug_events hotplug_events
run_case list_interfaces list_interfaces
run_case watch_fleet watch_fleet
echo "VMTEST-SUMMARY: $passed passed, $failed failed"
