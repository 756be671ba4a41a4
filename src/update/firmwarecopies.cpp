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
#include <QSet>
#include <QStorageInfo>

#include <algorithm>
#include <limits>

namespace road {

namespace {

const QString kIndexName = QStringLiteral("copias.json");
const QString kLockName = QStringLiteral(".copias.lock");
constexpr int kIndexFormat = 1;
constexpr qint64 kMaxIndexBytes = 1024 * 1024;
// Another program of ours saving at the same moment finishes well within
// this; a lock whose program has ended is taken over at once.
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
    QList<FirmwareCopy> copies; // newest first, names relative to the folder
    bool readable = true;
};

// Newest first, each file once: an entry naming a file listed above it
// goes, so that removing one entry never removes a file another still
// names. The sequences are then given anew from that order, the oldest 0:
// an index an editor changed (repeated numbers, numbers at the end of
// their range) keeps its order, and the next number cannot overflow.
QList<FirmwareCopy> inOrder(QList<FirmwareCopy> copies)
{
    // Ties keep the index's own order, which is newest first.
    std::stable_sort(copies.begin(), copies.end(),
                     [](const FirmwareCopy &a, const FirmwareCopy &b) { return a.sequence > b.sequence; });
    QList<FirmwareCopy> unique;
    QSet<QString> names;
    for (const FirmwareCopy &copy : copies) {
        if (!names.contains(copy.path)) {
            names.insert(copy.path);
            unique.append(copy);
        }
    }
    for (qsizetype i = 0; i < unique.size(); ++i)
        unique[i].sequence = unique.size() - 1 - i;
    return unique;
}

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
        // An entry without a number is taken as the oldest, not forgotten.
        copy.sequence = entry.value(QStringLiteral("sequence")).toInteger(std::numeric_limits<qint64>::min());
        copy.written = QDateTime::fromString(entry.value(QStringLiteral("written")).toString(), Qt::ISODate);
        copy.version = entry.value(QStringLiteral("version")).toString();
        copy.origin = originOf(entry.value(QStringLiteral("origin")).toString());
        if (isPlainCopyName(copy.path))
            index.copies.append(copy);
    }
    index.copies = inOrder(index.copies);
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
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    QString candidate = name;
    for (int n = 2; taken(folder.filePath(candidate)); ++n)
        candidate = QStringLiteral("%1_%2%3").arg(name.left(dot)).arg(n).arg(name.mid(dot));
    return candidate;
}

QString sameFile(const QString &path)
{
    return path.isEmpty() ? QString() : QFileInfo(path).canonicalFilePath();
}

// Which listed copies go: beyond the newest kFirmwareCopiesKept, all but
// the one just made, the one being written and the newest good one. Each
// is told by its file's name, which the index holds once.
QList<FirmwareCopy> copiesToRemove(const QList<FirmwareCopy> &newestFirst, const QDir &folder, const QString &justMade,
                                   const QString &writing)
{
    const QString written = sameFile(writing);
    QString newestGood;
    for (const FirmwareCopy &copy : newestFirst) {
        if (copy.origin == CopyOrigin::RunningFirmware) {
            newestGood = copy.path;
            break;
        }
    }
    QList<FirmwareCopy> removed;
    for (int i = kFirmwareCopiesKept; i < newestFirst.size(); ++i) {
        const FirmwareCopy &copy = newestFirst.at(i);
        const bool kept = copy.path == justMade || copy.path == newestGood
            || (!written.isEmpty() && sameFile(folder.filePath(copy.path)) == written);
        if (!kept)
            removed.append(copy);
    }
    return removed;
}

QString linkNote(const QString &folder)
{
    if (!isLink(folder))
        return QString();
    return QStringLiteral(" (a pasta %1 é um link para %2)").arg(folder, QFileInfo(folder).canonicalFilePath());
}

// QLockFile keeps the system's reason to itself: a permission it names, any
// other is asked of the folder again (a disk filled since the first probe).
QString lockFailure(const QLockFile &lock, const QString &folder)
{
    QString why;
    if (lock.error() == QLockFile::PermissionError)
        return QStringLiteral("sem permissão");
    return canWriteIn(folder, why) ? QStringLiteral("erro desconhecido") : why;
}

// Takes the folder's lock. One left by a program that has ended is taken
// over at once (QLockFile tells by the process number in it); one that a
// running program holds is waited for. Whatever else stops it is said as
// it is.
bool takeLock(QLockFile &lock, const QString &folder, QString &why)
{
    if (!canWriteIn(folder, why)) {
        why = QStringLiteral("não é possível gravar na pasta: %1").arg(why);
        return false;
    }
    const QString path = QDir(folder).filePath(kLockName);
    const QFileInfo at(path);
    if (at.isSymLink() || (at.exists() && !at.isFile())) {
        why = QStringLiteral("%1 não é um bloqueio deste programa: apague-o ou mova-o e tente de novo").arg(path);
        return false;
    }
    if (lock.tryLock(kLockWaitMs))
        return true;
    qint64 pid = 0;
    QString host;
    QString program;
    if (lock.error() != QLockFile::LockFailedError)
        why = QStringLiteral("o bloqueio %1 não pôde ser criado (%2)").arg(path, lockFailure(lock, folder));
    else if (lock.getLockInfo(&pid, &host, &program))
        why = QStringLiteral("outro programa (%1, PID %2) está guardando uma cópia: tente de novo quando ele terminar")
                  .arg(program)
                  .arg(pid);
    else
        why = QStringLiteral("%1 trava a pasta sem dizer qual programa o criou: se nenhum outro programa estiver "
                             "gravando, apague-o e tente de novo")
                  .arg(path);
    return false;
}

// An index that cannot be read is kept under a name of its own, so that a
// new one never takes its place and forgets the copies it named (they stay:
// a file no readable index names is never removed). A folder at its name
// is not moved.
bool setIndexAside(const QDir &dir, QString &aside, QString &why)
{
    const QString path = dir.filePath(kIndexName);
    if (QFileInfo(path).isDir() && !isLink(path)) {
        why = QStringLiteral("%1 é uma pasta").arg(path);
        return false;
    }
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HHmmss"));
    aside = dir.filePath(freeName(dir, QStringLiteral("copias-ilegivel-%1.json").arg(stamp)));
    if (!renameOwnFile(path, aside, why)) {
        why = QStringLiteral("o índice ilegível %1 não pôde ser posto de lado: %2").arg(path, why);
        aside.clear();
        return false;
    }
    return true;
}

// The copy just made joins the index, and the copies beyond the newest
// kept are removed once the index no longer names them: a file it still
// names is never removed, one it no longer names is left over, never lost
// while listed.
bool list(const QDir &dir, const QList<FirmwareCopy> &copies, FirmwareCopy made, const QString &writing,
          QString &why)
{
    QList<FirmwareCopy> listed;
    for (const FirmwareCopy &copy : copies) {
        if (isRegularFile(dir.filePath(copy.path)))
            listed.append(copy);
    }
    made.sequence = listed.isEmpty() ? 0 : listed.first().sequence + 1;
    listed.prepend(made);
    const QList<FirmwareCopy> removed = copiesToRemove(listed, dir, made.path, writing);
    for (const FirmwareCopy &copy : removed)
        listed.removeIf([&](const FirmwareCopy &c) { return c.path == copy.path; });
    if (!writeIndex(dir.path(), listed, why))
        return false;
    for (const FirmwareCopy &copy : removed)
        removeOwnFile(dir.filePath(copy.path));
    return true;
}

QString unlisted(const QString &path, const QString &why)
{
    return QStringLiteral("A cópia do firmware anterior está em %1, mas não pôde entrar na lista das cópias (%2): "
                          "copie-a para um lugar seguro. Nenhuma cópia antiga foi apagada.")
        .arg(path, why);
}

} // namespace

CopyListing listFirmwareCopies(const QString &folder)
{
    CopyListing listing;
    const Index index = readIndex(folder);
    if (!index.readable)
        listing.note = QStringLiteral("O índice das cópias (%1) não pôde ser lido: nenhuma cópia desta pasta é "
                                      "apagada, e a próxima cópia o guarda à parte.")
                           .arg(QDir(folder).filePath(kIndexName));
    else if (isLink(folder))
        listing.note = linkNote(folder).trimmed();
    const QDir dir(folder);
    // The copies an index set aside listed are still in the folder, unlisted.
    const QStringList asideIndexes = dir.entryList({QStringLiteral("copias-ilegivel-*.json")}, QDir::Files);
    if (index.readable && !asideIndexes.isEmpty())
        listing.note = QStringLiteral("Cópias mais antigas, de antes do índice ilegível guardado em %1, continuam "
                                      "nesta pasta sem estar na lista: nenhuma delas é apagada.")
                           .arg(dir.filePath(asideIndexes.last()));
    for (FirmwareCopy copy : index.copies) {
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
    QString reason;
    if (!canWriteIn(folder, reason)) {
        why = QStringLiteral("não é possível gravar em %1 (%2)").arg(folder, reason);
        return false;
    }
    // A disk that can tell its free space is judged by it: a copy that would
    // not fit fails only after "BOOT", in the middle of the write.
    const QStorageInfo disk(folder);
    if (disk.isValid() && disk.bytesAvailable() >= 0 && disk.bytesAvailable() < kRoomToKeepBytes) {
        why = QStringLiteral("disco cheio: %1 KiB livres em %2, e a cópia precisa de %3 KiB")
                  .arg(disk.bytesAvailable() / 1024)
                  .arg(folder)
                  .arg(kRoomToKeepBytes / 1024);
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
    QString why;
    if (!QDir().mkpath(folder)) {
        fail(QStringLiteral("a pasta não pôde ser criada"));
        return;
    }
    const QDir dir(folder);
    QLockFile lock(dir.filePath(kLockName));
    if (!takeLock(lock, folder, why)) {
        fail(why);
        return;
    }
    Index index = readIndex(folder);
    QString aside;
    const bool indexFree = index.readable || setIndexAside(dir, aside, why);
    const QDateTime now = QDateTime::currentDateTime();
    const QString name = freeName(dir, keptFileName(now, request.version, QStringLiteral(".hex")));
    const std::string text = flashing::formatIntelHex(old);
    QString writeWhy;
    if (!writeOwnFile(dir.filePath(name), QByteArray::fromStdString(text), writeWhy)) {
        fail(writeWhy);
        return;
    }
    saved = dir.filePath(name);
    if (!indexFree) {
        line = unlisted(saved, why);
        return;
    }
    FirmwareCopy made;
    made.path = name;
    made.written = now;
    made.version = request.version;
    made.origin = request.origin;
    if (!list(dir, index.copies, made, request.writing, why)) {
        line = unlisted(saved, why);
        return;
    }
    line = QStringLiteral("Cópia do firmware anterior guardada em %1%2").arg(saved, linkNote(folder));
    if (!aside.isEmpty())
        line += QStringLiteral(" (o índice das cópias não pôde ser lido e foi guardado como %1; nenhuma cópia "
                               "antiga foi apagada)")
                    .arg(aside);
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
