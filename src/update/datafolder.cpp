// SPDX-License-Identifier: GPL-3.0-or-later
#include "datafolder.h"

#include "programmer.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace road {

namespace {
// The name the window's executable gives its data folder.
const QString kProgramName = QStringLiteral("tarvik-connect");
} // namespace

QString dataFolder()
{
    const QString own = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(kProgramName);
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QCoreApplication::setApplicationName(own);
    return folder;
}

QString backupFolder()
{
    const QString data = dataFolder();
    return data.isEmpty() ? QString() : QDir(data).filePath(QStringLiteral("backups"));
}

void keepFirmwareBackups(bool keep)
{
    flashing::setBackupFolder(keep ? backupFolder().toUtf8().constData() : "");
}

} // namespace road
