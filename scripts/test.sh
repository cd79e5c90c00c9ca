#!/usr/bin/env bash
# Builds and runs every test: the native suite (warnings are errors), the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the Windows build under Wine, velquor-flash
# end to end on a real Linux kernel in a VM, the page in a real browser, a test release checked
# as a modeller and Debian take it, and a short pass of the fuzz targets. Installs what it needs
# first (scripts/install-deps.sh, as root).
#   scripts/test.sh            all seven
#   scripts/test.sh native     only one of: native, asan, win64, vm, web, release, fuzz
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(native asan win64 vm web release fuzz)

# Only the packages the chosen runs need.
groups=()
for preset in "${presets[@]}"; do
  case "$preset" in
    native|asan) groups+=(native) ;;
    win64) groups+=(win) ;;
    vm|fuzz|web|release) groups+=("$preset") ;;
    *) echo "test.sh: unknown run '$preset' (native, asan, win64, vm, web, release, fuzz)" >&2; exit 2 ;;
  esac
done
"$(pwd)/scripts/install-deps.sh" "${groups[@]}"

for preset in "${presets[@]}"; do
  case "$preset" in
    vm) echo "=== vm: velquor-flash end to end on a real kernel"; scripts/vm-test.sh; continue ;;
    fuzz) echo "=== fuzz: a short pass of every fuzz target"; scripts/fuzz.sh 5; continue ;;
    web) echo "=== web: the page in the system's Chromium"; scripts/web-test.sh; continue ;;
    release) echo "=== release: a test release, twice, checked"; tests/release/release-test.sh; continue ;;
  esac
  echo "=== $preset: configure, build, test"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
  if [ "$preset" = win64 ]; then
    echo "=== win64: the records made on Wine's HID stack (velquor-flash.exe's, the window's log), replayed on Linux"
    tests/win32/replay-on-host.sh build/win64/win32-records
  fi
done
echo "=== all test runs passed: ${presets[*]}"
