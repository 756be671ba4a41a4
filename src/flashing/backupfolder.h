// SPDX-License-Identifier: GPL-3.0-or-later
// The copies of the flash that writes replace: one Intel HEX file a write,
// named by date, time and the device's version where known, written whole
// or not at all, the newest ten kept. A copy is written back like any
// firmware file.
#pragma once

#include "firmwareimage.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace flashing {

constexpr size_t kBackupsKept = 10;

// "2026-12-08_003112_K931_V1.5_Boost.hex": the name of every file the
// program keeps for the owner (firmware copies, settings kept across an
// update). It sorts by time; the label keeps letters, digits, '.' and '-',
// anything else becomes '_'.
std::string keptFileName(std::time_t when, const std::string &label, const std::string &suffix = ".hex");

// Saves the copy in `folder` (made when missing) and removes all but the
// newest kBackupsKept. On success `path` names the file; otherwise `why`
// says what failed and no partial file is left.
bool saveBackup(const std::string &folder, const std::string &label, const FirmwareImage &old, std::string &path,
                std::string &why);

struct BackupEntry {
    std::string path;
    uint64_t bytes = 0;
};
// The copies in `folder`, newest first.
std::vector<BackupEntry> listBackups(const std::string &folder);

} // namespace flashing
