// SPDX-License-Identifier: GPL-3.0-or-later
#include "hexfile.h"

#include "usbids.h"

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

std::vector<uint8_t> runnableBytes(size_t count, uint32_t seed)
{
    std::vector<uint8_t> bytes = randomBytes(count, seed);
    const uint32_t words[2] = {k931::kSramStart + k931::kSramBytes, k931::kFlashStart + 0x1C1};
    for (size_t i = 0; i < 8 && i < bytes.size(); ++i)
        bytes[i] = uint8_t(words[i / 4] >> (8 * (i % 4)));
    return bytes;
}
