// SPDX-License-Identifier: GPL-3.0-or-later
// The progress accumulator as the display callbacks advance it and as the
// bars read it.
#include "programmer.h"
#include "progress.h"
#include "scriptedbackend.h"

#include <QProgressBar>
#include <QTimer>
#include <QtTest>

class TestProgress : public QObject {
    Q_OBJECT
private slots:
    void init() { progressAccumulator = 0.0f; }

    void callbacksLetTimersFireDuringAWrite()
    {
        // The window's bar is refreshed by its timer from inside the
        // library's callbacks; a write through the library must let it run.
        auto backend = std::make_unique<ScriptedBackend>();
        for (int i = 0; i < 10; ++i)
            backend->script.push_back({ScriptedBackend::Call::Step, 10});
        BackendScope scope(std::move(backend));
        flashing::setDisplayCallbacks({onProgressStart, onLogMessage, onProgressStep});
        QProgressBar bar;
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { bar.setValue(roundedProgress(progressAccumulator)); ++ticks; });
        timer.start(0);
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write(":0400000001020304F2\n:00000001FF\n");
        file.flush();
        QCOMPARE(flashing::downloadFile(reinterpret_cast<const char16_t *>(file.fileName().utf16()),
                                        0x08000000, 0, 1, u""), 0);
        QVERIFY(ticks > 0);
        QCOMPARE(bar.value(), 100);
    }
};

QTEST_MAIN(TestProgress)
#include "tst_progress.moc"
