// SPDX-License-Identifier: GPL-3.0-or-later
#include "ownfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

namespace road {

namespace {

QString reasonFor(QFileDevice::FileError error)
{
    switch (error) {
    case QFileDevice::PermissionsError: return QStringLiteral("sem permissão");
    case QFileDevice::WriteError: return QStringLiteral("erro de gravação (disco cheio?)");
    case QFileDevice::ReadError: return QStringLiteral("erro de leitura");
    case QFileDevice::OpenError: return QStringLiteral("não pôde ser aberto");
    default: return QStringLiteral("erro do sistema");
    }
}

QString lastReason;

} // namespace

// Windows has no pipes or device nodes at ordinary paths; links and
// junctions are told by QFileInfo.
std::optional<QByteArray> readOwnFile(const QString &path, qint64 maxBytes, QString &why)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        why = QStringLiteral("não existe");
        return std::nullopt;
    }
    if (info.isSymLink() || info.isJunction() || !info.isFile()) {
        why = QStringLiteral("não é um arquivo comum");
        return std::nullopt;
    }
    if (info.size() > maxBytes) {
        why = QStringLiteral("grande demais");
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = reasonFor(file.error());
        return std::nullopt;
    }
    return file.readAll();
}

// QSaveFile itself writes through a link to the file it points to.
bool writeOwnersFile(const QString &path, const QByteArray &bytes, QString &why)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        why = lastReason = reasonFor(file.error());
        return false;
    }
    return true;
}

bool writeOwnFile(const QString &path, const QByteArray &bytes, QString &why)
{
    if (QFileInfo(path).isSymLink())
        QFile::remove(path);
    return writeOwnersFile(path, bytes, why);
}

bool renameOwnFile(const QString &from, const QString &to, QString &why)
{
    if (QFileInfo::exists(to) || QFileInfo(to).isSymLink()) {
        why = QStringLiteral("%1 já existe").arg(to);
        return false;
    }
    QFile file(from);
    if (!file.rename(to)) {
        why = lastReason = reasonFor(file.error());
        return false;
    }
    return true;
}

bool canWriteIn(const QString &folder, QString &why)
{
    // A file of no bytes takes no cluster: a full disk still makes one.
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".tarvik-XXXXXX")));
    if (!probe.open() || probe.write(QByteArray(64, '\n')) != 64 || !probe.flush()) {
        why = lastReason = reasonFor(probe.error());
        return false;
    }
    return true;
}

bool removeOwnFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink() && QFile::remove(path);
}

bool isLink(const QString &path)
{
    const QFileInfo info(path);
    return info.isSymLink() || info.isJunction();
}

QString lastFileError()
{
    return lastReason.isEmpty() ? QStringLiteral("erro do sistema") : lastReason;
}

} // namespace road
