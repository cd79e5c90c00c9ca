# Sourced on the host by the runners of the test machines (tests/linux/vm/run-vm-test.sh, and the
# page's tests/web/vm/run-vm.sh can do the same): takes the records the machine handed out on its
# console (send-record.sh), keeps them with the line CTest's corpus test reads, and replays each
# on the host with velquor-flash --replay.
#   take_records CONSOLE_LOG RECORDS_DIR VELQUOR_FLASH
# Prints one line per record; returns 1 when one can't be taken or does not replay to the exit
# status it was made with (without a difference). $records_taken holds the count.
take_records() {
  local log=$1 dir=$2 flash=$3 name status replayed args outcome
  records_taken=0
  mkdir -p "$dir"
  for name in $(sed -n 's/^RECORD-BEGIN \([a-z0-9-]*\)\( [0-9]*\)\{0,1\}$/\1/p' "$log"); do
    status=$(sed -n "s/^RECORD-BEGIN $name \\([0-9]*\\)\$/\\1/p" "$log")
    sed -n "/^RECORD-BEGIN $name\\( [0-9]*\\)\\{0,1\\}\$/,/^RECORD-END $name\$/p" "$log" | sed '1d;$d' |
      base64 -d | gunzip >"$dir/$name.rec" || { echo "records: $name could not be taken from the console" >&2; return 1; }
    # A page's record: the command is the update, the status is its outcome's.
    args="--lang en --yes update"
    if [ -z "$status" ]; then
      outcome=$(sed -n 's/^[0-9]* outcome \([a-z]*\).*/\1/p' "$dir/$name.rec" | tail -n 1)
      case "$outcome" in success) status=0 ;; failure) status=1 ;; declined) status=3 ;; *) status=4 ;; esac
    fi
    echo "# replay $args status $status" >>"$dir/$name.rec"
    set +e
    # shellcheck disable=SC2086 # the arguments are words
    "$flash" --replay "$dir/$name.rec" $args </dev/null >"$dir/$name.out" 2>"$dir/$name.err"
    replayed=$?
    set -e
    if [ "$replayed" -ne "$status" ] || grep -q "replay stopped" "$dir/$name.err"; then
      echo "records: $name replays on the host with status $replayed, not $status:" >&2
      tail -n 3 "$dir/$name.err" >&2
      return 1
    fi
    echo "record $name ($(wc -l <"$dir/$name.rec") lines, $(wc -c <"$dir/$name.rec") bytes) replays on the host: exit status $replayed, as when it was made"
    records_taken=$((records_taken + 1))
  done
}
