// SPDX-License-Identifier: GPL-3.0-or-later
// How long the main window takes to read out the K931's settings (nine
// query/reply round trips) against a simulated device that answers at once,
// beside the bare pseudo-terminal's own nine round trips.
//
// Prints, last:  readout_ms=  pty_roundtrips_ms=
#include "serialtestbed.h"
#include "simulatedk931.h"

#include "mainwindow.h"
#include "mainwindowstate.h"
#include "testwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRuns = 5;
constexpr int kRoundTrips = 9;

// The device side of a raw pty answering five-byte queries with seven-byte
// replies, both ends in this thread: the floor for any serial read-out here.
double ptyRoundTripsMs()
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    const int slave = ::open(ptsname(master), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    char buffer[64];
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kRoundTrips; ++i) {
        (void)::write(slave, "?VERS", 5);
        (void)::read(master, buffer, sizeof buffer);
        (void)::write(master, ">VERS1.0", 8);
        (void)::read(slave, buffer, sizeof buffer);
    }
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    ::close(slave);
    ::close(master);
    return ms;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    // The program side finds the device through umockdev's preload library.
    if (!SerialTestbed::ensurePreloaded(argv))
        return 1;
    QApplication app(argc, argv);
    SerialTestbed testbed;

    std::vector<double> readouts;
    for (int run = 0; run < kRuns; ++run) {
        resetMainWindowState();
        SimulatedK931 device(testbed);
        MainWindow window(nullptr, offlineConfiguration());
        QElapsedTimer clock;
        bool started = false;
        QObject::connect(window.findChild<QSerialPort *>(), &QSerialPort::bytesWritten, &app, [&] {
            if (!started) {
                started = true;
                clock.start();
            }
        });
        // Connected after the window's own readyRead handler, so it runs once
        // the reply has been handled.
        QObject::connect(window.findChild<QSerialPort *>(), &QSerialPort::readyRead, &app, [&] {
            if (deviceAnswered && started) {
                readouts.push_back(double(clock.nsecsElapsed()) / 1e6);
                app.quit();
            }
        });
        device.plug();
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &app, &QCoreApplication::quit);
        limit.start(10000);
        app.exec();
        device.unplug();
    }
    std::vector<double> pty;
    for (int run = 0; run < kRuns; ++run)
        pty.push_back(ptyRoundTripsMs());
    if (readouts.size() != size_t(kRuns)) {
        std::fprintf(stderr, "only %zu of %d read-outs finished\n", readouts.size(), kRuns);
        return 1;
    }
    std::printf("median of %d runs\n", kRuns);
    std::printf("readout_ms=%.2f\n", median(readouts));
    std::printf("pty_roundtrips_ms=%.3f\n", median(pty));
    return 0;
}
