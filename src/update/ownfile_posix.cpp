// SPDX-License-Identifier: GPL-3.0-or-later
#include "ownfile.h"

#include "textcodec.h"

#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace road {

namespace {

constexpr qsizetype kProbeBytes = 64;

// The engine's conversion, so that a name that is no UTF-8 (carried as
// U+DC80..U+DCFF) reaches its own bytes.
QByteArray native(const QString &path)
{
    return QByteArray::fromStdString(flashing::utf16ToUtf8(reinterpret_cast<const char16_t *>(path.utf16())));
}

QString reasonFor(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT: return QStringLiteral("disco cheio");
    case EACCES:
    case EPERM: return QStringLiteral("sem permissão");
    case EROFS: return QStringLiteral("disco somente leitura");
    case ENOENT: return QStringLiteral("não existe");
    case ENOTDIR: return QStringLiteral("um nome no caminho não é uma pasta");
    case ELOOP: return QStringLiteral("é um link simbólico");
    case EISDIR: return QStringLiteral("é uma pasta");
    case EIO: return QStringLiteral("erro de leitura ou gravação no disco");
    case ENAMETOOLONG: return QStringLiteral("nome longo demais");
    default: return QStringLiteral("erro do sistema %1").arg(error);
    }
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Writes `bytes` into `fd`, open at the fresh name `part`, flushes them to
// the disk and renames `part` over `target`; `part` goes on any failure.
bool commit(int fd, const QByteArray &part, const QByteArray &target, const QByteArray &bytes, QString &why)
{
    bool ok = writeAll(fd, bytes) && fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(part.constData(), target.constData()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(part.constData());
        why = reasonFor(error);
    }
    return ok;
}

// The name a chain of links at `path` ends on: `path` itself when it is no
// link. A relative link is read from its own folder.
std::optional<QByteArray> followLinks(QByteArray path, int &error)
{
    for (int hops = 0; hops < 40; ++hops) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.constData(), target, sizeof target);
        if (n < 0)
            return path;
        if (size_t(n) == sizeof target) {
            error = ENAMETOOLONG;
            return std::nullopt;
        }
        const QByteArray next(target, qsizetype(n));
        const qsizetype slash = path.lastIndexOf('/');
        path = next.startsWith('/') || slash < 0 ? next : path.left(slash + 1) + next;
    }
    error = ELOOP;
    return std::nullopt;
}

// A new file beside `target`, made exclusively with `mode` less the umask
// (mkstemp would give 0600 whatever the owner asked for).
int createBeside(const QByteArray &target, mode_t mode, QByteArray &part)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        part = target + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        const int fd = ::open(part.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

} // namespace

std::optional<QByteArray> readOwnFile(const QString &path, qint64 maxBytes, QString &why)
{
    // O_NONBLOCK: a pipe put at the name must not hold the program.
    const int fd = ::open(native(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = reasonFor(errno);
        return std::nullopt;
    }
    struct stat info {};
    std::optional<QByteArray> bytes;
    if (fstat(fd, &info) != 0)
        why = reasonFor(errno);
    else if (!S_ISREG(info.st_mode))
        why = QStringLiteral("não é um arquivo comum");
    else if (info.st_size > maxBytes)
        why = QStringLiteral("grande demais");
    else {
        QByteArray data(qsizetype(info.st_size), '\0');
        qint64 done = 0;
        for (;;) {
            const ssize_t n = ::read(fd, data.data() + done, size_t(data.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                why = reasonFor(errno);
                break;
            }
            done += n;
            if (n == 0 || done == data.size()) {
                data.truncate(qsizetype(done));
                bytes = data;
                break;
            }
        }
    }
    ::close(fd);
    return bytes;
}

bool writeOwnFile(const QString &path, const QByteArray &bytes, QString &why)
{
    QByteArray part = native(path) + ".XXXXXX";
    // mkstemp creates the name exclusively: nothing that stood there, link
    // or pipe, is opened.
    const int fd = mkstemp(part.data());
    if (fd < 0) {
        why = reasonFor(errno);
        return false;
    }
    fchmod(fd, 0644);
    return commit(fd, part, native(path), bytes, why);
}

bool writeOwnersFile(const QString &path, const QByteArray &bytes, QString &why)
{
    int error = 0;
    const std::optional<QByteArray> target = followLinks(native(path), error);
    if (!target) {
        why = reasonFor(error);
        return false;
    }
    QByteArray part;
    const int fd = createBeside(*target, 0666, part);
    if (fd < 0) {
        why = reasonFor(errno);
        return false;
    }
    struct stat existing {};
    if (::stat(target->constData(), &existing) == 0 && S_ISREG(existing.st_mode))
        fchmod(fd, existing.st_mode & 0777);
    return commit(fd, part, *target, bytes, why);
}

bool renameOwnFile(const QString &from, const QString &to, QString &why)
{
    struct stat info {};
    const QByteArray target = native(to);
    if (lstat(target.constData(), &info) == 0) {
        why = QStringLiteral("%1 já existe").arg(to);
        return false;
    }
    if (::rename(native(from).constData(), target.constData()) != 0) {
        why = reasonFor(errno);
        return false;
    }
    return true;
}

// A file of no bytes takes no block: a full disk still makes one. The probe
// writes a lock file's worth and flushes it, which a full disk refuses.
bool canWriteIn(const QString &folder, QString &why)
{
    QByteArray probe = native(folder) + "/.tarvik-XXXXXX";
    const int fd = mkstemp(probe.data());
    if (fd < 0) {
        why = reasonFor(errno);
        return false;
    }
    const bool written = writeAll(fd, QByteArray(kProbeBytes, '\n')) && fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    ::unlink(probe.constData());
    if (!written)
        why = reasonFor(error);
    return written;
}

bool removeOwnFile(const QString &path)
{
    struct stat info {};
    const QByteArray name = native(path);
    return lstat(name.constData(), &info) == 0 && S_ISREG(info.st_mode) && ::unlink(name.constData()) == 0;
}

bool isLink(const QString &path)
{
    struct stat info {};
    return lstat(native(path).constData(), &info) == 0 && S_ISLNK(info.st_mode);
}

QString lastFileError()
{
    return reasonFor(errno);
}

} // namespace road
