// SPDX-License-Identifier: GPL-3.0-or-later
#include "k931ports.h"

#include "chipserial.h"
#include "usbids.h"

namespace road {

bool isK931Port(const QSerialPortInfo &info)
{
    return info.hasVendorIdentifier() && info.vendorIdentifier() == k931::kUsbVendor && info.hasProductIdentifier()
        && info.productIdentifier() == k931::kSerialProduct;
}

QList<QSerialPortInfo> k931Ports(const QString &serial)
{
    QList<QSerialPortInfo> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        if (isK931Port(info) && (serial.isEmpty() || k931::sameChipSerial(serial, info.serialNumber())))
            ports << info;
    }
    return ports;
}

QString firstK931Port(const QString &serial)
{
    const QList<QSerialPortInfo> ports = k931Ports(serial);
    return ports.isEmpty() ? QString() : ports.first().portName();
}

} // namespace road
