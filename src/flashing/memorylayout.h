// SPDX-License-Identifier: GPL-3.0-or-later
// The DfuSe memory layout that a device announces in the string descriptor
// of each alternate setting, for example
//   "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,03*128Kg".
// The text comes from the device, so the parser trusts nothing in it.
#pragma once

#include "firmwareimage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace flashing {

enum SectorAccess : uint8_t {
    kReadable = 1,
    kErasable = 2,
    kWritable = 4,
};

struct Sector {
    uint32_t start = 0;
    uint32_t size = 0;
    uint8_t access = 0;
    uint64_t end() const { return uint64_t(start) + size; }
};

// `count` sectors of `size` bytes each, back to back from `start`.
struct SectorRun {
    uint32_t start = 0;
    uint32_t count = 0;
    uint32_t size = 0;
    uint8_t access = 0;
    uint64_t end() const { return uint64_t(start) + uint64_t(count) * size; }
};

class MemoryLayout {
public:
    std::string name;
    std::vector<SectorRun> runs; // sorted by address, never overlapping

    bool sectorAt(uint32_t address, Sector &out) const;
    // Whether every byte in [begin, end) lies in sectors having all of `access`.
    bool allows(uint32_t begin, uint64_t end, uint8_t access) const;
    // The sectors holding at least one byte of the image, in address order.
    std::vector<Sector> sectorsTouched(const FirmwareImage &image) const;
};

// The longest layout text accepted; real ones are well under 200 characters.
constexpr size_t kMaxLayoutLength = 512;

bool parseMemoryLayout(const std::string &text, MemoryLayout &out);

} // namespace flashing
