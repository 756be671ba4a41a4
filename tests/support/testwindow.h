// SPDX-License-Identifier: GPL-3.0-or-later
// Building the main window for tests: local servers only, delays short
// enough for a suite that runs in minutes, and the process-wide state of the
// window's code back at its start values (a test executable builds several
// windows in one process).
#pragma once

#include "windowconfiguration.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

// Probe at the server's root, description and firmware under "/fw/"; every
// delay of the window about a tenth of the program's.
MainWindowConfiguration quickConfiguration(const QUrl &root);
// The same on a local port where nothing listens.
MainWindowConfiguration offlineConfiguration();
// The program's own delays, for the few tests that check them.
MainWindowConfiguration realConfiguration(const QUrl &root);
void resetMainWindowState();

// TMPDIR pointed at a folder of the test's own for as long as this object
// lives, so that the window's private folders ("tarvik-connect-XXXXXX") can
// be looked into.
class TemporaryRoot {
public:
    TemporaryRoot() : previous(qgetenv("TMPDIR")) { qputenv("TMPDIR", QFile::encodeName(root.path())); }
    ~TemporaryRoot()
    {
        if (previous.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", previous);
    }
    TemporaryRoot(const TemporaryRoot &) = delete;
    TemporaryRoot &operator=(const TemporaryRoot &) = delete;
    QStringList privateFolders() const
    {
        return QDir(root.path()).entryList({QStringLiteral("tarvik-connect-*")}, QDir::Dirs);
    }
    // Whether one of those folders holds a file of this name.
    bool holds(const QString &name) const
    {
        for (const QString &folder : privateFolders()) {
            if (QFile::exists(QDir(root.path()).filePath(folder + QLatin1Char('/') + name)))
                return true;
        }
        return false;
    }

private:
    QTemporaryDir root;
    QByteArray previous;
};

// A fresh temporary folder as the working directory for as long as this
// object lives.
class WorkingFolder {
public:
    WorkingFolder() : previous(QDir::currentPath()) { QDir::setCurrent(folder.path()); }
    ~WorkingFolder() { QDir::setCurrent(previous); }
    WorkingFolder(const WorkingFolder &) = delete;
    WorkingFolder &operator=(const WorkingFolder &) = delete;
    QString path() const { return folder.path(); }
    QString filePath(const QString &name) const { return folder.filePath(name); }

private:
    QTemporaryDir folder;
    QString previous;
};
