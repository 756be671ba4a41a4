// SPDX-License-Identifier: GPL-3.0-or-later
// Connecting to the bootloader and writing a firmware file into the K931's
// flash, each with its result and the reason in Portuguese. Progress goes
// to the display callbacks the program installed.
#pragma once

#include <QString>

namespace road {

struct Outcome {
    int result = 0;  // a flashing result code
    QString reason;  // empty on success
    bool ok() const { return result == 0; }
};

Outcome connectBootloader(const QString &usbIndex);
// The whole file is checked first; nothing is erased for a file that cannot
// be written. With `verify`, everything written is read back and compared.
Outcome writeFirmware(const QString &path, bool verify = true);

} // namespace road
