#!/usr/bin/env bash
# The page in a real browser: builds it (the `web` preset), installs the tests' driver
# (playwright-core, pinned in tests/web/package-lock.json), runs the tests in the system's
# Chromium on the simulated unit, then the benchmark of a real-time update with the tab in front
# and hidden (about 2 minutes; it prints FIGURE lines). Installs what it needs first
# (scripts/install-deps.sh, as root).
#   scripts/web-test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
"$(pwd)/scripts/install-deps.sh" web
cmake --preset web >/dev/null
cmake --build --preset web
(cd tests/web && npm ci --no-audit --no-fund --loglevel=error)
cd tests/web
node --test --test-reporter=spec
node bench.mjs
