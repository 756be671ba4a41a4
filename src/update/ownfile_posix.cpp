// SPDX-License-Identifier: GPL-3.0-or-later
#include "ownfile.h"

#include "textcodec.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace road {

namespace {

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
    bool ok = writeAll(fd, bytes) && fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(part.constData(), native(path).constData()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(part.constData());
        why = reasonFor(error);
    }
    return ok;
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
