// Building the main window for tests: local servers only, delays short
// enough for a suite that runs in minutes, and the process-wide state of the
// window's code back at its start values (a test executable builds several
// windows in one process).
#pragma once

#include "windowconfiguration.h"

#include <QDir>
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
