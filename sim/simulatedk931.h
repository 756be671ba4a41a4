// SPDX-License-Identifier: GPL-3.0-or-later
// A simulated K931 on a pseudo-terminal, announced through umockdev as the
// USB serial port 0483:5740, so that the program finds it through the real
// QSerialPortInfo/QSerialPort path. It answers the settings queries from a
// table, records what it receives, and can misbehave on request.
#pragma once

#include "usbids.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QLockFile>
#include <QHash>
#include <QList>
#include <QSet>
#include <QObject>
#include <QSocketNotifier>

#include <memory>

class SerialTestbed;

class SimulatedK931 : public QObject {
    Q_OBJECT
public:
    struct Identity {
        int index = 0;           // the testbed's port number + index, USB port 1-<index + 1>
        quint16 vendorId = k931::kUsbVendor;
        quint16 productId = k931::kSerialProduct;
    };

    // How the device answers one query.
    enum class Behaviour {
        Answer,
        Silent,        // no answer at all
        Split,         // the reply in two chunks, 5 bytes then the rest
        JoinWithNext,  // this reply and the next one in a single chunk
        TrailingCR,    // the reply followed by "\r"
        Echo,          // the query sent back instead of a reply
        Garbage,       // bytes that are no reply
    };

    struct Message {
        QByteArray bytes;
        qint64 atMs = 0; // since the device was plugged in
    };

    explicit SimulatedK931(SerialTestbed &testbed, QObject *parent = nullptr);
    SimulatedK931(SerialTestbed &testbed, Identity identity, QObject *parent = nullptr);
    ~SimulatedK931() override;

    bool plug();
    // Plugged on a plain pseudo-terminal that no udev listing shows, for a
    // program that opens it by name (Wine maps a COM port to it).
    bool plugOnPseudoTerminal()
    {
        onTestbed = false;
        return plug();
    }
    // The pseudo-terminal the program opens, while plugged.
    QString pseudoTerminal() const { return ttyPath; }
    // Removes the device and hangs up its tty, as pulling the cable does.
    void unplug();
    bool isPlugged() const { return master >= 0; }
    QString portName() const;

    // Values as the device would report them, by mnemonic ("VERS", "RPML", ...).
    QHash<QByteArray, QByteArray> values;
    void setBehaviour(const QByteArray &mnemonic, Behaviour behaviour) { behaviours[mnemonic] = behaviour; }
    void clearBehaviours() { behaviours.clear(); }
    // Drops off the port when it receives "BOOT", as the real device does.
    bool leaveOnBoot = true;
    // The USB serial number its port carries: by default the one the
    // vendor's USB stack makes of the chip's unique ID, as its bootloader
    // reports it too (ChipId::usbSerial of the device with its index). Set
    // it for firmware that reports another form; empty: none, as some
    // USB-serial clones. Read at the next plug.
    QByteArray serialNumber;
    // Every setting back to what a freshly written firmware starts with.
    void restoreDefaultSettings();
    // Set commands for these mnemonics are taken and dropped, as by a
    // firmware that does not store that setting.
    QSet<QByteArray> ignoredSettings;

    // Another program holding the port: the program's open then fails.
    void holdPortExclusively(bool exclusive);
    // Bytes the device sends on its own, as one chunk.
    void send(const QByteArray &bytes);

    QList<Message> received;
    QList<QByteArray> receivedBytes() const;
    qint64 elapsedMs() const { return sincePlug.elapsed(); }

signals:
    void messageReceived(const QByteArray &bytes);
    void bootReceived();

private:
    void readFromProgram();
    void handle(const QByteArray &message);
    void answerQuery(const QByteArray &mnemonic);
    void applySetCommand(const QByteArray &message);
    QByteArray description() const;
    QByteArray ttySysPath() const;

    SerialTestbed &testbed;
    Identity identity;
    bool onTestbed = true;
    QString ttyPath;
    int master = -1;
    int slave = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    QByteArray buffer;
    QHash<QByteArray, Behaviour> behaviours;
    QElapsedTimer sincePlug;
    std::unique_ptr<QLockFile> portLock;
};
