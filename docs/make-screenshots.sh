#!/usr/bin/env bash
# Renders the windows shown in the README into docs/*.png (offscreen, no
# display needed). Builds first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
QT_QPA_PLATFORM=offscreen ./build/tools/screenshots/tarvik-screenshots docs
