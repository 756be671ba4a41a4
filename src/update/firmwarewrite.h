// SPDX-License-Identifier: GPL-3.0-or-later
// Connecting to the bootloader and writing a firmware file into the K931's
// flash, each with its result and the reason in Portuguese. Progress goes
// to the display callbacks the program installed.
#pragma once

#include "firmwarecopies.h"
#include "firmwareimage.h"

#include <QString>

#include <functional>

namespace road {

struct Outcome {
    int result = 0;     // a flashing result code
    QString reason;     // empty on success
    QString copyReport; // where the replaced firmware went, or why nowhere; empty: no copy tried
    QString copyPath;   // the copy, empty when none was made
    bool flashChanged = false; // the write got as far as an erase or a write
    bool ok() const { return result == 0; }
};

struct WriteRequest {
    // Read and judged once by the caller: the file is not read again, so
    // that a file replaced on disk since its check is never what goes in.
    flashing::FirmwareImage image;
    QString path; // where the image was read from, for the reason and the copies
    bool verify = true; // everything written is read back and compared
    CopyRequest copy;   // its folder empty: no copy
    // Asked just before the flash is first changed: true stops the write
    // there (kStopped), nothing written.
    std::function<bool()> stopRequested;
};

Outcome connectBootloader(const QString &usbIndex);
// The image is checked against the device first; nothing is erased for one
// that cannot be written.
Outcome writeFirmware(const WriteRequest &request);

} // namespace road
