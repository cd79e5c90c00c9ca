#!/usr/bin/env bash
# velquor-flash end to end on a real kernel: builds the product and the test equipment for
# Linux, then boots Debian's kernel under QEMU (software emulation) with the virtual unit on
# uhid and runs the cases of tests/linux/vm/cases.sh. Installs what it needs first
# (scripts/install-deps.sh, as root). About seven minutes, most of them in the six whole updates
# that run in real time.
#   scripts/vm-test.sh                 builds in build/linux
#   scripts/vm-test.sh BUILD_DIR       uses (and configures when needed) that build folder
# The kernel is cached in build/vm/kernel; the console of the last run is build/vm/console.log.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}

"$(pwd)/scripts/install-deps.sh" vm
# The virtual unit stands for a real one: this build may write the generated test images to it.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DVELQUOR_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake -S . -B "$build" -DVELQUOR_ALLOW_TEST_IMAGES=ON >/dev/null
cmake --build "$build" -j2 --target velquor_vm_equipment
exec tests/linux/vm/run-vm-test.sh "$build" build/vm
