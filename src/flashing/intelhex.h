// SPDX-License-Identifier: GPL-3.0-or-later
// Firmware images: the Intel HEX reader and raw binary images. Pure code,
// no I/O: the caller hands in the file's bytes.
#pragma once

#include "firmwareimage.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace flashing {

enum class HexError {
    None,
    MissingColon,       // a non-blank line that does not start with ':'
    NonHexCharacter,
    LengthMismatch,     // the byte count field disagrees with the line's length
    BadChecksum,
    UnknownRecordType,  // record types other than 00-05
    MalformedRecord,    // e.g. an extended address record that is not 2 bytes
    MissingEndOfFile,
    DataAfterEndOfFile,
    OverlappingData,
    AddressOverflow,    // data beyond the 32-bit address space
    TooLarge,           // over kMaxImageFileBytes
    Empty,              // no data records at all
};

const char *hexErrorText(HexError error);

struct HexParseResult {
    HexError error = HexError::None;
    size_t line = 0; // 1-based line of the error, 0 when it concerns the file
    FirmwareImage image;
    bool ok() const { return error == HexError::None; }
};

HexParseResult parseIntelHex(const uint8_t *text, size_t size);

// The image as Intel HEX text: 16 data bytes a record, an extended linear
// address record wherever the upper half of the address changes.
std::string formatIntelHex(const FirmwareImage &image);

// A raw binary file placed at `address`. Empty when `size` is 0 or the image
// would run past the 32-bit address space.
FirmwareImage imageFromBinary(const uint8_t *bytes, size_t size, uint32_t address);

} // namespace flashing
