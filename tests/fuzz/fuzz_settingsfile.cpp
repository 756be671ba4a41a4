// SPDX-License-Identifier: GPL-3.0-or-later
// Any settings file, the one input a user brings from elsewhere: refused with
// a reason, or accepted; what is accepted, written again and read back, is
// the very same settings.
#include "settings.h"

#include <QJsonDocument>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const settings::FileContents read = settings::fromFile(bytes);
    if (!read.error.isEmpty())
        return 0;
    if (read.values.isEmpty())
        std::abort(); // accepted with nothing in it
    const bool lambda = read.unit == settings::Unit::Lambda;
    const QByteArray written = QJsonDocument(settings::toFile(read.version, lambda, read.values)).toJson();
    const settings::FileContents again = settings::fromFile(written);
    if (!again.error.isEmpty() || again.values != read.values || again.version != read.version)
        std::abort();
    return 0;
}
