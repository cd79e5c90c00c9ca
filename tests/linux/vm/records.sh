# Sourced on the host by the runners of the test machines: takes the records a machine made and
# replays each on the host with velquor-flash --replay.
#
#   take_records CONSOLE_LOG RECORDS_DIR VELQUOR_FLASH
#       the records handed out on the console (send-record.sh) into RECORDS_DIR, then
#       replay_records on them (tests/linux/vm/run-vm-test.sh)
#   replay_records RECORDS_DIR VELQUOR_FLASH
#       every RECORDS_DIR/*.rec, e.g. the page's "Save log" downloads that the page's machine
#       (tests/web/vm/) saves into its shared out/ folder: a record without the line CTest's
#       corpus test reads ("# replay ARGS status N") gets it, for an update (a page's record
#       replays with any command) with the exit status its last outcome stands for
#
# Each prints one line per record and returns 1 when a record can't be taken or does not replay
# to the exit status it was made with, without a difference.
replay_records() {
  local dir=$1 flash=$2 record name status replayed args outcome
  for record in "$dir"/*.rec; do
    [ -f "$record" ] || continue
    name=$(basename "$record" .rec)
    if ! grep -q '^# replay .* status [0-9]*$' "$record"; then
      outcome=$(sed -n 's/^[0-9]* outcome \([a-z]*\).*/\1/p' "$record" | tail -n 1)
      case "$outcome" in success) status=0 ;; failure) status=1 ;; declined) status=3 ;; *) status=4 ;; esac
      echo "# replay --lang en --yes update status $status" >>"$record"
    fi
    args=$(sed -n 's/^# replay \(.*\) status [0-9]*$/\1/p' "$record" | tail -n 1)
    status=$(sed -n 's/^# replay .* status \([0-9]*\)$/\1/p' "$record" | tail -n 1)
    set +e
    # shellcheck disable=SC2086 # the arguments are words
    "$flash" --replay "$record" $args </dev/null >"$dir/$name.out" 2>"$dir/$name.err"
    replayed=$?
    set -e
    if [ "$replayed" -ne "$status" ] || grep -q "replay stopped" "$dir/$name.err"; then
      echo "records: $name replays on the host with status $replayed, not $status:" >&2
      tail -n 3 "$dir/$name.err" >&2
      return 1
    fi
    echo "record $name ($(wc -l <"$record") lines, $(wc -c <"$record") bytes) replays on the host: exit status $replayed, as when it was made"
  done
}

take_records() {
  local log=$1 dir=$2 flash=$3 name status args
  mkdir -p "$dir"
  for name in $(sed -n 's/^RECORD-BEGIN \([a-z0-9-]*\).*$/\1/p' "$log"); do
    # "RECORD-BEGIN NAME [STATUS [ARGS]]"
    set -- $(grep -m 1 "^RECORD-BEGIN $name\( \|\$\)" "$log")
    status=${3:-}
    shift $(($# < 3 ? $# : 3))
    args=${*:---lang en --yes update}
    sed -n "/^RECORD-BEGIN $name\( .*\)\{0,1\}\$/,/^RECORD-END $name\$/p" "$log" | sed '1d;$d' |
      base64 -d | gunzip >"$dir/$name.rec" || { echo "records: $name could not be taken from the console" >&2; return 1; }
    [ -z "$status" ] || echo "# replay $args status $status" >>"$dir/$name.rec"
  done
  replay_records "$dir" "$flash"
}
