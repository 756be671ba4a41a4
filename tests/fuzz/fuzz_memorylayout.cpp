// SPDX-License-Identifier: GPL-3.0-or-later
// Any layout text a hostile device could announce; what is accepted must
// answer every question about it without running away.
#include "memorylayout.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    flashing::MemoryLayout layout;
    if (!flashing::parseMemoryLayout(std::string(reinterpret_cast<const char *>(data), size), layout))
        return 0;
    for (size_t i = 1; i < layout.runs.size(); ++i) {
        if (layout.runs[i].start < layout.runs[i - 1].end())
            std::abort();
    }
    const flashing::SectorRun &run = layout.runs.front();
    flashing::Sector sector;
    if (!layout.sectorAt(run.start, sector) || sector.start != run.start)
        std::abort();
    flashing::FirmwareImage image;
    image.segments.push_back({run.start, std::vector<uint8_t>(64, 0)});
    (void)layout.sectorsTouched(image);
    (void)layout.allows(run.start, run.start + uint64_t(run.size) * 2, flashing::kWritable);
    return 0;
}
