// SPDX-License-Identifier: GPL-3.0-or-later
// A firmware image as the device will hold it: address-ordered pieces of
// flash content. What the readers produce and the engine writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace flashing {

// Larger files are refused before parsing: the device holds 512 KiB, and an
// Intel HEX file of the whole flash is about 1.5 MiB.
constexpr size_t kMaxImageFileBytes = 8u * 1024u * 1024u;

struct Segment {
    uint32_t address = 0;
    std::vector<uint8_t> data;
    uint64_t end() const { return uint64_t(address) + data.size(); }
    bool operator==(const Segment &other) const { return address == other.address && data == other.data; }
};

// Address-ordered, non-overlapping, with touching pieces merged.
struct FirmwareImage {
    std::vector<Segment> segments;
    size_t byteCount() const;
    bool empty() const { return segments.empty(); }
    bool operator==(const FirmwareImage &other) const { return segments == other.segments; }
};

} // namespace flashing
