// SPDX-License-Identifier: GPL-3.0-or-later
#include "datafolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace road {

namespace {
// The name the window's executable gives its data folder.
const QString kProgramName = QStringLiteral("tarvik-connect");
constexpr int kLabelLength = 40;

QString subFolder(const QString &name)
{
    const QString data = dataFolder();
    return data.isEmpty() ? QString() : QDir(data).filePath(name);
}
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
    return subFolder(QStringLiteral("backups"));
}

QString keptSettingsFolder()
{
    return subFolder(QStringLiteral("configuracoes"));
}

QString keptFileName(const QDateTime &when, const QString &label, const QString &suffix)
{
    QString cleaned;
    for (const QChar c : label.left(kLabelLength)) {
        const bool kept = (c.unicode() < 0x80 && c.isLetterOrNumber()) || c == QLatin1Char('.') || c == QLatin1Char('-');
        cleaned += kept ? c : QLatin1Char('_');
    }
    const QString stamp = when.toString(QStringLiteral("yyyy-MM-dd_HHmmss"));
    return (cleaned.isEmpty() ? stamp : stamp + QLatin1Char('_') + cleaned) + suffix;
}

} // namespace road
