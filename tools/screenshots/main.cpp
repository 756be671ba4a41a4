// SPDX-License-Identifier: GPL-3.0-or-later
// A developer's tool, not shipped: renders the program's windows into PNG
// files for the documentation: the main window without a device and
// connected to a simulated K931, the About window and the manual flash
// window, empty and after a write into the simulated bootloader.
// Usage: tarvik-screenshots OUTPUT_DIR   (scripts/screenshots runs it under Xvfb)
#include "usbids.h"
#include "defaultbackend.h"
#include "aboutwindow.h"
#include "flashwindow.h"
#include "localhttpserver.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "programmer.h"
#include "progress.h"
#include "serialtestbed.h"
#include "simulateddevice.h"
#include "simulatedk931.h"
#include "testwindow.h"
#include "windowparts.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QWidget>

#include <cstdio>

namespace {

constexpr int kConnectTimeoutMs = 15000;

bool save(QWidget &window, const QDir &dir, const char *name)
{
    window.show();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const QString path = dir.filePath(QString::fromLatin1(name));
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return condition();
}

// The manual flash window after a real write (libusb, emulated USB) into the
// simulated bootloader, the K931 having gone into it.
bool saveWrittenFlashWindow(SerialTestbed &testbed, SimulatedK931 &application, FlashWindow &flash, const QDir &dir)
{
    QTemporaryDir files;
    const QString hex = files.filePath(QStringLiteral("K931_OBD_Boost.hex"));
    SimulatedDevice::Timing stays; // no re-plug: the window stays for its picture
    stays.replugAfterWriteMs = 0;
    SimulatedDevice road(testbed, stays);
    application.unplug();
    if (!SimulatedDevice::writeSampleFirmware(hex, "K931 V1.6 Boost") || !road.plugInBootloader()
        || !waitFor([] { return flashing::getDfuDeviceList(nullptr, k931::kDfuProduct, k931::kUsbVendor) > 0; }, kConnectTimeoutMs)) {
        std::fprintf(stderr, "the simulated bootloader did not appear\n");
        return false;
    }
    flashing::setDisplayCallbacks({onProgressStart, onLogMessage, onProgressStep});
    part<QTextEdit>(&flash, "textEdit")->clear();
    part<QPushButton>(&flash, "SelectFileButton")->setEnabled(false);
    flash.show();
    ModalAnswerer answerer;
    answerer.chooseFile(hex);
    part<QPushButton>(&flash, "ConnectButton")->click();
    part<QPushButton>(&flash, "SelectFileButton")->click();
    part<QPushButton>(&flash, "FlashButton")->click();
    if (!answerer.sawBox(QStringLiteral("Sucesso"))) {
        std::fprintf(stderr, "the write into the simulated bootloader failed\n");
        return false;
    }
    const bool saved = save(flash, dir, "flash-window-written.png");
    // The process-wide engine would let go of the bootloader only at exit,
    // through a testbed that is gone by then, and wait forever: a fresh
    // engine releases it now, while the simulation still answers.
    flashing::installBackend(flashing::makeDefaultBackend());
    return saved;
}

} // namespace

int main(int argc, char **argv)
{
    // The simulated K931 is found through umockdev's preload library.
    if (!SerialTestbed::ensurePreloaded(argv))
        return 1;
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/tarvik-connect.png")));
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: tarvik-screenshots OUTPUT_DIR\n");
        return 2;
    }
    QDir dir(args[1]);
    if (!dir.mkpath(QStringLiteral(".")))
        return 1;

    // Made before the window so that they outlive it: the testbed waits for
    // the window's port to close when it goes.
    SerialTestbed testbed;
    SimulatedK931 device(testbed);
    // Servers nobody answers: the screenshots must not touch the network.
    MainWindow window(nullptr, realConfiguration(closedLocalUrl(QStringLiteral("/"))));
    bool ok = save(window, dir, "main-window.png");
    ok = save(*topLevel<AboutWindow>(), dir, "about-window.png") && ok;
    topLevel<AboutWindow>()->hide();
    FlashWindow *flash = topLevel<FlashWindow>();
    part<QTextEdit>(flash, "textEdit")->append(QStringLiteral("Procurando aparelho\n"));
    part<QTextEdit>(flash, "textEdit")->append(QStringLiteral("Conectado\n"));
    part<QPushButton>(flash, "SelectFileButton")->setEnabled(true);
    ok = save(*flash, dir, "flash-window.png") && ok;
    flash->hide();

    const auto connected = [&] { return part<QLabel>(&window, "label_4")->text() == QLatin1String("Conectado"); };
    if (!device.plug() || !waitFor(connected, kConnectTimeoutMs)) {
        std::fprintf(stderr, "the simulated K931 did not connect\n");
        return 1;
    }
    ok = save(window, dir, "main-window-connected.png") && ok;
    return saveWrittenFlashWindow(testbed, device, *flash, dir) && ok ? 0 : 1;
}
