// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwareimage.h"

namespace flashing {

size_t FirmwareImage::byteCount() const
{
    size_t total = 0;
    for (const Segment &s : segments)
        total += s.data.size();
    return total;
}

} // namespace flashing
