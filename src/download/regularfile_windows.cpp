// SPDX-License-Identifier: GPL-3.0-or-later
#include "regularfile.h"

#include <QFile>
#include <QFileInfo>

namespace regularfile {

// Windows has no pipes or device nodes at ordinary paths: a look before the
// open is enough to keep to regular files.
Opened openForReading(const QString &path, QFile &file, QString &why)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        why = QStringLiteral("não existe");
        return Opened::Missing;
    }
    if (!info.isFile())
        return Opened::NotRegular;
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString();
        return Opened::Failed;
    }
    return Opened::Ok;
}

} // namespace regularfile
