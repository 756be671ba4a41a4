// SPDX-License-Identifier: GPL-3.0-or-later
// The whole "tarvik-config read" as an installer's script runs it: process
// start to exit, against a simulated K931 that answers at once on its
// pseudo-terminal. The median of a few runs, after one to warm the caches.
//
// Prints, last:
//   cli_read_ms   milliseconds, goal <= 300
#include "serialtestbed.h"
#include "simulatedk931.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRuns = 9;
constexpr int kRunLimitMs = 10000;

// Milliseconds from start to exit, -1 when the read failed.
qint64 timedRead(const QProcessEnvironment &env)
{
    QProcess program;
    program.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    program.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/tarvik-config/tarvik-config"),
                  {QStringLiteral("read")});
    // The simulated device answers from this process's event loop.
    while (program.state() != QProcess::NotRunning && clock.elapsed() < kRunLimitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 ms = clock.elapsed();
    if (program.state() != QProcess::NotRunning || program.exitCode() != 0) {
        program.kill();
        program.waitForFinished();
        std::fprintf(stderr, "tarvik-config read failed: %s\n", program.readAllStandardError().constData());
        return -1;
    }
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    if (!SerialTestbed::ensurePreloaded(argv))
        return 1;
    QCoreApplication app(argc, argv);
    SerialTestbed testbed;
    SimulatedK931 device(testbed);
    if (!device.plug()) {
        std::fprintf(stderr, "could not plug the simulated K931\n");
        return 1;
    }
    const QProcessEnvironment env = testbed.childEnvironment();
    if (timedRead(env) < 0)
        return 1;
    std::vector<qint64> times;
    for (int i = 0; i < kRuns; ++i) {
        const qint64 ms = timedRead(env);
        if (ms < 0)
            return 1;
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("cli_read_ms=%lld\n", static_cast<long long>(times[times.size() / 2]));
    return 0;
}
