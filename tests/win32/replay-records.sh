#!/usr/bin/env bash
# Replays every record made on Wine's HID stack (velquor-flash.exe's, tests/win32/flash_exe_tests.cpp,
# and the window's saved log, tests/win32/virtual_unit_tests.cpp, leave them in
# <build>/win32-records) with a velquor-flash: under Wine when it is a .exe (the
# CTest test velquor_win32_records_replay), on this machine otherwise (replay-on-host.sh). Each
# must end with the status it was made with and without a difference (tests/linux/vm/records.sh).
#   tests/win32/replay-records.sh RECORDS_DIR VELQUOR_FLASH
# Fails when a record the tests make is missing: a replay of nothing is no pass.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
records=${1:?usage: replay-records.sh RECORDS_DIR VELQUOR_FLASH}
program=${2:?usage: replay-records.sh RECORDS_DIR VELQUOR_FLASH}

for name in win32-flash-update win32-flash-refused-block win32-window-update; do
  if [ ! -f "$records/$name.rec" ]; then
    echo "replay-records: $records/$name.rec is missing: the test that makes it did not run" >&2
    exit 1
  fi
done

# velquor-flash.exe under Wine, a record's path given as Wine's drive Z:.
wine_flash() {
  local argument arguments=()
  for argument in "$@"; do
    case $argument in /*) arguments+=("Z:$argument") ;; *) arguments+=("$argument") ;; esac
  done
  sh "$repo/cmake/wine-run.sh" "$program" "${arguments[@]}"
}

# shellcheck source=../linux/vm/records.sh
. "$repo/tests/linux/vm/records.sh"
case $program in
  *.exe) replay_records "$records" wine_flash ;;
  *) replay_records "$records" "$program" ;;
esac
# A status alone does not tell a replay from a program that did not start: each replay (of an
# update, on the SETBOX) shows the unit's panel.
for record in "$records"/*.rec; do
  name=$(basename "$record" .rec)
  if ! grep -q '^SETBOX: ' "$records/$name.out"; then
    echo "replay-records: the replay of $name shows no unit:" >&2
    head -n 5 "$records/$name.out" "$records/$name.err" >&2
    exit 1
  fi
done
