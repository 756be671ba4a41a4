// SPDX-License-Identifier: GPL-3.0-or-later
// Opening a file of a folder source: only a regular file is read, and a
// pipe or a device put where a firmware file should be never holds the
// program in open().
#pragma once

#include <QString>

class QFile;

namespace regularfile {

enum class Opened { Ok, Missing, NotRegular, Failed };

// `why` gets the system's reason when the result is Missing or Failed.
Opened openForReading(const QString &path, QFile &file, QString &why);

} // namespace regularfile
