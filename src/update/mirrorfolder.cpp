// SPDX-License-Identifier: GPL-3.0-or-later
#include "mirrorfolder.h"

#include "ownfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace road {

namespace {

constexpr qint64 kMaxListBytes = 64 * 1024;

// Only a name this program could have written: never a path.
bool isBareFileName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// The files an earlier copy says it holds; nothing when the folder holds no
// such list or anything the list does not name (then it is the owner's).
std::optional<QStringList> filesOfOwnCopy(const QString &folder)
{
    QString why;
    const std::optional<QByteArray> bytes = readOwnFile(QDir(folder).filePath(kMirrorListName), kMaxListBytes, why);
    if (!bytes)
        return std::nullopt;
    QStringList listed;
    for (const QJsonValue &value : QJsonDocument::fromJson(*bytes).object().value(QLatin1String("files")).toArray()) {
        if (!isBareFileName(value.toString()) || value.toString() == kMirrorListName)
            return std::nullopt;
        listed << value.toString();
    }
    for (const QString &entry : entriesOf(folder)) {
        const QFileInfo info(QDir(folder).filePath(entry));
        if (entry != kMirrorListName && (!listed.contains(entry) || info.isSymLink() || !info.isFile()))
            return std::nullopt;
    }
    return listed;
}

// A free name beside the folder for the old copy while the new one moves in.
QString asideName(const QString &target)
{
    const QFileInfo info(target);
    for (int i = 0;; ++i) {
        const QString name = info.dir().filePath(QStringLiteral(".%1.antiga-%2").arg(info.fileName()).arg(i));
        if (!QFileInfo::exists(name) && !isLink(name))
            return name;
    }
}

// Removes what the old copy listed, then the folder; true when it is gone.
bool removeOwnCopy(const QString &folder)
{
    const std::optional<QStringList> listed = filesOfOwnCopy(folder);
    if (!listed)
        return false;
    for (const QString &name : *listed)
        removeOwnFile(QDir(folder).filePath(name));
    removeOwnFile(QDir(folder).filePath(kMirrorListName));
    return QDir().rmdir(folder);
}

} // namespace

MirrorFolder::MirrorFolder(QString folder)
    : target(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()))
{
}

MirrorFolder::~MirrorFolder() = default;

bool MirrorFolder::begin(QString &why)
{
    const QFileInfo info(target);
    if (isLink(target)) {
        why = QStringLiteral("%1 é um link: indique a própria pasta").arg(target);
        return false;
    }
    if (info.exists() && !info.isDir()) {
        why = QStringLiteral("%1 existe e não é uma pasta").arg(target);
        return false;
    }
    replacesOldCopy = info.exists() && !entriesOf(target).isEmpty();
    if (replacesOldCopy && !filesOfOwnCopy(target)) {
        why = QStringLiteral("a pasta %1 já tem arquivos que não são de uma cópia feita por \"tarvik-config mirror\": "
                             "escolha uma pasta vazia ou nova")
                  .arg(target);
        return false;
    }
    if (!QDir().mkpath(info.absolutePath())) {
        why = QStringLiteral("a pasta %1 não pôde ser criada").arg(info.absolutePath());
        return false;
    }
    // Beside the folder, on the same disk, so that one rename moves it in.
    fresh = std::make_unique<QTemporaryDir>(QDir(info.absolutePath()).filePath(
        QStringLiteral(".%1.nova-XXXXXX").arg(info.fileName())));
    if (!fresh->isValid()) {
        why = QStringLiteral("não foi possível criar uma pasta ao lado de %1: %2").arg(target, fresh->errorString());
        fresh.reset();
        return false;
    }
    // A temporary folder is the owner's alone; the copy, like any folder the
    // owner makes, is there for whoever serves or reads it.
    QFile::setPermissions(fresh->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                             | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    return true;
}

QString MirrorFolder::pathFor(const QString &name) const
{
    return fresh && isBareFileName(name) ? QDir(fresh->path()).filePath(name) : QString();
}

bool MirrorFolder::commit(const QStringList &names, QString &why, QString &note)
{
    if (!fresh) {
        why = QStringLiteral("a cópia não foi começada");
        return false;
    }
    QJsonArray files;
    for (const QString &name : names)
        files.append(name);
    if (!writeOwnFile(QDir(fresh->path()).filePath(kMirrorListName),
                      QJsonDocument(QJsonObject{{QStringLiteral("files"), files}}).toJson(), why))
        return false;
    QString aside;
    if (replacesOldCopy) {
        aside = asideName(target);
        if (!QDir().rename(target, aside)) {
            why = QStringLiteral("a cópia antiga em %1 não pôde ser posta de lado").arg(target);
            return false;
        }
    } else if (QFileInfo(target).isDir()) {
        QDir().rmdir(target); // empty: checked by begin()
    }
    if (!QDir().rename(fresh->path(), target)) {
        why = QStringLiteral("a nova cópia não pôde tomar o lugar de %1").arg(target);
        if (!aside.isEmpty() && !QDir().rename(aside, target))
            why += QStringLiteral("; a cópia antiga está em %1").arg(aside);
        return false;
    }
    fresh->setAutoRemove(false);
    fresh.reset();
    if (!aside.isEmpty() && !removeOwnCopy(aside))
        note = QStringLiteral("A cópia antiga ficou em %1: ela tinha arquivos que não eram dela.").arg(aside);
    return true;
}

} // namespace road
