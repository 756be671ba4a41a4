// Building the main window for tests: local endpoints only, and the
// process-wide state of the window's code back at its start values (a test
// executable builds several windows in one process).
#pragma once

#include "mainwindow/endpoints.h"

#include <QString>
#include <QTemporaryDir>
#include <QUrl>

// Probe at the server's root, description and firmware under "/fw/".
Endpoints serverEndpoints(const QUrl &root);
// The same layout on a local port where nothing listens.
Endpoints offlineEndpoints();
void resetMainWindowState();

// A fresh temporary folder as the working directory (where the program
// downloads to) for as long as this object lives.
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
