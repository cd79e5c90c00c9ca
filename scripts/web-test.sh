#!/usr/bin/env bash
# The page in a real browser: builds it (the `web-test` preset), installs the tests' driver
# (playwright-core, pinned in tests/web/package-lock.json), runs the tests in the system's
# Chromium on the simulated unit, then the benchmark of a real-time update with the tab in front
# and hidden (about 2 minutes; it prints FIGURE lines), then the page on a real WebHID stack:
# Chromium in a VM with the virtual unit on uhid (tests/web/vm/run-vm.sh, about 5 minutes; the
# kernel is cached in build/vm-web/kernel, the console of the last run is
# build/vm-web/console.log). Installs what it needs first (scripts/install-deps.sh, as root).
#   scripts/web-test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
"$(pwd)/scripts/install-deps.sh" web
# The virtual unit in the VM stands for a real one: the tests' page (build/web-test, never the
# page of build/web that users serve) may write the generated test images to it; the simulated
# unit takes them either way.
cmake --preset web-test >/dev/null
cmake --build --preset web-test
export VELQUOR_PAGE_DIR="$(pwd)/build/web-test/page" VELQUOR_SCREENSHOT_DIR="$(pwd)/build/web-test/screenshots"
(cd tests/web && npm ci --no-audit --no-fund --loglevel=error)
(cd tests/web && node --test --test-reporter=tap && node bench.mjs)

# The virtual unit, from the Linux build that scripts/vm-test.sh uses, configured as it does.
linux=build/linux
if [ ! -f "$linux/CMakeCache.txt" ]; then
  cmake -S . -B "$linux" -G Ninja -DVELQUOR_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake -S . -B "$linux" -DVELQUOR_ALLOW_TEST_IMAGES=ON >/dev/null
cmake --build "$linux" -j2 --target velquor_vm_equipment
tests/web/vm/run-vm.sh "$linux" build/web-test/page build/vm-web
