// SPDX-License-Identifier: GPL-3.0-or-later
// Firmware files on disk: reading them whole and choosing the reader (Intel
// HEX, or raw binary for names ending in ".bin").
#pragma once

#include "firmwareimage.h"
#include "intelhex.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace flashing {

// Reads a whole file. kOk, or kFileNotFound when it is missing, unreadable, a
// directory, or larger than maxBytes (then kInvalidFile).
int readWholeFile(const std::string &utf8Path, std::vector<uint8_t> &out, size_t maxBytes);

// Why a file was refused as invalid, for a technician to fix it.
struct FileProblem {
    HexError error = HexError::None;
    size_t line = 0; // 1-based; 0 when it concerns the whole file
};

// Reads a firmware file into an image; a raw binary is placed at `address`.
// kOk, kFileNotFound or kInvalidFile (then *problem, if given, says why).
int loadFirmwareFile(const std::string &path, uint32_t address, FirmwareImage &image,
                     FileProblem *problem = nullptr);

} // namespace flashing
