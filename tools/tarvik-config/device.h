// SPDX-License-Identifier: GPL-3.0-or-later
// One K931 on its serial port as the command line talks to it: the query
// chain read in one go, and values written with the window's pacing and then
// read back.
#pragma once

#include "protocol.h"
#include "settings.h"
#include "settingslink.h"

#include <QList>
#include <QPair>
#include <QSerialPort>
#include <QString>

#include <optional>

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitNoDevice = 3 };

using Values = QList<QPair<const settings::Key *, quint32>>;

// Messages for the person at the terminal go to standard error.
void say(const QString &text);

class Device {
public:
    // An empty name takes the first K931 port.
    int open(QString name);
    void close() { port.close(); }
    // The USB serial number of the open port, empty when it has none.
    QString serialNumber() const;
    std::optional<QString> query(const settings::Key &key);
    bool send(const QByteArray &bytes);
    QSerialPort &serialPort() { return port; }
    // Replies as the command line tells them apart, within its time limit.
    static road::Framing framing();

private:
    QSerialPort port;
};

struct Readout {
    QString version;
    bool lambda = false; // mixture thresholds in λ, otherwise in mV
    Values values;
};

int readAll(Device &device, Readout &out);
int openAndRead(const QString &port, Device &device, Readout &out);
// The settings file, written whole or not at all; says where it went. A
// name that exists and is no regular file (a device node) is refused.
bool saveSettingsFile(const Readout &readout, const QString &path);
// A settings file's contents: a regular file of at most
// settings::kMaxFileBytes, else the reason in Portuguese in `error`.
settings::FileContents readSettingsFile(const QString &path);
// What of the file's settings can go into the device that gave `readout`:
// nothing, with the reason said, when none can (another unit); else says
// which settings stay out (no place for them) or stay as they are.
std::optional<Values> importableValues(const settings::FileContents &contents, const QString &path,
                                       const Readout &readout);
// The window's pacing, then the whole chain read back: the device must hold
// exactly the 32-bit word that was sent.
int writeAndCheck(Device &device, const QString &version, const Values &requested);
