// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform.h"

#include "textcodec.h"

#include <QFile>
#include <QLockFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

void useUtf8Console()
{
}

QStringList arguments(int argc, char **argv)
{
    QStringList list;
    for (int i = 1; i < argc; ++i) {
        const std::u16string text = flashing::utf8ToUtf16(argv[i]);
        list << QString::fromUtf16(text.data(), qsizetype(text.size()));
    }
    return list;
}

// Serial programs (Qt's among them) leave a UUCP-style lock file naming
// themselves: the user learns which program to close.
QString portHolder(const QString &portName)
{
    for (const char *dir : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp", "/var/tmp",
                            "/var/lock/lockdev", "/run/lock"}) {
        qint64 pid = 0;
        QString host;
        QString application;
        QLockFile lock(QString::fromLatin1(dir) + QStringLiteral("/LCK..") + portName);
        if (lock.getLockInfo(&pid, &host, &application) && pid > 0)
            return QStringLiteral("%1 (PID %2)").arg(application.isEmpty() ? QStringLiteral("?") : application).arg(pid);
    }
    return {};
}

QString busyPortAdvice(const QString &holder)
{
    return holder.isEmpty() ? QStringLiteral("Feche o outro programa que usa a porta (por exemplo o Tarvik Connect) "
                                             "ou instale as regras udev do README.")
                            : QStringLiteral("A porta está em uso por %1: feche esse programa.").arg(holder);
}

// Opened only after Qt's open failed, to hear the terminal layer's answer.
QString notSerialPortReason(const QString &portName)
{
    const QString path = portName.startsWith(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::stat(name.constData(), &info) != 0)
        return {};
    if (S_ISREG(info.st_mode))
        return QStringLiteral("é um arquivo comum");
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("é uma pasta");
    if (!S_ISCHR(info.st_mode))
        return QStringLiteral("não é um dispositivo de caracteres");
    const int fd = ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    termios attributes {};
    const bool terminal = ::tcgetattr(fd, &attributes) == 0;
    const int error = errno;
    ::close(fd);
    return terminal ? QString() : QString::fromLocal8Bit(std::strerror(error));
}

bool standardOutputIsPipe()
{
    struct stat info {};
    return ::fstat(STDOUT_FILENO, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
}

} // namespace platform
