// SPDX-License-Identifier: GPL-3.0-or-later
// Captures what the process writes to its standard output and error (the
// download manager's console lines) while an object of this class lives.
#pragma once

#include <QByteArray>
#include <QTemporaryFile>

class StdCapture {
public:
    StdCapture();
    ~StdCapture();
    StdCapture(const StdCapture &) = delete;
    StdCapture &operator=(const StdCapture &) = delete;

    QByteArray out();
    QByteArray err();

private:
    QByteArray read(QTemporaryFile &file);
    QTemporaryFile outFile, errFile;
    int savedOut = -1, savedErr = -1;
};
