// SPDX-License-Identifier: GPL-3.0-or-later
// Linked into the start-up benchmark's two programs (never into the real
// one): when the first main window has been painted, print the monotonic
// clock and quit, so the benchmark sees start-up end to end.
#include <QCoreApplication>
#include <QEvent>
#include <QMainWindow>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

class FirstPaint : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!done && event->type() == QEvent::Paint && qobject_cast<QMainWindow *>(watched)) {
            done = true;
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::printf("painted %lld\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }

private:
    bool done = false;
};

void installProbe()
{
    qApp->installEventFilter(new FirstPaint);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installProbe)
