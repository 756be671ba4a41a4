// SPDX-License-Identifier: GPL-3.0-or-later
// A folder the program must not be able to write into, and back again.
#pragma once

#include <QFile>
#include <QString>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testfolders {

// Root writes anywhere a mode allows nothing: a read-only mount, in a mount
// namespace of this process's own, is what stops it.
inline bool makeReadOnly(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    if (geteuid() != 0)
        return ::chmod(path.constData(), 0555) == 0;
    return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
        && ::mount(path.constData(), path.constData(), nullptr, MS_BIND, nullptr) == 0
        && ::mount(nullptr, path.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

inline void makeWritable(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    if (geteuid() != 0)
        ::chmod(path.constData(), 0755);
    else
        ::umount2(path.constData(), MNT_DETACH);
}

} // namespace testfolders
