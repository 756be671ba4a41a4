// SPDX-License-Identifier: GPL-3.0-or-later
// Connecting to the bootloader and writing a firmware file into the K931's
// flash, each with its result and the reason in Portuguese. Progress goes
// to the display callbacks the program installed.
#pragma once

#include "firmwarecopies.h"

#include <QString>

#include <functional>

namespace road {

struct Outcome {
    int result = 0;     // a flashing result code
    QString reason;     // empty on success
    QString copyReport; // where the replaced firmware went, or why nowhere; empty: no copy tried
    QString copyPath;   // the copy, empty when none was made
    bool ok() const { return result == 0; }
};

struct WriteRequest {
    QString path;
    bool verify = true; // everything written is read back and compared
    CopyRequest copy;   // its folder empty: no copy
    // Asked just before the flash is first changed: true stops the write
    // there (kStopped), nothing written.
    std::function<bool()> stopRequested;
};

Outcome connectBootloader(const QString &usbIndex);
// The whole file is checked first; nothing is erased for a file that cannot
// be written.
Outcome writeFirmware(const WriteRequest &request);

} // namespace road
