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
        QCOMPARE(flashing::downloadFile(u"/nonexistent.hex", 0x08000000, 0, 1, u""), 0);
        QVERIFY(!closedDuringWrite);
        QVERIFY(window.isVisible());
        QVERIFY(answerer.texts().contains(QStringLiteral("Aguarde o fim da atualização")));
        QVERIFY(window.close());
    }

    // Before, SIGTERM closed every window at once (Qt 6 closes windows on
    // quit) while the write went on unseen, and the program exited 0.
    void terminationWaitsForTheWrite_data()
    {
        QTest::addColumn<int>("writeResult");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("failed write") << int(flashing::kVerifyMismatch) << 1;
        QTest::newRow("good write") << int(flashing::kOk) << 0;
    }

    void terminationWaitsForTheWrite()
    {
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
            std::raise(SIGTERM);
            // Several of the request's polls, with the event loop turning as
            // the callbacks turn it.
            QTest::qWait(3 * kWriteEndPollMs);
            visibleAfterSignal = window.isVisible();
        };
        QTimer::singleShot(0, this, [&] {
            flashing::downloadFile(u"/nonexistent.hex", 0x08000000, 0, 1, u"");
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
