# Sourced by the cases inside a test machine (/send-record.sh): hands a record made there to the
# host on the serial console, gzip'd and in base64 between "RECORD-BEGIN NAME [STATUS]" and
# "RECORD-END NAME". STATUS is the exit status the recorded run ended with; without it the host
# reads it off the record's outcome (a page's record has no exit status).
#   send_record NAME FILE [STATUS]
send_record() {
  echo "RECORD-BEGIN $1${3:+ $3}"
  gzip -c "$2" | base64
  echo "RECORD-END $1"
}
