#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the whole test suite with AddressSanitizer and UndefinedBehavior-
# Sanitizer (leak checking on) into build-asan/ and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
# No manual pages: they belong to the package, which this build never makes.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARVIK_BUILD_BENCH=OFF -DTARVIK_MAN_PAGES=OFF \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-asan --parallel "$(nproc)"
cd build-asan
# umockdev's preload library comes before the sanitizer runtime in the serial
# tests; the order does not matter for what they check.
export ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/../tests/sanitizers/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --output-on-failure --timeout 900
