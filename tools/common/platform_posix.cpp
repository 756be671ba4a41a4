// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform.h"

#include "textcodec.h"

#include <QLockFile>

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

} // namespace platform
