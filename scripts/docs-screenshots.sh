#!/bin/sh
# Copies the screenshots that README.md shows from the tests' screenshot folders into docs/:
#   docs/window-en.png  the window in English at 100 %, ready to update (the scaling tests'
#                       en-96dpi-ready.png in <win64 build>/screenshots)
#   docs/page-en.png    the page on the simulated SETBOX (the page tests' start-setbox.png in
#                       build/web-test/screenshots)
# Make them first: `ctest --preset win64 -R velquor_scaling_tests` (or the whole win64 run) and
# `scripts/web-test.sh` (or `scripts/test.sh web`). A picture that is missing fails the copy and
# leaves docs/ as it was; review the result with `git diff --stat docs` before committing.
#   scripts/docs-screenshots.sh [<win64 build folder> [<page screenshot folder>]]
set -eu
cd "$(dirname "$0")/.."
win64=${1:-build/win64}
page=${2:-build/web-test/screenshots}

need() {
    if [ ! -s "$1" ]; then
        echo "docs-screenshots: $1 is missing; run the tests that make it first" >&2
        exit 1
    fi
}
need "$win64/screenshots/en-96dpi-ready.png"
need "$page/start-setbox.png"
mkdir -p docs
cp "$win64/screenshots/en-96dpi-ready.png" docs/window-en.png
cp "$page/start-setbox.png" docs/page-en.png
echo "docs-screenshots: docs/window-en.png docs/page-en.png"
