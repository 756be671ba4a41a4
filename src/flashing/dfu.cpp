// SPDX-License-Identifier: GPL-3.0-or-later
#include "dfu.h"

namespace flashing::dfu {

bool decodeStatus(const uint8_t *bytes, size_t length, DeviceStatus &out)
{
    if (!bytes || length < kStatusLength || bytes[4] > kDfuError)
        return false;
    out.status = bytes[0];
    out.pollTimeoutMs = uint32_t(bytes[1]) | uint32_t(bytes[2]) << 8 | uint32_t(bytes[3]) << 16;
    out.state = bytes[4];
    out.stringIndex = bytes[5];
    return true;
}

bool findFunctionalDescriptor(const uint8_t *bytes, size_t length, FunctionalDescriptor &out)
{
    size_t pos = 0;
    while (bytes && pos + 2 <= length) {
        const uint8_t size = bytes[pos];
        if (size < 2 || pos + size > length)
            return false;
        if (bytes[pos + 1] == kFunctionalDescriptorType) {
            if (size < 7)
                return false;
            out.attributes = bytes[pos + 2];
            out.detachTimeoutMs = uint16_t(bytes[pos + 3] | bytes[pos + 4] << 8);
            out.transferSize = uint16_t(bytes[pos + 5] | bytes[pos + 6] << 8);
            out.dfuVersion = size >= 9 ? uint16_t(bytes[pos + 7] | bytes[pos + 8] << 8) : 0x0100;
            return out.transferSize > 0;
        }
        pos += size;
    }
    return false;
}

} // namespace flashing::dfu
