// SPDX-License-Identifier: GPL-3.0-or-later
#include "bootloaderwait.h"

#include "firmwarecheck.h"
#include "programmer.h"
#include "usbids.h"

namespace road {

BootloaderWait::BootloaderWait(int limitMs, int pollMs, QObject *parent)
    : QObject(parent), limitMs(limitMs)
{
    poll.setInterval(pollMs);
    connect(&poll, &QTimer::timeout, this, &BootloaderWait::look);
}

void BootloaderWait::start()
{
    deadline = QDeadlineTimer(limitMs);
    lastForeign.clear();
    unreadableListings = 0;
    poll.start();
}

void BootloaderWait::look()
{
    flashing::DfuDeviceInfo *devices = nullptr;
    const int listed = flashing::getDfuDeviceList(&devices, k931::kDfuProduct, k931::kUsbVendor);
    const int k931 = firstK931Bootloader(devices, listed);
    if (k931 >= 0) {
        poll.stop();
        emit bootloaderFound(QString::fromLatin1(devices[k931].usbIndex));
        return;
    }
    const int unreadable = firstUnreadableBootloader(devices, listed);
    unreadableListings = unreadable >= 0 ? unreadableListings + 1 : 0;
    if (unreadableListings >= kUnreadableListings) {
        poll.stop();
        emit bootloaderFound(QString::fromLatin1(devices[unreadable].usbIndex));
        return;
    }
    const QString foreign = listed > 0 ? QString::fromLatin1(devices[0].usbIndex) : QString();
    if (!foreign.isEmpty() && foreign != lastForeign) {
        lastForeign = foreign;
        emit foreignBootloaderListed(foreign, QString::fromLatin1(devices[0].flashLayout));
    }
    if (deadline.hasExpired()) {
        poll.stop();
        emit waitExpired(foreign);
    }
}

} // namespace road
