// SPDX-License-Identifier: GPL-3.0-or-later
// Which serial ports are a K931 running its application: the one filter
// the window's scan and the command-line tools share.
#pragma once

#include <QList>
#include <QSerialPortInfo>
#include <QString>

namespace road {

bool isK931Port(const QSerialPortInfo &info);
// In the order the system lists them; with `serial`, only the K931 whose
// USB serial number names that chip (the one an update sent "BOOT").
QList<QSerialPortInfo> k931Ports(const QString &serial = QString());
// Empty when no such K931 is on a serial port.
QString firstK931Port(const QString &serial = QString());

} // namespace road
