#!/usr/bin/env bash
# Builds and runs every test: the native suite (warnings are errors), the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows build under Wine.
# Installs what it needs first (scripts/install-deps.sh, as root).
#   scripts/test.sh            all three
#   scripts/test.sh native     only one of: native, asan, win64
set -euo pipefail
cd "$(dirname "$0")/.."

"$(pwd)/scripts/install-deps.sh" --win

presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(native asan win64)

for preset in "${presets[@]}"; do
  echo "=== $preset: configure, build, test"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
echo "=== all test runs passed: ${presets[*]}"
