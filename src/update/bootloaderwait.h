// SPDX-License-Identifier: GPL-3.0-or-later
// The wait between "BOOT" and the write: USB is listed every poll period
// until the K931's bootloader is there or the bound has passed. It runs on
// the caller's event loop, so that a window stays responsive and a command
// line can stop on Ctrl-C.
//
// With more than one K931 on the desk, the bootloader taken is the one whose
// USB serial number is the chip's that was sent "BOOT": another one left in
// its bootloader is never written in its place, whatever came up first.
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
// How long a single bootloader with another serial number is left alone,
// since it may be another K931 sitting there while the one sent "BOOT" is
// still coming up: beyond it, the one listed is taken as before (firmware
// that reports its serial number in another form, or none).
constexpr int kBootloaderSettleMs = 3000;
// A bootloader that could not be read is taken only after this many
// listings in a row (2 s at the usual period): udev gives access a moment
// after the device appears, Windows never without a driver.
constexpr int kUnreadableListings = 8;

// The USB serial number of the K931 bootloader listed now, when there is
// exactly one; empty when none, several, or it gives none.
QString listedK931BootloaderSerial();

class BootloaderWait : public QObject {
    Q_OBJECT
public:
    explicit BootloaderWait(int limitMs = kBootloaderWaitMs, int pollMs = kBootloaderPollMs,
                            QObject *parent = nullptr);
    // The first listing comes one poll period after the start.
    // `chipSerial`: the USB serial number of the K931 port "BOOT" went to;
    // empty when unknown (a device found in its bootloader, a port without
    // one).
    void start(const QString &chipSerial = QString());
    void setSettleMs(int ms) { settleMs = ms; }

signals:
    // Also for a bootloader that stays unreadable: connecting to it says
    // why it cannot be opened.
    void bootloaderFound(const QString &usbIndex);
    // Another board's STM32 is never written with the K931's firmware; said
    // once a wait for each device.
    void foreignBootloaderListed(const QString &usbIndex, const QString &flashLayout);
    // `foreignUsbIndex` names the other chip's bootloader last listed, if
    // any. `reason` is set when K931 bootloaders were there but none could
    // be told to be the one sent "BOOT": nothing was taken, and it says so
    // and what to do, in Portuguese.
    void waitExpired(const QString &foreignUsbIndex, const QString &reason);

private:
    void look();

    QTimer poll;
    QDeadlineTimer deadline;
    QDeadlineTimer settled;
    int limitMs;
    int settleMs = kBootloaderSettleMs;
    QString expectedSerial;
    QString lastForeign;
    int unreadableListings = 0;
};

} // namespace road
