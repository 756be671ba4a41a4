// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform.h"

#include <windows.h>
#include <shellapi.h>

namespace platform {

void useUtf8Console()
{
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
}

QStringList arguments(int, char **)
{
    // The wide command line: names with accents arrive whole, whatever the
    // code page.
    QStringList list;
    int count = 0;
    if (LPWSTR *words = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i)
            list << QString::fromWCharArray(words[i]);
        LocalFree(words);
    }
    return list;
}

// Windows keeps no lock files: it only refuses a second open.
QString portHolder(const QString &)
{
    return {};
}

QString busyPortAdvice(const QString &)
{
    return QStringLiteral("O Windows não diz qual programa usa a porta: feche os outros programas que podem "
                          "usá-la (por exemplo o Tarvik Connect) e tente de novo.");
}

// Windows opens a port by its name below \\.\: a name that is none fails as
// a missing port does.
QString notSerialPortReason(const QString &)
{
    return {};
}

bool standardOutputIsPipe()
{
    return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_PIPE;
}

} // namespace platform
