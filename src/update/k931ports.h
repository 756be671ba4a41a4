// SPDX-License-Identifier: GPL-3.0-or-later
// Which serial ports are a K931 running its application: the one filter
// the window's scan and the command-line tools share.
#pragma once

#include <QList>
#include <QSerialPortInfo>
#include <QString>

namespace road {

bool isK931Port(const QSerialPortInfo &info);
// In the order the system lists them.
QList<QSerialPortInfo> k931Ports();
// Empty when no K931 is on a serial port.
QString firstK931Port();

} // namespace road
