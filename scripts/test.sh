#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh scripts/test.sh
bash scripts/build.sh
cd "${BUILD_DIR:-build}"
# The tests that open the same serial ports share their lock files and take
# turns (RESOURCE_LOCK); the others run beside them. Most of a suite's time is
# spent waiting on a simulated device's timings, not computing: twice as many
# at once as there are cores.
ctest --output-on-failure --timeout 600 --parallel "$(( $(nproc) * 2 ))"
