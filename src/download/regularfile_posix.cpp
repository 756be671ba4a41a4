// SPDX-License-Identifier: GPL-3.0-or-later
#include "regularfile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace regularfile {

// O_NONBLOCK lets open() return at once on a pipe without a writer; what
// was opened is then judged on the descriptor itself, so nothing can be
// swapped in between a look and the open.
Opened openForReading(const QString &path, QFile &file, QString &why)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        why = QString::fromLocal8Bit(std::strerror(error));
        return error == ENOENT || error == ENOTDIR ? Opened::Missing : Opened::Failed;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return Opened::NotRegular;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        why = file.errorString();
        ::close(fd);
        return Opened::Failed;
    }
    return Opened::Ok;
}

} // namespace regularfile
