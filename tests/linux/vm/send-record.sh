# Sourced by the cases inside a test machine (/send-record.sh): hands a record made there to the
# host on the serial console, gzip'd and in base64 between "RECORD-BEGIN NAME [STATUS [ARGS]]"
# and "RECORD-END NAME". STATUS is the exit status the replay is to end with (that of the
# recorded run, but for a watch that Ctrl-C ended: its replay ends with the record), ARGS the
# replay's arguments (default: --lang en --yes update); without STATUS the host reads it off the
# record's outcome (a page's record has no exit status).
#   send_record NAME FILE [STATUS [ARGS]]
send_record() {
  echo "RECORD-BEGIN $1${3:+ $3}${4:+ $4}"
  gzip -c "$2" | base64
  echo "RECORD-END $1"
}
