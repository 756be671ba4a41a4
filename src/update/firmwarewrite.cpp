// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwarewrite.h"

#include "flashfailure.h"
#include "programmer.h"
#include "usbids.h"

namespace road {

namespace {

Outcome outcome(int result, const QString &path)
{
    return {result, result == flashing::kOk ? QString() : flashFailureReason(result, path)};
}

} // namespace

Outcome connectBootloader(const QString &usbIndex)
{
    return outcome(flashing::connectDfuBootloader(usbIndex.toLatin1().constData()), QString());
}

Outcome writeFirmware(const QString &path, bool verify)
{
    const int result = flashing::downloadFile(reinterpret_cast<const char16_t *>(path.utf16()), k931::kFlashStart,
                                              0, verify ? 1 : 0, u"");
    return outcome(result, path);
}

} // namespace road
