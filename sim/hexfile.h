// SPDX-License-Identifier: GPL-3.0-or-later
// Writes firmware images as Intel HEX text, for tests that serve or flash
// files.
#pragma once

#include "intelhex.h"

#include <cstdint>
#include <string>
#include <vector>

std::string toIntelHex(const flashing::FirmwareImage &image);
std::vector<uint8_t> randomBytes(size_t count, uint32_t seed);
// Random bytes that start like a firmware the F446 would run: a vector
// table at their start (stack at the top of its SRAM, reset handler inside).
std::vector<uint8_t> runnableBytes(size_t count, uint32_t seed);
