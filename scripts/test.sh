#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh scripts/test.sh
bash scripts/build.sh
cd "${BUILD_DIR:-build}"
# The tests that open a serial port share its lock file and take turns
# (RESOURCE_LOCK); the others run beside them.
ctest --output-on-failure --timeout 600 --parallel "$(nproc)"
