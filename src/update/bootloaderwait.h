// SPDX-License-Identifier: GPL-3.0-or-later
// The wait between "BOOT" and the write: USB is listed every poll period
// until the K931's bootloader is there or the bound has passed. It runs on
// the caller's event loop, so that a window stays responsive and a command
// line can stop on Ctrl-C.
#pragma once

#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>

namespace road {

// After "BOOT" the chip resets into its ROM bootloader within a second or
// two; a device that is not listed by then never will be.
constexpr int kBootloaderWaitMs = 30000;
// Often enough that the write follows at once, rarely enough to cost nothing.
constexpr int kBootloaderPollMs = 250;
// A bootloader that could not be read is taken only after this many
// listings in a row (2 s at the usual period): udev gives access a moment
// after the device appears, Windows never without a driver.
constexpr int kUnreadableListings = 8;

class BootloaderWait : public QObject {
    Q_OBJECT
public:
    explicit BootloaderWait(int limitMs = kBootloaderWaitMs, int pollMs = kBootloaderPollMs,
                            QObject *parent = nullptr);
    // The first listing comes one poll period after the start.
    void start();

signals:
    // Also for a bootloader that stays unreadable: connecting to it says
    // why it cannot be opened.
    void bootloaderFound(const QString &usbIndex);
    // Another board's STM32 is never written with the K931's firmware; said
    // once a wait for each device.
    void foreignBootloaderListed(const QString &usbIndex, const QString &flashLayout);
    // `foreignUsbIndex` names the other chip's bootloader last listed, if any.
    void waitExpired(const QString &foreignUsbIndex);

private:
    void look();

    QTimer poll;
    QDeadlineTimer deadline;
    int limitMs;
    QString lastForeign;
    int unreadableListings = 0;
};

} // namespace road
