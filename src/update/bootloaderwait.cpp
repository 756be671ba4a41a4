// SPDX-License-Identifier: GPL-3.0-or-later
#include "bootloaderwait.h"

#include "chipserial.h"
#include "firmwarecheck.h"
#include "programmer.h"
#include "usbids.h"

#include <QList>

namespace road {

namespace {

// Which of the listed K931 bootloaders to write, or -1 while none can be
// told to be the chip sent "BOOT".
int chosenBootloader(const flashing::DfuDeviceInfo *devices, const QList<int> &k931s, const QString &expectedSerial,
                     bool settled)
{
    QList<int> matching;
    for (int i : k931s) {
        if (k931::sameChipSerial(expectedSerial, QString::fromLatin1(devices[i].serialNumber)))
            matching << i;
    }
    if (matching.size() == 1)
        return matching.first();
    // Two chips that both could be it (a short form of the number): neither.
    if (!matching.isEmpty() || k931s.size() != 1)
        return -1;
    return expectedSerial.isEmpty() || settled ? k931s.first() : -1;
}

} // namespace

QString listedK931BootloaderSerial()
{
    flashing::DfuDeviceInfo *devices = nullptr;
    const int listed = flashing::getDfuDeviceList(&devices, k931::kDfuProduct, k931::kUsbVendor);
    QString serial;
    int k931s = 0;
    for (int i = 0; i < listed; ++i) {
        if (isK931Bootloader(devices[i]) && ++k931s == 1)
            serial = QString::fromLatin1(devices[i].serialNumber);
    }
    return k931s == 1 ? serial : QString();
}

BootloaderWait::BootloaderWait(int limitMs, int pollMs, QObject *parent)
    : QObject(parent), limitMs(limitMs)
{
    poll.setInterval(pollMs);
    connect(&poll, &QTimer::timeout, this, &BootloaderWait::look);
}

void BootloaderWait::start(const QString &chipSerial)
{
    deadline = QDeadlineTimer(limitMs);
    settled = QDeadlineTimer(settleMs);
    expectedSerial = chipSerial;
    lastForeign.clear();
    unreadableListings = 0;
    poll.start();
}

void BootloaderWait::look()
{
    flashing::DfuDeviceInfo *devices = nullptr;
    const int listed = flashing::getDfuDeviceList(&devices, k931::kDfuProduct, k931::kUsbVendor);
    QList<int> k931s;
    QString foreign;
    int foreignAt = -1;
    for (int i = 0; i < listed; ++i) {
        if (isK931Bootloader(devices[i]))
            k931s << i;
        else if (foreignAt < 0 && devices[i].flashLayout[0] != '\0')
            foreignAt = i;
    }
    const int chosen =
        chosenBootloader(devices, k931s, expectedSerial, settled.hasExpired() || deadline.hasExpired());
    if (chosen >= 0) {
        poll.stop();
        emit bootloaderFound(QString::fromLatin1(devices[chosen].usbIndex));
        return;
    }
    // One that cannot be read (no driver, no access yet) may be the K931:
    // connecting to it then says what keeps it closed.
    const int unreadable = k931s.isEmpty() ? firstUnreadableBootloader(devices, listed) : -1;
    unreadableListings = unreadable >= 0 ? unreadableListings + 1 : 0;
    if (unreadableListings >= kUnreadableListings) {
        poll.stop();
        emit bootloaderFound(QString::fromLatin1(devices[unreadable].usbIndex));
        return;
    }
    if (foreignAt >= 0) {
        foreign = QString::fromLatin1(devices[foreignAt].usbIndex);
        if (foreign != lastForeign) {
            lastForeign = foreign;
            emit foreignBootloaderListed(foreign, QString::fromLatin1(devices[foreignAt].flashLayout));
        }
    }
    if (!deadline.hasExpired())
        return;
    poll.stop();
    QString reason;
    if (!k931s.isEmpty()) {
        const QString which = expectedSerial.isEmpty()
            ? QStringLiteral("e não há como saber qual deles recebeu \"BOOT\"")
            : QStringLiteral("e nenhum pode ser reconhecido como o K931 que recebeu \"BOOT\" (número de série %1)")
                  .arg(expectedSerial);
        reason = QStringLiteral("Há %1 aparelhos em modo de atualização %2: nada foi gravado. Desconecte os outros "
                                "e tente de novo.")
                     .arg(k931s.size())
                     .arg(which);
    }
    emit waitExpired(foreign, reason);
}

} // namespace road
