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
