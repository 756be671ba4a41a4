// SPDX-License-Identifier: GPL-3.0-or-later
// A write must not be hidden from the user: the main window refuses to close
// while one runs, and a termination signal ends the program only after it,
// with an exit status that tells a failed write from a good one.
#include "progress.h"
#include "termination.h"
#include "programmer.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "scriptedbackend.h"
#include "testwindow.h"

#include <QtTest>
#include <QtWidgets>

#include <csignal>

// What is written does not matter here: the scripted backend takes anything.
flashing::FirmwareImage anImage()
{
    return {{{0x08000000, {1, 2, 3, 4}}}};
}

class TestCloseDuringWrite : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        auto owned = std::make_unique<ScriptedBackend>();
        backend = owned.get();
        scope = std::make_unique<BackendScope>(std::move(owned));
        flashing::setDisplayCallbacks({onProgressStart, onLogMessage, onProgressStep});
        quitOnTerminationRequest(*QCoreApplication::instance());
    }

    void cleanupTestCase() { scope.reset(); }

    void closeIsRefusedUntilTheWriteEnds()
    {
        resetMainWindowState();
        MainWindow window(nullptr, offlineConfiguration());
        window.show();
        ModalAnswerer answerer;
        bool closedDuringWrite = true;
        backend->writeResult = flashing::kOk;
        backend->duringWrite = [&] {
            closedDuringWrite = window.close();
            QTest::qWait(100);
        };
        QCOMPARE(flashing::downloadImageWith(anImage(), 0, 1, {}).code, 0);
        QVERIFY(!closedDuringWrite);
        QVERIFY(window.isVisible());
        QVERIFY(answerer.texts().contains(QStringLiteral("Aguarde o fim da atualização")));
        QVERIFY(window.close());
    }

    // Before, SIGTERM closed every window at once (Qt 6 closes windows on
    // quit) while the write went on unseen, and the program exited 0.
    // Ctrl-C in the terminal that started it, and that terminal closed, the same.
    void terminationWaitsForTheWrite_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("writeResult");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("failed write, SIGTERM") << SIGTERM << int(flashing::kVerifyMismatch) << 1;
        QTest::newRow("good write, SIGTERM") << SIGTERM << int(flashing::kOk) << 0;
        QTest::newRow("good write, SIGINT") << SIGINT << int(flashing::kOk) << 0;
        QTest::newRow("failed write, SIGHUP") << SIGHUP << int(flashing::kVerifyMismatch) << 1;
    }

    void terminationWaitsForTheWrite()
    {
        QFETCH(int, signal);
        QFETCH(int, writeResult);
        QFETCH(int, exitCode);
        resetMainWindowState();
        MainWindow window(nullptr, offlineConfiguration());
        window.show();
        ModalAnswerer answerer;
        backend->writeResult = writeResult;
        bool visibleAfterSignal = false;
        bool writeEnded = false;
        backend->duringWrite = [&] {
            std::raise(signal);
            // Several of the request's polls, with the event loop turning as
            // the callbacks turn it.
            QTest::qWait(3 * kWriteEndPollMs);
            visibleAfterSignal = window.isVisible();
        };
        QTimer::singleShot(0, this, [&] {
            flashing::downloadImageWith(anImage(), 0, 1, {});
            writeEnded = true;
        });
        const int code = QCoreApplication::exec();
        QVERIFY(visibleAfterSignal);
        QVERIFY(writeEnded);
        QCOMPARE(code, exitCode);
    }

private:
    ScriptedBackend *backend = nullptr;
    std::unique_ptr<BackendScope> scope;
};

QTEST_MAIN(TestCloseDuringWrite)
#include "tst_closeduringwrite.moc"
