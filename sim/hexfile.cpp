// SPDX-License-Identifier: GPL-3.0-or-later
#include "hexfile.h"

#include <random>

std::string toIntelHex(const flashing::FirmwareImage &image)
{
    return flashing::formatIntelHex(image);
}

std::vector<uint8_t> randomBytes(size_t count, uint32_t seed)
{
    std::mt19937 generator(seed);
    std::vector<uint8_t> bytes(count);
    for (auto &b : bytes)
        b = uint8_t(generator());
    return bytes;
}
