// SPDX-License-Identifier: GPL-3.0-or-later
// The wait after "BOOT" that the window and tarvik-config share: only the
// K931's chip ends it, another board's bootloader is named once, and the
// bound ends it for good.
#include "bootloaderwait.h"

#include "chipserial.h"
#include "scriptedbackend.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

constexpr int kPollMs = 10;
const char kOtherChipLayout[] = "@Internal Flash  /0x08000000/128*001Kg";
// The chip sent "BOOT", and other K931s on the same desk.
const QString kSentBoot = QStringLiteral("206436955246");
const QString kAnotherK931 = QStringLiteral("2069369B5246");
const QString kAThirdK931 = QStringLiteral("3671345F3033");

std::vector<std::string> serials(const QStringList &listed)
{
    std::vector<std::string> out;
    for (const QString &serial : listed)
        out.push_back(serial.toStdString());
    return out;
}

} // namespace

class TestBootloaderWait : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        auto owned = std::make_unique<ScriptedBackend>();
        backend = owned.get();
        scope = std::make_unique<BackendScope>(std::move(owned));
    }
    void cleanup() { scope.reset(); }

    void onlyTheK931sChipEndsIt()
    {
        backend->deviceCount = 1;
        backend->flashLayout = kOtherChipLayout;
        road::BootloaderWait wait(10000, kPollMs);
        QSignalSpy found(&wait, &road::BootloaderWait::bootloaderFound);
        QSignalSpy foreign(&wait, &road::BootloaderWait::foreignBootloaderListed);
        QSignalSpy expired(&wait, &road::BootloaderWait::waitExpired);
        wait.start();
        QTRY_VERIFY(backend->listCalls >= 5);
        // Named once however often it is listed, and never taken.
        QCOMPARE(foreign.size(), 1);
        QCOMPARE(foreign[0][0].toString(), QStringLiteral("USB0"));
        QCOMPARE(foreign[0][1].toString(), QString::fromLatin1(kOtherChipLayout));
        QVERIFY(found.isEmpty());

        backend->flashLayout = ScriptedBackend().flashLayout; // now the K931's
        QTRY_COMPARE(found.size(), 1);
        QCOMPARE(found[0][0].toString(), QStringLiteral("USB0"));
        const int listings = backend->listCalls;
        QTest::qWait(5 * kPollMs);
        QCOMPARE(backend->listCalls, listings); // the poll ended with it
        QVERIFY(expired.isEmpty());
    }

    void theBoundEndsItOnce_data()
    {
        QTest::addColumn<int>("devices");
        QTest::addColumn<QString>("named");
        QTest::newRow("nothing listed") << 0 << QString();
        QTest::newRow("only another chip") << 1 << QStringLiteral("USB0");
    }

    void theBoundEndsItOnce()
    {
        QFETCH(int, devices);
        QFETCH(QString, named);
        backend->deviceCount = devices;
        backend->flashLayout = kOtherChipLayout;
        road::BootloaderWait wait(100, kPollMs);
        QSignalSpy found(&wait, &road::BootloaderWait::bootloaderFound);
        QSignalSpy expired(&wait, &road::BootloaderWait::waitExpired);
        wait.start();
        QTRY_COMPARE(expired.size(), 1);
        QCOMPARE(expired[0][0].toString(), named);
        QCOMPARE(expired[0][1].toString(), QString());
        const int listings = backend->listCalls;
        QTest::qWait(5 * kPollMs);
        QCOMPARE(backend->listCalls, listings);
        QCOMPARE(expired.size(), 1);
        QVERIFY(found.isEmpty());
    }

    // A bootloader whose strings cannot be read (no udev rule, no WinUSB
    // driver) may be the K931's: taken after a few listings, so that
    // connecting says why it cannot be opened. Readable in time, it is
    // judged by its memory like any other.
    void anUnreadableBootloaderIsTakenOnlyAfterAFewListings_data()
    {
        QTest::addColumn<QString>("readableAs");
        QTest::addColumn<bool>("taken");
        QTest::newRow("stays unreadable") << QString() << true;
        QTest::newRow("readable in time: another chip") << QString::fromLatin1(kOtherChipLayout) << false;
        QTest::newRow("readable in time: the K931's") << QString::fromStdString(ScriptedBackend().flashLayout) << true;
    }

    void anUnreadableBootloaderIsTakenOnlyAfterAFewListings()
    {
        QFETCH(QString, readableAs);
        QFETCH(bool, taken);
        backend->deviceCount = 1;
        backend->flashLayout.clear();
        // Slow enough polls that the test sees the listings one by one.
        constexpr int pollMs = 80;
        road::BootloaderWait wait(10000, pollMs);
        QSignalSpy found(&wait, &road::BootloaderWait::bootloaderFound);
        wait.start();
        QTRY_VERIFY_WITH_TIMEOUT(backend->listCalls >= road::kUnreadableListings / 2, 5000);
        QVERIFY(found.isEmpty());
        if (!readableAs.isEmpty())
            backend->flashLayout = readableAs.toStdString();
        QTest::qWait(2 * road::kUnreadableListings * pollMs);
        QCOMPARE(found.size(), taken ? 1 : 0);
        if (taken)
            QCOMPARE(found[0][0].toString(), QStringLiteral("USB0"));
    }

    void theSerialNamesTheChip_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");
        QTest::newRow("the same digits") << kSentBoot << kSentBoot << true;
        QTest::newRow("in lower case") << kSentBoot << kSentBoot.toLower() << true;
        const QString padded = QStringLiteral("00A4369500C1");
        QTest::newRow("printed without leading zeros") << padded << QStringLiteral("a43695c1") << true;
        QTest::newRow("zeros that are no padding") << padded << QStringLiteral("A4369500C1") << false;
        QTest::newRow("another chip") << kSentBoot << kAnotherK931 << false;
        QTest::newRow("one digit short") << kSentBoot << QStringLiteral("20643695524") << false;
        QTest::newRow("two short forms") << QStringLiteral("A43695C1") << QStringLiteral("A4369C1") << false;
        QTest::newRow("none") << QString() << QString() << false;
        QTest::newRow("against none") << kSentBoot << QString() << false;
    }

    void theSerialNamesTheChip()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, same);
        QCOMPARE(k931::sameChipSerial(a, b), same);
        QCOMPARE(k931::sameChipSerial(b, a), same);
    }

    // Two K931 bootloaders at once: the one of the chip sent "BOOT" is
    // written, wherever it is listed and in whichever form its application
    // printed the number.
    void theChipSentBootIsTaken_data()
    {
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("sentBoot");
        QTest::addColumn<QString>("taken");
        QTest::newRow("listed second") << QStringList{kAnotherK931, kSentBoot} << kSentBoot << QStringLiteral("USB1");
        QTest::newRow("listed first") << QStringList{kSentBoot, kAnotherK931} << kSentBoot << QStringLiteral("USB0");
        QTest::newRow("its short form") << QStringList{kAnotherK931, QStringLiteral("00A4369500C1"), kAThirdK931}
                                        << QStringLiteral("A43695C1") << QStringLiteral("USB1");
    }

    void theChipSentBootIsTaken()
    {
        QFETCH(QStringList, listed);
        QFETCH(QString, sentBoot);
        QFETCH(QString, taken);
        backend->deviceCount = int(listed.size());
        backend->serials = serials(listed);
        road::BootloaderWait wait(10000, kPollMs);
        QSignalSpy found(&wait, &road::BootloaderWait::bootloaderFound);
        wait.start(sentBoot);
        QTRY_COMPARE(found.size(), 1);
        QCOMPARE(found[0][0].toString(), taken);
    }

    // The fault this guards against: another K931 left in its bootloader is
    // listed from the start, the one sent "BOOT" comes up a second later.
    // The first must never be taken meanwhile.
    void aChipStillComingUpIsWaitedFor()
    {
        backend->deviceCount = 1;
        backend->serials = serials({kAnotherK931, kSentBoot});
        road::BootloaderWait wait(10000, kPollMs);
        QSignalSpy found(&wait, &road::BootloaderWait::bootloaderFound);
        QSignalSpy expired(&wait, &road::BootloaderWait::waitExpired);
        wait.start(kSentBoot);
        QTRY_VERIFY(backend->listCalls >= 5);
        QVERIFY(found.isEmpty());

        backend->deviceCount = 2;
        QTRY_COMPARE(found.size(), 1);
        QCOMPARE(found[0][0].toString(), QStringLiteral("USB1"));
        QVERIFY(expired.isEmpty());
    }

    // Only one K931 bootloader: it is written as before, at once when
    // nothing tells what to look for, and once the chip sent "BOOT" has had
    // its time to come up when its number is not this one's (firmware that
    // reports it in another form).
    void aSingleBootloaderIsTakenAsBefore_data()
    {
        QTest::addColumn<QString>("sentBoot");
        QTest::newRow("no serial to match") << QString();
        QTest::newRow("another serial") << kAnotherK931;
        QTest::newRow("a serial in another form") << QStringLiteral("K931-0042");
    }

    void aSingleBootloaderIsTakenAsBefore()
    {
        QFETCH(QString, sentBoot);
        backend->deviceCount = 1;
        backend->serials = serials({kSentBoot});
        road::BootloaderWait wait(10000, kPollMs);
        wait.setSettleMs(3 * kPollMs);
        QSignalSpy found(&wait, &road::BootloaderWait::bootloaderFound);
        wait.start(sentBoot);
        QTRY_COMPARE(found.size(), 1);
        QCOMPARE(found[0][0].toString(), QStringLiteral("USB0"));
    }

    // Several K931 bootloaders and none known to be the one sent "BOOT":
    // the bound ends the wait with the reason, and none is taken.
    void severalWithoutTheChipStopWithTheReason_data()
    {
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("sentBoot");
        QTest::newRow("neither is it") << QStringList{kAnotherK931, kAThirdK931} << kSentBoot;
        QTest::newRow("no serial to match") << QStringList{kAnotherK931, kSentBoot} << QString();
        // Each prints as A43695C1 without its leading zeros.
        QTest::newRow("both could be it") << QStringList{QStringLiteral("00A4369500C1"), QStringLiteral("000A436905C1")}
                                          << QStringLiteral("A43695C1");
    }

    void severalWithoutTheChipStopWithTheReason()
    {
        QFETCH(QStringList, listed);
        QFETCH(QString, sentBoot);
        backend->deviceCount = int(listed.size());
        backend->serials = serials(listed);
        road::BootloaderWait wait(100, kPollMs);
        wait.setSettleMs(0);
        QSignalSpy found(&wait, &road::BootloaderWait::bootloaderFound);
        QSignalSpy expired(&wait, &road::BootloaderWait::waitExpired);
        wait.start(sentBoot);
        QTRY_COMPARE(expired.size(), 1);
        QVERIFY(found.isEmpty());
        const QString reason = expired[0][1].toString();
        QVERIFY2(reason.startsWith(QStringLiteral("Há 2 aparelhos em modo de atualização")), qPrintable(reason));
        QVERIFY2(reason.endsWith(QStringLiteral("nada foi gravado. Desconecte os outros e tente de novo.")),
                 qPrintable(reason));
        QVERIFY2(reason.contains(sentBoot), qPrintable(reason));
        QCOMPARE(expired[0][0].toString(), QString()); // both are K931s
    }

private:
    ScriptedBackend *backend = nullptr;
    std::unique_ptr<BackendScope> scope;
};

QTEST_MAIN(TestBootloaderWait)
#include "tst_bootloaderwait.moc"
