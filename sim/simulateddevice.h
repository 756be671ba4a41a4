// SPDX-License-Identifier: GPL-3.0-or-later
// A whole simulated K931 as its owner meets it: the application on its USB
// serial port and, after "BOOT", the STM32's DFU bootloader on USB. Written
// firmware is kept in the chip's flash; the K931 that comes back reports the
// version text found in it ("K931 V1.6 ...", see writeSampleFirmware).
//
// Like the real F446 it starts from its flash at every power-on and has no
// way into its ROM bootloader on its own: a flash without a complete image
// (a write cut short) starts nothing, neither serial port nor bootloader. On
// a desk the USB cable is its power, so re-plugging it is a power cycle; in
// a car (externalPower) it keeps running where it was while the cable is out,
// and a bootloader comes back as a bootloader.
#pragma once

#include "firmwareimage.h"
#include "simulatedk931.h"
#include "simulatedstm32.h"
#include "usbbootloader.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class SerialTestbed;

class SimulatedDevice : public QObject {
    Q_OBJECT
public:
    struct Timing {
        int bootloaderAppearsMs = 1000; // after "BOOT": the chip resets into its ROM
        int applicationAppearsMs = 500; // after the bootloader left
        // The owner re-plugs the device this long after a write went quiet
        // ("Favor reconectar o aparelho"); 0: never.
        int replugAfterWriteMs = 2000;
    };

    SimulatedDevice(SerialTestbed &testbed, Timing timing, QObject *parent = nullptr);
    explicit SimulatedDevice(SerialTestbed &testbed, QObject *parent = nullptr);
    // The device with this number on a desk of several: its own chip (and
    // so its own USB serial number in both modes), its own serial port and
    // USB port. Number 0 is the one the other constructors make.
    SimulatedDevice(SerialTestbed &testbed, Timing timing, int index, QObject *parent = nullptr);
    ~SimulatedDevice() override;

    // Plugged in running its application, or sitting in its bootloader (as an
    // update cut short leaves it).
    bool plugInApplication();
    bool plugInBootloader();
    void unplug();
    // The owner pulls the cable and puts it back.
    void replug();
    // Power off and on: the application starts if the flash holds a
    // complete image, otherwise nothing appears.
    void powerCycle();
    // Powered by the car's 12 V, not by the USB cable.
    bool externalPower = false;
    // Whether the flash holds a whole image that the chip would start.
    bool flashHoldsCompleteImage() const;

    SimulatedK931 &application() { return *k931; }
    UsbBootloader &bootloader() { return *usb; }
    SimulatedStm32 &chip() { return *flash; }

    // The version text the firmware in flash carries, empty when none.
    QByteArray firmwareVersion() const;

    // A firmware image that carries `version` (UTF-8 text), laid out like an
    // application: vector table, its own length, the version text, and an
    // end mark in its last bytes that a write cut short never reaches.
    static flashing::FirmwareImage sampleFirmware(const QByteArray &version);
    // The same, as an Intel HEX file.
    static bool writeSampleFirmware(const QString &path, const QByteArray &version);

signals:
    void bootloaderAppeared();
    void applicationAppeared();

private:
    void watchBootloader();
    int erasesSoFar() const;
    void startFromFlash();

    Timing timing;
    std::shared_ptr<SimulatedStm32> flash;
    std::unique_ptr<SimulatedK931> k931;
    std::unique_ptr<UsbBootloader> usb;
    QTimer watch;
    int lastTransfers = 0;
    int erasesAtPlug = 0;
    int quietMs = 0;
    bool wroteSincePlug = false;
    bool firmwareWritten = false;
};
