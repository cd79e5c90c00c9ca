#!/usr/bin/env bash
# Builds the terminal front end and runs a whole update on the built-in simulated programming
# unit: evaluation, warning, progress, success text. Installs what it needs first (as root).
#   scripts/demo.sh                      the default unit, answers given with --yes
#   scripts/demo.sh --lang de            any further velquor-flash options before the command
set -euo pipefail
cd "$(dirname "$0")/.."

"$(pwd)/scripts/install-deps.sh"
cmake --preset native >/dev/null
cmake --build --preset native --target velquor-flash
exec build/native/cli/velquor-flash --sim "${VELQUOR_SIM:-}" --yes "$@" update
