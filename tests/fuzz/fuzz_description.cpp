// SPDX-License-Identifier: GPL-3.0-or-later
// Any data.json through the description reader, and any version text
// through the version number reader.
#include "firmwaredescription.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const FirmwareDescription description = parseFirmwareDescriptionJson(bytes);
    (void)description.versionText.toFloat();
    (void)versionNumberAfterV(QString::fromUtf8(bytes));
    return 0;
}
