// SPDX-License-Identifier: GPL-3.0-or-later
// Any file through the Intel HEX reader; what it accepts must be a sane image.
#include "intelhex.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const flashing::HexParseResult result = flashing::parseIntelHex(data, size);
    if (!result.ok())
        return 0;
    // Sorted, not overlapping, not touching, inside 32 bits, never empty.
    uint64_t previousEnd = 0;
    bool first = true;
    for (const flashing::Segment &s : result.image.segments) {
        if (s.data.empty() || s.end() > 0x100000000ull || (!first && s.address <= previousEnd))
            std::abort();
        previousEnd = s.end();
        first = false;
    }
    if (result.image.empty())
        std::abort();
    return 0;
}
