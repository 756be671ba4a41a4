// SPDX-License-Identifier: GPL-3.0-or-later
// How responsive the main window stays while it writes firmware: the longest
// gap between two turns of its event loop during the upgrade's write, with
// the simulated STM32F446 working in real time (a 128 KiB sector takes a
// second to erase).
//
// Prints, last:  upgrade_max_event_gap_ms=
#include "progress.h"
#include "enginebackend.h"
#include "programmer.h"
#include "mainwindow.h"
#include "mainwindowstate.h"
#include "hexfile.h"
#include "modalanswerer.h"
#include "simulatedstm32.h"
#include "testwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    resetMainWindowState();
    flashing::setDisplayCallbacks({onProgressStart, onLogMessage, onProgressStep});

    SimulatedBus bus;
    bus.plugChip(SimulatedStm32::Clock::RealTime);
    flashing::DfuDeviceInfo *list = nullptr;
    flashing::getDfuDeviceList(&list, k931::kDfuProduct, k931::kUsbVendor);
    flashing::connectDfuBootloader(list[0].usbIndex);

    // 160 KiB: the four 16 KiB sectors, the 64 KiB one and a 128 KiB one.
    QTemporaryDir dir;
    flashing::FirmwareImage image;
    image.segments.push_back({k931::kFlashStart, randomBytes(160 * 1024, 3)});
    QFile file(dir.filePath(QStringLiteral("K931_OBD.hex")));
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray::fromStdString(toIntelHex(image)));
    file.close();
    firmwareFilePath = file.fileName();

    MainWindow window(nullptr, offlineConfiguration());
    window.show();
    ModalAnswerer answerer;

    QElapsedTimer sinceLastTurn;
    double maxGapMs = 0;
    long turns = 0;
    QTimer everyTurn;
    QObject::connect(&everyTurn, &QTimer::timeout, [&] {
        if (turns++ > 0)
            maxGapMs = std::max(maxGapMs, double(sinceLastTurn.nsecsElapsed()) / 1e6);
        sinceLastTurn.start();
    });
    QElapsedTimer total;
    QTimer::singleShot(0, &window, [&] {
        everyTurn.start(0);
        total.start();
        QMetaObject::invokeMethod(&window, "DoUpgrade");
        everyTurn.stop();
        app.quit();
    });
    app.exec();

    const bool ok = !answerer.boxes.isEmpty() && answerer.boxes.last().title == QLatin1String("Aviso");
    std::printf("write of 160 KiB: %s, %.0f ms, %ld event-loop turns\n", ok ? "success" : "FAILED",
                double(total.elapsed()), turns);
    std::printf("upgrade_max_event_gap_ms=%.1f\n", maxGapMs);
    return ok ? 0 : 1;
}
