// The progress accumulator as the display callbacks advance it and as the
// bars read it.
#include "progress.h"
#include "programmer.h"
#include "scriptedbackend.h"

#include <QProgressBar>
#include <QTimer>
#include <QtTest>

class TestProgress : public QObject {
    Q_OBJECT
private slots:
    void init() { progressAccumulator = 0.0f; }

    void logMessagesAddATenthEach()
    {
        for (int i = 0; i < 30; ++i)
            onLogMessage(flashing::kMessageInfo, u"x");
        QVERIFY(qAbs(progressAccumulator - 3.0f) < 1e-4f);
        QCOMPARE(roundedProgress(progressAccumulator), 3);
    }

    void logSumIsFormedInDouble()
    {
        // float + 0.1f and float(double + 0.1) differ after a few steps; the
        // bars have always shown the latter.
        float expected = 0.0f;
        for (int i = 0; i < 7; ++i) {
            onLogMessage(flashing::kMessageInfo, u"x");
            expected = float(double(expected) + 0.1);
        }
        QCOMPARE(progressAccumulator, expected);
    }

    void stepsAreSummedNotAbsolute()
    {
        onProgressStep(10, 100);
        onProgressStep(10, 100);
        onProgressStep(10, 100);
        QCOMPARE(progressAccumulator, 30.0f);
        onProgressStart();
        QCOMPARE(progressAccumulator, 30.0f);
    }

    void barRounding_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<int>("flashBar");
        QTest::addColumn<int>("connectionBar");
        QTest::newRow("99.5") << 99.5f << 100 << 99;
        QTest::newRow("0.49") << 0.49f << 0 << 0;
        QTest::newRow("3.0") << 3.0f << 3 << 3;
        QTest::newRow("50.5") << 50.5f << 51 << 50;
    }

    void barRounding()
    {
        QFETCH(float, value);
        QFETCH(int, flashBar);
        QFETCH(int, connectionBar);
        QCOMPARE(roundedProgress(value), flashBar);
        QCOMPARE(truncatedProgress(value), connectionBar);
    }

    void callbacksLetTimersFireDuringAWrite()
    {
        // The window's bar is refreshed by its 50 ms timer from inside the
        // library's callbacks; a write through the library must let it run.
        auto backend = std::make_unique<ScriptedBackend>();
        for (int i = 0; i < 10; ++i)
            backend->script.push_back({ScriptedBackend::Call::Step, 10});
        ScriptedBackend *raw = backend.get();
        BackendScope scope(std::move(backend));
        flashing::setDisplayCallbacks({onProgressStart, onLogMessage, onProgressStep});

        QProgressBar bar;
        int ticks = 0;
        QTimer timer;
        timer.setInterval(0);
        connect(&timer, &QTimer::timeout, [&] { bar.setValue(roundedProgress(progressAccumulator)); ++ticks; });
        timer.start();
        QTemporaryFile file;
        QVERIFY(file.open());
        QCOMPARE(flashing::downloadFile(reinterpret_cast<const char16_t *>(file.fileName().utf16()),
                                        0x08000000, 0, 1, u""), 0);
        QVERIFY(ticks > 0);
        QCOMPARE(bar.value(), 100);
        QCOMPARE(raw->writtenPaths.size(), size_t(1));
        QCOMPARE(QString::fromStdString(raw->writtenPaths[0]), file.fileName());
    }
};

QTEST_MAIN(TestProgress)
#include "tst_progress.moc"
