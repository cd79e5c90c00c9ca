#!/usr/bin/env bash
# Builds the page (the `web` preset) when it is not built yet and serves it on this computer:
#   scripts/serve-web.sh [PORT]        then open http://127.0.0.1:PORT/ (default 8000)
# The demo on the simulated unit: http://127.0.0.1:PORT/?sim= (any scenario of velquor-flash's
# --sim, e.g. ?sim=fail=block%235:refuse:7), in real time with &realtime=1.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f build/web/page/velquor.wasm ]; then
  "$(pwd)/scripts/install-deps.sh" web
  cmake --preset web >/dev/null
  cmake --build --preset web
fi
# The page of the `web` preset never writes test images to a real unit (the tests build theirs
# in build/web-test).
exec node scripts/serve-web.mjs build/web/page "${1:-8000}"
