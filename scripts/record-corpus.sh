#!/usr/bin/env bash
# Renews the corpus of records in tests/records/ after a change that alters the requests on
# purpose: records each case of the simulated unit afresh with velquor-flash --record, and with
# --vm also runs the VM's end-to-end test (scripts/vm-test.sh) and takes the records it made on
# hidraw. Each record ends with a maintainer's line "# replay ARGS status N": how CTest replays it
# (velquor-flash --replay FILE ARGS) and the exit status the recorded run ended with.
#   scripts/record-corpus.sh              the simulated unit's records (builds build/native)
#   scripts/record-corpus.sh --vm         those and the VM's (about 7 minutes)
#   scripts/record-corpus.sh --web        those and the page's "Save log" through WebHID in the web
#                                         run's VM (scripts/web-test.sh, about 15 minutes)
#   scripts/record-corpus.sh --win        those and the Windows programs' records on Wine's HID
#                                         stack (the win64 tests that make them, replayed under
#                                         Wine and on Linux; about 8 minutes)
# Look at `git diff --stat tests/records` and at the first differing lines before committing.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/native
vm=false
web=false
win=false
for option in "$@"; do
  case "$option" in
    --vm) vm=true ;;
    --web) web=true ;;
    --win) win=true ;;
    *) echo "record-corpus: unknown option '$option' (--vm, --web, --win)" >&2; exit 2 ;;
  esac
done

if [ ! -f "$build/CMakeCache.txt" ]; then cmake --preset native >/dev/null; fi
cmake --build "$build" -j2 --target velquor-flash
flash=$build/cli/velquor-flash

# name | scenario | arguments after the record
cases=(
  "sim-identify||identify"
  "sim-update||--yes update"
  "sim-refused-block|fail=block#5:refuse:7|--yes update"
  "sim-silent-unit|fail=status:hang|identify"
  "sim-unplug|unplug=block#100|--yes update"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r name scenario arguments <<<"$entry"
  record=tests/records/$name.rec
  set +e
  # shellcheck disable=SC2086 # the arguments are words
  "$flash" --sim "$scenario" --lang en --record "$record" $arguments </dev/null >/dev/null 2>&1
  status=$?
  set -e
  echo "# replay --lang en $arguments status $status" >>"$record"
  echo "record-corpus: $record: $(wc -l <"$record") lines, exit status $status"
done

if $vm; then
  scripts/vm-test.sh
  for record in build/vm/records/*.rec; do
    cp "$record" tests/records/
    echo "record-corpus: tests/records/$(basename "$record") from the VM: $(wc -l <"$record") lines"
  done
fi

if $web; then
  scripts/web-test.sh
  for name in page-webhid-update page-webhid-refused-block; do
    cp "build/vm-web/out/records/$name.rec" tests/records/
    echo "record-corpus: tests/records/$name.rec from the page in the VM: $(wc -l <"tests/records/$name.rec") lines"
  done
fi

if $win; then
  # The replay under Wine needs every record of build/win64/win32-records: CTest runs the tests
  # that make them first (the fixture win32_records), each from a fresh start.
  rm -rf build/win64/win32-records
  cmake --preset win64 >/dev/null
  cmake --build --preset win64
  ctest --preset win64 -R '^velquor_win32_records_replay$'
  tests/win32/replay-on-host.sh build/win64/win32-records
  for record in build/win64/win32-records/*.rec; do
    cp "$record" tests/records/
    echo "record-corpus: tests/records/$(basename "$record") from Wine's HID stack: $(wc -l <"$record") lines"
  done
fi
