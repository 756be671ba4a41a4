#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds and starts Tarvik Connect.
#   bash scripts/run.sh                      the program, for a real K931
#   bash scripts/run.sh --simulated-device   against a simulated K931, with a
#                                            newer firmware on a local server
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh "scripts/run.sh $*"
# Only what is started: the tests and benchmarks are the test command's.
if [ "${1:-}" = "--simulated-device" ]; then
  shift
  BUILD_TARGETS="tarvik-connect tarvik-k931-sim" bash scripts/build.sh
  exec ./build/tools/k931-simulator/tarvik-k931-sim --serve-firmware ./build/src/tarvik-connect "$@"
fi
BUILD_TARGETS=tarvik-connect bash scripts/build.sh
exec ./build/src/tarvik-connect "$@"
