// SPDX-License-Identifier: GPL-3.0-or-later
#include "stdcapture.h"

#include <cstdio>
#include <unistd.h>

StdCapture::StdCapture()
{
    outFile.open();
    errFile.open();
    std::fflush(stdout);
    std::fflush(stderr);
    savedOut = dup(STDOUT_FILENO);
    savedErr = dup(STDERR_FILENO);
    dup2(outFile.handle(), STDOUT_FILENO);
    dup2(errFile.handle(), STDERR_FILENO);
}

StdCapture::~StdCapture()
{
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(savedOut, STDOUT_FILENO);
    dup2(savedErr, STDERR_FILENO);
    close(savedOut);
    close(savedErr);
}

QByteArray StdCapture::read(QTemporaryFile &file)
{
    std::fflush(stdout);
    std::fflush(stderr);
    QFile reader(file.fileName());
    return reader.open(QIODevice::ReadOnly) ? reader.readAll() : QByteArray();
}

QByteArray StdCapture::out()
{
    return read(outFile);
}

QByteArray StdCapture::err()
{
    return read(errFile);
}
