// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwarecopies.h"

#include "datafolder.h"
#include "intelhex.h"
#include "result.h"
#include "ownfile.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QTemporaryFile>

#include <algorithm>

namespace road {

namespace {

const QString kIndexName = QStringLiteral("copias.json");
const QString kLockName = QStringLiteral(".copias.lock");
constexpr int kIndexFormat = 1;
constexpr qint64 kMaxIndexBytes = 1024 * 1024;
// Another program of ours saving at the same moment finishes well within this.
constexpr int kLockWaitMs = 10000;

const char *originName(CopyOrigin origin)
{
    switch (origin) {
    case CopyOrigin::RunningFirmware: return "firmware";
    case CopyOrigin::FoundInBootloader: return "bootloader";
    case CopyOrigin::Unknown: break;
    }
    return "desconhecida";
}

CopyOrigin originOf(const QString &name)
{
    if (name == QLatin1String(originName(CopyOrigin::RunningFirmware)))
        return CopyOrigin::RunningFirmware;
    if (name == QLatin1String(originName(CopyOrigin::FoundInBootloader)))
        return CopyOrigin::FoundInBootloader;
    return CopyOrigin::Unknown;
}

// A name the index may carry: one file of this folder, nothing beyond it.
bool isPlainCopyName(const QString &name)
{
    return !name.isEmpty() && !name.startsWith(QLatin1Char('.')) && name.endsWith(QLatin1String(".hex"))
        && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

struct Index {
    QList<FirmwareCopy> copies; // as listed, names relative to the folder
    bool readable = true;
};

Index readIndex(const QString &folder)
{
    Index index;
    const QString path = QDir(folder).filePath(kIndexName);
    if (!QFileInfo::exists(path) && !isLink(path))
        return index;
    QString why;
    const std::optional<QByteArray> bytes = readOwnFile(path, kMaxIndexBytes, why);
    const QJsonDocument document = bytes ? QJsonDocument::fromJson(*bytes) : QJsonDocument();
    if (!document.isObject() || document.object().value(QStringLiteral("format")).toInt() != kIndexFormat) {
        index.readable = false;
        return index;
    }
    for (const QJsonValue &value : document.object().value(QStringLiteral("copies")).toArray()) {
        const QJsonObject entry = value.toObject();
        FirmwareCopy copy;
        copy.path = entry.value(QStringLiteral("file")).toString();
        copy.sequence = entry.value(QStringLiteral("sequence")).toInteger(-1);
        copy.written = QDateTime::fromString(entry.value(QStringLiteral("written")).toString(), Qt::ISODate);
        copy.version = entry.value(QStringLiteral("version")).toString();
        copy.origin = originOf(entry.value(QStringLiteral("origin")).toString());
        if (isPlainCopyName(copy.path) && copy.sequence >= 0)
            index.copies.append(copy);
    }
    return index;
}

bool writeIndex(const QString &folder, const QList<FirmwareCopy> &copies, QString &why)
{
    QJsonArray list;
    for (const FirmwareCopy &copy : copies) {
        list.append(QJsonObject{{QStringLiteral("file"), copy.path},
                                {QStringLiteral("sequence"), copy.sequence},
                                {QStringLiteral("written"), copy.written.toString(Qt::ISODate)},
                                {QStringLiteral("version"), copy.version},
                                {QStringLiteral("origin"), QLatin1String(originName(copy.origin))}});
    }
    const QJsonObject root{{QStringLiteral("format"), kIndexFormat}, {QStringLiteral("copies"), list}};
    return writeOwnFile(QDir(folder).filePath(kIndexName), QJsonDocument(root).toJson(), why);
}

bool isRegularFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}

bool taken(const QString &path)
{
    return QFileInfo::exists(path) || isLink(path);
}

QString freeName(const QDir &folder, const QString &name)
{
    const QString stem = name.chopped(4);
    QString candidate = name;
    for (int n = 2; taken(folder.filePath(candidate)); ++n)
        candidate = QStringLiteral("%1_%2.hex").arg(stem).arg(n);
    return candidate;
}

QString sameFile(const QString &path)
{
    return path.isEmpty() ? QString() : QFileInfo(path).canonicalFilePath();
}

// Which listed copies go: beyond the newest kFirmwareCopiesKept, all but
// the one just made, the one being written and the newest good one.
QList<FirmwareCopy> copiesToRemove(const QList<FirmwareCopy> &newestFirst, const QDir &folder, qint64 justMade,
                                   const QString &writing)
{
    const QString written = sameFile(writing);
    qint64 newestGood = -1;
    for (const FirmwareCopy &copy : newestFirst) {
        if (copy.origin == CopyOrigin::RunningFirmware) {
            newestGood = copy.sequence;
            break;
        }
    }
    QList<FirmwareCopy> removed;
    for (int i = kFirmwareCopiesKept; i < newestFirst.size(); ++i) {
        const FirmwareCopy &copy = newestFirst.at(i);
        const bool kept = copy.sequence == justMade || copy.sequence == newestGood
            || (!written.isEmpty() && sameFile(folder.filePath(copy.path)) == written);
        if (!kept)
            removed.append(copy);
    }
    return removed;
}

QList<FirmwareCopy> newestFirst(QList<FirmwareCopy> copies)
{
    std::sort(copies.begin(), copies.end(),
              [](const FirmwareCopy &a, const FirmwareCopy &b) { return a.sequence > b.sequence; });
    return copies;
}

QString linkNote(const QString &folder)
{
    if (!isLink(folder))
        return QString();
    return QStringLiteral(" (a pasta %1 é um link para %2)").arg(folder, QFileInfo(folder).canonicalFilePath());
}

} // namespace

CopyListing listFirmwareCopies(const QString &folder)
{
    CopyListing listing;
    const Index index = readIndex(folder);
    if (!index.readable)
        listing.note = QStringLiteral("O índice das cópias (%1) não pôde ser lido.").arg(QDir(folder).filePath(kIndexName));
    else if (isLink(folder))
        listing.note = linkNote(folder).trimmed();
    const QDir dir(folder);
    for (FirmwareCopy copy : newestFirst(index.copies)) {
        copy.path = dir.filePath(copy.path);
        if (!isRegularFile(copy.path))
            continue;
        copy.bytes = QFileInfo(copy.path).size();
        listing.copies.append(copy);
    }
    return listing;
}

bool copiesCanBeKept(const QString &folder, QString &why)
{
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        why = QStringLiteral("a pasta %1 não pôde ser criada").arg(folder);
        return false;
    }
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".tarvik-XXXXXX")));
    if (!probe.open()) {
        why = QStringLiteral("não é possível gravar em %1").arg(folder);
        return false;
    }
    return true;
}

FirmwareCopyKeeper::FirmwareCopyKeeper(CopyRequest copyRequest)
    : request(std::move(copyRequest))
{
}

void FirmwareCopyKeeper::keep(const flashing::FirmwareImage &old)
{
    const QString folder = request.folder;
    const auto fail = [&](const QString &why) {
        line = QStringLiteral("Não foi possível guardar a cópia do firmware anterior em %1 (%2): a gravação "
                              "continua sem ela.")
                   .arg(folder, why);
    };
    if (!QDir().mkpath(folder)) {
        fail(QStringLiteral("a pasta não pôde ser criada"));
        return;
    }
    const QDir dir(folder);
    QLockFile lock(dir.filePath(kLockName));
    if (!lock.tryLock(kLockWaitMs)) {
        fail(QStringLiteral("outro programa está guardando uma cópia"));
        return;
    }
    Index index = readIndex(folder);
    const QDateTime now = QDateTime::currentDateTime();
    const QString name = freeName(dir, keptFileName(now, request.version, QStringLiteral(".hex")));
    QString why;
    const std::string text = flashing::formatIntelHex(old);
    if (!writeOwnFile(dir.filePath(name), QByteArray::fromStdString(text), why)) {
        fail(why);
        return;
    }
    saved = dir.filePath(name);
    line = QStringLiteral("Cópia do firmware anterior guardada em %1%2").arg(saved, linkNote(folder));
    if (!index.readable) {
        // What the broken index named is not known: nothing is removed, and
        // the new index starts from this copy.
        index.copies.clear();
        line += QStringLiteral(" (o índice das cópias não pôde ser lido: nenhuma cópia antiga foi apagada)");
    }
    qint64 sequence = 0;
    for (const FirmwareCopy &copy : index.copies)
        sequence = std::max(sequence, copy.sequence + 1);
    FirmwareCopy made;
    made.path = name;
    made.sequence = sequence;
    made.written = now;
    made.version = request.version;
    made.origin = request.origin;
    QList<FirmwareCopy> listed;
    for (const FirmwareCopy &copy : index.copies) {
        if (isRegularFile(dir.filePath(copy.path)))
            listed.append(copy);
    }
    listed.append(made);
    listed = newestFirst(listed);
    const QList<FirmwareCopy> removed = copiesToRemove(listed, dir, sequence, request.writing);
    for (const FirmwareCopy &copy : removed)
        listed.removeIf([&](const FirmwareCopy &c) { return c.sequence == copy.sequence; });
    // The index first: a file it no longer names is left over, never lost
    // while still listed.
    if (!writeIndex(folder, listed, why)) {
        line += QStringLiteral(" (o índice das cópias não pôde ser gravado: %1; nenhuma cópia antiga foi apagada)")
                    .arg(why);
        return;
    }
    for (const FirmwareCopy &copy : removed)
        removeOwnFile(dir.filePath(copy.path));
}

void FirmwareCopyKeeper::unreadable(int result)
{
    const QString reason = result == flashing::kReadProtected ? QStringLiteral("proteção de leitura")
                                                              : QStringLiteral("código %1").arg(result);
    line = QStringLiteral("Sem cópia do firmware anterior: o aparelho não deixa ler a memória (%1); a gravação "
                          "continua sem ela.")
               .arg(reason);
}

} // namespace road
