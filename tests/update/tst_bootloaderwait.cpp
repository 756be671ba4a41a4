// SPDX-License-Identifier: GPL-3.0-or-later
// The wait after "BOOT" that the window and tarvik-config share: only the
// K931's chip ends it, another board's bootloader is named once, and the
// bound ends it for good.
#include "bootloaderwait.h"

#include "scriptedbackend.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

constexpr int kPollMs = 10;
const char kOtherChipLayout[] = "@Internal Flash  /0x08000000/128*001Kg";

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

private:
    ScriptedBackend *backend = nullptr;
    std::unique_ptr<BackendScope> scope;
};

QTEST_MAIN(TestBootloaderWait)
#include "tst_bootloaderwait.moc"
