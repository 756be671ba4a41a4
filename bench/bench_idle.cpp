// SPDX-License-Identifier: GPL-3.0-or-later
// What the program costs while it sits idle next to a device waiting in its
// bootloader: the real tarvik-connect, started against the simulated K931 in
// its bootloader on emulated USB, its CPU time read from /proc/<pid>/stat
// over 30 s once it has settled. The window lists DFU devices once a second
// then, and libusb must not be left spinning on the device's node.
//
// Prints, last:
//   idle_cpu_percent_dfu_plugged   percent of one core, goal < 2
#include "serialtestbed.h"
#include "simulateddevice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <unistd.h>

#include <cstdio>

namespace {

constexpr int kSettleMs = 5000;
constexpr int kMeasureMs = 30000;

// utime + stime of a process, in clock ticks.
long long cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Fields after the command name, which may hold spaces, in parentheses.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : -1;
}

void runEventsFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

} // namespace

int main(int argc, char **argv)
{
    if (!SerialTestbed::ensurePreloaded(argv))
        return 1;
    QCoreApplication app(argc, argv);
    SerialTestbed testbed;
    SimulatedDevice device(testbed);
    if (!device.plugInBootloader()) {
        std::fprintf(stderr, "could not plug the simulated bootloader\n");
        return 1;
    }
    QProcess program;
    QProcessEnvironment env = testbed.childEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../src/tarvik-connect"), {});
    if (!program.waitForStarted()) {
        std::fprintf(stderr, "could not start tarvik-connect\n");
        return 1;
    }
    runEventsFor(kSettleMs);
    const long long before = cpuTicks(program.processId());
    runEventsFor(kMeasureMs);
    const long long after = cpuTicks(program.processId());
    program.kill();
    program.waitForFinished();
    if (before < 0 || after < 0) {
        std::fprintf(stderr, "tarvik-connect did not stay up\n");
        return 1;
    }
    const double seconds = double(after - before) / double(sysconf(_SC_CLK_TCK));
    std::printf("idle_cpu_percent_dfu_plugged=%.2f\n", 100.0 * seconds / (kMeasureMs / 1000.0));
    return 0;
}
