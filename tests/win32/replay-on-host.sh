#!/usr/bin/env bash
# The records made on Wine's HID stack (velquor-flash.exe's and the window's log), replayed on
# Linux with build/native's velquor-flash (configured and built here when it is missing): a
# record made on Windows must replay wherever a maintainer reads it. Part of `scripts/test.sh win64`.
#   tests/win32/replay-on-host.sh [RECORDS_DIR]      (default build/win64/win32-records)
set -euo pipefail
cd "$(dirname "$0")/../.."
records=${1:-build/win64/win32-records}
if [ ! -f build/native/CMakeCache.txt ]; then cmake --preset native >/dev/null; fi
cmake --build build/native --target velquor-flash >/dev/null
exec tests/win32/replay-records.sh "$records" build/native/cli/velquor-flash
