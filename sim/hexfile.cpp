// SPDX-License-Identifier: GPL-3.0-or-later
#include "hexfile.h"

#include <cstdio>
#include <random>

namespace {

void appendRecord(std::string &out, uint8_t type, uint16_t offset, const uint8_t *data, size_t n)
{
    char buffer[16];
    uint8_t sum = uint8_t(n + (offset >> 8) + (offset & 0xFF) + type);
    std::snprintf(buffer, sizeof buffer, ":%02X%04X%02X", unsigned(n), unsigned(offset), unsigned(type));
    out += buffer;
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buffer, sizeof buffer, "%02X", unsigned(data[i]));
        out += buffer;
        sum = uint8_t(sum + data[i]);
    }
    std::snprintf(buffer, sizeof buffer, "%02X\n", unsigned(uint8_t(-sum)));
    out += buffer;
}

} // namespace

std::string toIntelHex(const flashing::FirmwareImage &image)
{
    std::string out;
    uint32_t upper = 0xFFFFFFFF;
    for (const auto &segment : image.segments) {
        size_t i = 0;
        while (i < segment.data.size()) {
            const uint32_t address = segment.address + uint32_t(i);
            if ((address >> 16) != upper) {
                upper = address >> 16;
                const uint8_t high[2] = {uint8_t(upper >> 8), uint8_t(upper)};
                appendRecord(out, 4, 0, high, 2);
            }
            size_t n = std::min<size_t>(16, segment.data.size() - i);
            n = std::min<size_t>(n, 0x10000 - (address & 0xFFFF));
            appendRecord(out, 0, uint16_t(address), segment.data.data() + i, n);
            i += n;
        }
    }
    out += ":00000001FF\n";
    return out;
}

std::vector<uint8_t> randomBytes(size_t count, uint32_t seed)
{
    std::mt19937 generator(seed);
    std::vector<uint8_t> bytes(count);
    for (auto &b : bytes)
        b = uint8_t(generator());
    return bytes;
}
