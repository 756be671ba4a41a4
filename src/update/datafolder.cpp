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

// Qt builds AppDataLocation from a base folder of the system's (the XDG
// data folder, Windows' roaming AppData), then "/organization" and
// "/application" when they are set. This program's own name is taken off
// the end and the window's put there instead: every program finds the same
// folder, and the process's names are only read, never changed under
// another thread.
QString dataFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString own = QCoreApplication::applicationName();
    if (!own.isEmpty() && folder.endsWith(QLatin1Char('/') + own))
        folder.chop(own.size() + 1);
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + kProgramName;
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
