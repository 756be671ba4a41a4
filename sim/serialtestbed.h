// SPDX-License-Identifier: GPL-3.0-or-later
// The mocked USB and tty world of a test process (umockdev): devices added
// here are what QSerialPortInfo::availablePorts() reports. The process must
// run with libumockdev-preload.so.0 in LD_PRELOAD.
#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QSet>
#include <QString>

struct _UMockdevTestbed;

class SerialTestbed {
public:
    // The simulated ports are ttyACM<firstPort>, ttyACM<firstPort + 1>, ...:
    // serial programs lock a port by its name in a machine-wide folder, so
    // suites that use different numbers may run at the same time.
    explicit SerialTestbed(int firstPort = 0);
    ~SerialTestbed();
    int firstPort() const;
    SerialTestbed(const SerialTestbed &) = delete;
    SerialTestbed &operator=(const SerialTestbed &) = delete;

    // Whether the preload library is active: without it nothing here works.
    static bool available();
    // For programs that hold both sides: restarts this process with the
    // preload library in place unless it already is; returns only then (or
    // false when the restart failed).
    static bool ensurePreloaded(char **argv);

    QString rootDir() const;
    // The environment of a program started from here that is to see this
    // mocked world (it inherits the preload library from this process).
    QProcessEnvironment childEnvironment() const;
    // For the simulated USB devices of the same mocked world.
    _UMockdevTestbed *handle() const;
    bool addDevices(const QByteArray &description);
    void removeDevice(const QByteArray &sysPath);
    // Executes ordinary tty ioctls on the real pty behind the node and fakes
    // the modem-line ones a pty does not have. Once per node.
    void attachTtyHandler(const QString &devNode);

private:
    struct Private;
    Private *d;
};
