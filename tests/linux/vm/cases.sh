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

# "equal" when the unit's flash holds the controller's image and is erased after it, else "differs".
flash_state() {
  size=$(stat -c %s /images/expected.bin)
  rest=$(tail -c +$((size + 1)) /tmp/flash.bin | tr -d '\377' | wc -c)
  if cmp -s -n "$size" /tmp/flash.bin /images/expected.bin && [ "$rest" -eq 0 ]; then echo equal; else echo differs; fi
}
expect_flash_image() { [ "$(flash_state)" = equal ] || fail "the flash differs from the image"; }

# velquor-flash as root in the background, at most 120 s (busybox's timeout keeps the program's
# own process, so that $flash_pid takes signals directly); stdout in /tmp/out, stderr in /tmp/err.
flash_bg() {
  timeout 120 velquor-flash "$@" </dev/null >/tmp/out 2>/tmp/err &
  flash_pid=$!
}
wait_flash_bg() {
  wait "$flash_pid"
  status=$?
}

# Sleeps until $1 hundredths of a second after $start.
sleep_until() {
  left=$(( $1 - ($(now_cs) - start) ))
  [ "$left" -le 0 ] || usleep $((left * 10000))
}

# Waits up to $4 seconds until file $1 holds $3 lines with $2.
wait_lines() {
  i=0
  while [ "$(grep -cF -- "$2" "$1")" -lt "$3" ] && [ $i -lt $(($4 * 10)) ]; do usleep 100000; i=$((i + 1)); done
  [ "$(grep -cF -- "$2" "$1")" -ge "$3" ] || fail "$1 never held $3 lines with '$2'"
}

# Lines of the trace on stderr with a report of the unit's own (id 3) read.
own_reports_read() { grep -cE '^[0-9]+ < 03 ' /tmp/err; }

# The requests of a whole update, in order.
whole_update="order=status,info,identity,lock,protect-off,erase,address,block*2048,protect-on,unlock"

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

# The whole update in real time, traced. A SIGTERM 12 s in (among the data blocks) is held
# until the flash commands have ended; then the program ends with 128 + 15.
update_realtime() {
  start_unit ""
  start=$(now_cs)
  flash_bg --trace --yes --lang en update
  sleep_until 1200
  kill -TERM "$flash_pid"
  wait_flash_bg
  wall=$(( $(now_cs) - start ))
  stop_unit
  expect_status 143
  expect_out "ESC: 1.25"
  expect_err "SIGTERM received while the ESC is being written"
  expect_err "100 %  2048/2048 blocks"
  expect_flash_image
  expect_unit_log "requests=2057 replies=2057 unplugged=0"
  expect_unit_log "$whole_update"
  echo "FIGURE SIGTERM 12 s into an update: exit $status, flash $(flash_state) to the image"
  # The trace's last line carries the milliseconds from the first call to the last reply.
  traced=$(grep -E '^[0-9]+ [<>] ' /tmp/err | tail -n 1 | cut -d' ' -f1)
  echo "FIGURE update on hidraw: ${traced:-?} ms traced (${wall}0 ms wall) against 46040 ms of mandated pauses"
  [ "${traced:-0}" -ge 46040 ] || fail "the update took ${traced:-?} ms, less than its pauses"
  [ "${traced:-0}" -lt 120000 ] || fail "the update took ${traced:-?} ms"
}

# Two programs, one unit: 4 s into an update a second velquor-flash (status, then identify)
# finds the unit claimed, says so, sends nothing and ends with 5, and the update goes on. A
# SIGHUP 12 s in is held like the SIGTERM above. The unit also sends a report of its own (id 3)
# before block 5's reply, which the update reads and passes over.
second_program_and_sighup() {
  start_unit "extra=block#5"
  start=$(now_cs)
  flash_bg --trace --yes --lang en update
  sleep_until 400
  timeout 30 velquor-flash --lang en status </dev/null >/tmp/second.out 2>/tmp/second.err
  second=$?
  timeout 30 velquor-flash identify </dev/null >>/tmp/second.out 2>>/tmp/second.err
  second="$second and $?"
  sleep_until 1200
  kill -HUP "$flash_pid"
  wait_flash_bg
  stop_unit
  [ "$second" = "5 and 5" ] || fail "the second program's status and identify ended with $second, not 5 and 5"
  told=$(grep -c "^velquor-flash: $dev: in use by another program; nothing was sent to it" /tmp/second.err)
  [ "$told" -eq 2 ] || fail "the second program named the unit in use $told times, not twice: $(cat /tmp/second.err)"
  expect_status 129
  expect_err "SIGHUP received while the ESC is being written"
  expect_out "ESC: 1.25"
  expect_flash_image
  [ "$(own_reports_read)" -eq 1 ] || fail "the unit's own report was read $(own_reports_read) times, not once"
  expect_unit_log "requests=2057 replies=2058 unplugged=0"
  expect_unit_log "$whole_update"
  echo "FIGURE second program during an update: status and identify ended with $second; stderr: $(head -n 1 /tmp/second.err)"
  echo "FIGURE SIGHUP 12 s into an update: exit $status, flash $(flash_state) to the image"
}

# The output closes after three lines (| head -n 3): the update runs to its end all the same and
# ends with 0. The unit sends block 5's reply twice; the late copy is no reply to block 6.
update_into_closed_pipe() {
  start_unit "extra=block#5:after"
  { timeout 120 velquor-flash --yes --lang en update </dev/null 2>/tmp/err; echo $? >/tmp/status; } | head -n 3 >/tmp/out
  status=$(cat /tmp/status)
  stop_unit
  expect_status 0
  [ "$(wc -l </tmp/out)" -eq 3 ] || fail "head showed $(wc -l </tmp/out) lines"
  expect_err "100 %  2048/2048 blocks"
  expect_flash_image
  expect_unit_log "requests=2057 replies=2058 unplugged=0"
  expect_unit_log "$whole_update"
  echo "FIGURE update | head -n 3: exit $status, flash $(flash_state) to the image"
}

# The unit's own report comes before the refusal of the last block: the refusal is the reply
# all the same, and the update fails with its code.
own_report_before_refused_last_block() {
  start_unit "extra=block#2048,fail=block#2048:refuse:7"
  flash --trace --yes --lang en update
  stop_unit
  expect_status 1
  expect_out "[Update failed!]"
  expect_out "The system shows following errorcode: 0x00000007-0x00000000"
  ! grep -qF "successful" /tmp/out || fail "success was told"
  [ "$(own_reports_read)" -eq 1 ] || fail "the unit's own report was read $(own_reports_read) times, not once"
  expect_unit_log "requests=2055 replies=2056 unplugged=0"
  echo "FIGURE own report before the refused last block: exit $status, $(grep -o 'errorcode: [0-9a-fx-]*' /tmp/out)"
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
  # As root the monitor's 4 MiB receive buffer is granted past rmem_max (the kernel shows twice it).
  buffer=$(sed -n 's/^listening buffer=//p' /tmp/probe | head -n 1)
  echo "FIGURE udev monitor receive buffer as root: ${buffer:-?} bytes (rmem_max $(cat /proc/sys/net/core/rmem_max))"
  [ "${buffer:-0}" -ge 8388608 ] || fail "the monitor's buffer is ${buffer:-?} bytes"
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
  expect_flash_image
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

# watch as a user who may not open the unit's node (root's, mode 600): each arrival names the
# node once, and nothing else does.
watch_permission_refused() {
  su tester -s /bin/sh -c "exec velquor-flash --lang en watch" </dev/null >/tmp/out 2>/tmp/err &
  watch_pid=$!
  wait_out "Waiting for programming units" 10
  for arrival in 1 2; do
    start_unit ""
    wait_lines /tmp/err "a programming unit is connected at $dev, but permission to open it was refused" $arrival 10
    stop_unit
  done
  sleep 1
  kill -INT "$watch_pid"
  wait "$watch_pid"
  status=$?
  expect_status 130
  notes=$(grep -c "permission to open it was refused" /tmp/err)
  [ "$notes" -eq 2 ] || fail "$notes permission notes for two arrivals"
}

# Events lost on a real netlink socket: an unprivileged watch gets no more receive buffer than
# net.core.rmem_max, set tiny here; while it is stopped a foreign device's change events fill
# the buffer, and the unit's removal (then a new unit's arrival) after them is dropped. Once
# it runs again, watch learns of the loss and tells the removal (the arrival) from what it
# finds. The hot-plug probe, stopped alongside, shows the loss itself.
watch_events_lost() {
  rmem_max=$(cat /proc/sys/net/core/rmem_max)
  echo 4096 >/proc/sys/net/core/rmem_max
  velquor-uhid-unit --scenario "unit=none,others=1" 2>/tmp/foreign.err &
  foreign_pid=$!
  i=0
  while [ "$(node_count)" -lt 1 ] && [ $i -lt 100 ]; do usleep 50000; i=$((i + 1)); done
  foreign=$(first_node)
  start_unit "" 2
  first=$dev
  chmod 666 "$dev"
  su tester -s /bin/sh -c "exec velquor-flash --lang en watch" </dev/null >/tmp/out 2>/tmp/err &
  watch_pid=$!
  su tester -s /bin/sh -c "exec velquor-hotplug-probe 1 20000" </dev/null >/tmp/probe 2>&1 &
  probe_pid=$!
  wait_out "--- Programming unit connected: $first" 10
  wait_lines /tmp/probe listening 1 10
  flood() {
    kill -STOP "$watch_pid"
    kill -STOP "$probe_pid" 2>/dev/null
    for i in $(seq 40); do echo change >"/sys/class/hidraw/${foreign##*/}/uevent"; done
    udevadm settle --timeout=10
  }
  flood
  stop_unit
  kill -CONT "$watch_pid" "$probe_pid"
  wait_out "--- Programming unit removed: $first" 10
  wait "$probe_pid"
  flood
  start_unit "" 2
  chmod 666 "$dev"
  kill -CONT "$watch_pid"
  wait_lines /tmp/out "--- Programming unit connected: $dev" $([ "$dev" = "$first" ] && echo 2 || echo 1) 10
  kill -INT "$watch_pid"
  wait "$watch_pid"
  status=$?
  stop_unit
  kill -TERM "$foreign_pid"
  wait "$foreign_pid"
  echo "$rmem_max" >/proc/sys/net/core/rmem_max
  expect_status 130
  grep -qx lost /tmp/probe || fail "the probe saw no loss: $(cat /tmp/probe)"
  ! grep -q '^remove' /tmp/probe || fail "the removal was not lost: $(cat /tmp/probe)"
  echo "FIGURE udev monitor receive buffer as a user with rmem_max 4096: $(sed -n 's/^listening buffer=//p' /tmp/probe) bytes"
}

# Records made on hidraw, as a modeller makes them (--record FILE), checked here and handed to the
# host on the console (send-record.sh), where run-vm-test.sh replays them.
. /send-record.sh

check_hidraw_record() {
  [ -s "/tmp/$1.rec" ] || { fail "no record was written"; return; }
  grep -qx "edge hidraw" "/tmp/$1.rec" || fail "the record names no hidraw edge"
  grep -qx "unit 21b8:0002 input 60 output 60" "/tmp/$1.rec" || fail "the record names no unit: $(sed -n 8p "/tmp/$1.rec")"
  grep -q "^descriptor 06 " "/tmp/$1.rec" || fail "the record holds no report descriptor"
  grep -qF "$2" "/tmp/$1.rec" || fail "the record lacks '$2'"
  ! grep -qE "/dev/|/home|/tmp|tester|root" "/tmp/$1.rec" || fail "the record names the person or the computer"
  echo "FIGURE record $1: $(wc -l < "/tmp/$1.rec") lines, $(wc -c < "/tmp/$1.rec") bytes, $(grep -c ' > ' "/tmp/$1.rec") requests"
  send_record "$1" "/tmp/$1.rec" "$status"
}

record_update_on_hidraw() {
  start_unit ""
  flash --record /tmp/hidraw-update.rec --yes --lang en update
  stop_unit
  expect_status 0
  expect_flash_image
  check_hidraw_record hidraw-update "outcome success firmware 1.25"
}

record_refused_block_on_hidraw() {
  start_unit "fail=block#5:refuse:7"
  flash --record /tmp/hidraw-refused-block.rec --yes --lang en update
  stop_unit
  expect_status 1
  check_hidraw_record hidraw-refused-block "outcome failure block 0x00000007-0x00000000 firmware none"
}

# watch --record as a modeller leaves it running: a unit plugged in and pulled out, then Ctrl-C,
# which under --record lets the program write the record before it ends with 130. The record
# replays on the host until its events end (status 0).
record_watch_ended_by_ctrl_c() {
  rm -f /tmp/hidraw-watch.rec
  velquor-flash --record /tmp/hidraw-watch.rec --lang en watch </dev/null >/tmp/out 2>/tmp/err &
  watch_pid=$!
  wait_out "Waiting for programming units" 10
  start_unit ""
  wait_out "--- Programming unit connected: $dev" 10
  stop_unit
  wait_out "--- Programming unit removed: $dev" 10
  kill -INT "$watch_pid"
  wait "$watch_pid"
  status=$?
  expect_status 130
  [ -s /tmp/hidraw-watch.rec ] || { fail "no record was written on Ctrl-C"; return; }
  grep -qx "command watch" /tmp/hidraw-watch.rec || fail "the record is not of watch"
  grep -q "^descriptor 06 " /tmp/hidraw-watch.rec || fail "the record holds no report descriptor"
  grep -q "^[0-9]* arrival$" /tmp/hidraw-watch.rec || fail "the record holds no arrival"
  grep -q "^[0-9]* removal$" /tmp/hidraw-watch.rec || fail "the record holds no removal"
  echo "FIGURE watch --record ended by Ctrl-C: exit $status, $(wc -l < /tmp/hidraw-watch.rec) lines, $(grep -c ' > ' /tmp/hidraw-watch.rec) requests, $(grep -cE ' (arrival|removal)$' /tmp/hidraw-watch.rec) arrivals and removals"
  send_record hidraw-watch /tmp/hidraw-watch.rec 0 "--lang en watch"
}

run_case identify_setbox identify_setbox
run_case identify_dialpuck identify_dialpuck
run_case status_ready status_ready
run_case update_realtime update_realtime
run_case second_program_and_sighup second_program_and_sighup
run_case update_into_closed_pipe update_into_closed_pipe
run_case own_report_before_refused_last_block own_report_before_refused_last_block
run_case refused_block refused_block
run_case record_update_on_hidraw record_update_on_hidraw
run_case record_refused_block_on_hidraw record_refused_block_on_hidraw
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
run_case record_watch_ended_by_ctrl_c record_watch_ended_by_ctrl_c
run_case watch_permission_refused watch_permission_refused
run_case watch_events_lost watch_events_lost
echo "VMTEST-SUMMARY: $passed passed, $failed failed"
