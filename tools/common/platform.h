// SPDX-License-Identifier: GPL-3.0-or-later
// What the two tools do differently on each system, one file a system
// (platform_posix.cpp, platform_windows.cpp), chosen by CMake.
#pragma once

#include <QStringList>

namespace platform {

// Standard output and error carry UTF-8: a Windows console is switched to
// it (its old code page would garble every accent).
void useUtf8Console();
// The command line's arguments as the user typed them: on Linux, bytes that
// are no UTF-8 in a file's name reach that file (carried as U+DC80..U+DCFF,
// as the flashing engine carries them); on Windows, the wide command line.
QStringList arguments(int argc, char **argv);
// Who holds a serial port that would not open, when the system can tell;
// empty otherwise.
QString portHolder(const QString &portName);
// What to do about a port that another program holds.
QString busyPortAdvice(const QString &holder);
// Why a port that would not open is no serial port at all (/dev/null, a
// regular file), with the system's reason where it gives one; empty when it
// may well be one (missing, busy, without permission).
QString notSerialPortReason(const QString &portName);
// Whether standard output is a pipe (or a socket), not a file or a console.
bool standardOutputIsPipe();

} // namespace platform
