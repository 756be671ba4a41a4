// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a program against a simulated K931, for people without the hardware:
// the device's serial port appears through umockdev on a pseudo-terminal;
// after "BOOT" the port goes and, a second later, the STM32's DFU bootloader
// appears on emulated USB, where the program's libusb code finds it like a
// real one. After a write the simulated owner re-plugs the device, and the
// K931 comes back reporting the version of the firmware it was given.
//
//   tarvik-k931-sim [--in-bootloader] PROGRAM [ARGUMENTS...]
//   tarvik-k931-sim --sample-firmware FILE [VERSION]
//
// Its own lines go to standard error, so that the program's output can be
// piped as it would be with a real device.
#include "firmwareserver.h"
#include "serialtestbed.h"
#include "simulateddevice.h"
#include "simulatedk931.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kExitUsage = 2;
const char kDefaultSampleVersion[] = "K931 V1.6 Boost";
// Newer than the simulated K931's own V1.5.
const char kServedVersion[] = "1.6";

int usage()
{
    std::fprintf(stderr,
                 "usage: tarvik-k931-sim [--in-bootloader] [--serve-firmware] PROGRAM [ARGUMENTS...]\n"
                 "       tarvik-k931-sim --pty\n"
                 "       tarvik-k931-sim --sample-firmware FILE [VERSION]\n"
                 "Runs PROGRAM against a simulated K931 (USB 0483:5740, and 0483:df11 once in its\n"
                 "bootloader). --in-bootloader starts it in its bootloader, as an update cut short\n"
                 "leaves it. --serve-firmware serves a newer firmware (V%s) on 127.0.0.1 and hands\n"
                 "PROGRAM --firmware-source with its address. --pty serves the K931's serial side\n"
                 "alone on a plain pseudo-terminal and prints its path (for a program under Wine,\n"
                 "as COMn). --sample-firmware writes an Intel HEX file whose firmware reports\n"
                 "VERSION (default \"%s\").\n",
                 kServedVersion, kDefaultSampleVersion);
    return kExitUsage;
}

int writeSample(const QStringList &args)
{
    if (args.isEmpty() || args.size() > 2)
        return usage();
    const QByteArray version = args.size() == 2 ? args[1].toUtf8() : QByteArray(kDefaultSampleVersion);
    if (!SimulatedDevice::writeSampleFirmware(args[0], version)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(args[0]));
        return 1;
    }
    std::printf("%s: firmware \"%s\"\n", qPrintable(args[0]), version.constData());
    return 0;
}

} // namespace

// The K931's serial side alone, on a plain pseudo-terminal whose path goes
// to standard output; it serves until it is killed (SIGTERM, Ctrl-C). For
// a program that cannot see umockdev's devices, such as one under Wine.
int servePseudoTerminal(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    SerialTestbed testbed;
    SimulatedK931 k931(testbed);
    if (!k931.plugOnPseudoTerminal()) {
        std::fprintf(stderr, "could not create the pseudo-terminal\n");
        return 1;
    }
    QObject::connect(&k931, &SimulatedK931::messageReceived, [](const QByteArray &bytes) {
        std::fprintf(stderr, "K931 received: %s\n", bytes.toHex(' ').constData());
        std::fflush(stderr);
    });
    std::printf("%s\n", qPrintable(k931.pseudoTerminal()));
    std::fflush(stdout);
    return app.exec();
}

// The window names its source with --firmware-source; tarvik-config's
// update and mirror with --source, and its other commands take none.
QStringList sourceOption(const QString &program, const QStringList &args, const QString &url)
{
    if (!QFileInfo(program).fileName().startsWith(QLatin1String("tarvik-config")))
        return {QStringLiteral("--firmware-source"), url};
    if (args.contains(QLatin1String("update")) || args.contains(QLatin1String("mirror")))
        return {QStringLiteral("--source"), url};
    return {};
}

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--sample-firmware") == 0) {
        QCoreApplication app(argc, argv);
        return writeSample(QCoreApplication::arguments().mid(2));
    }
    if (argc == 2 && qstrcmp(argv[1], "--pty") == 0)
        return servePseudoTerminal(argc, argv);
    // Plug and unplug events reach the child only from a process that runs
    // under umockdev's preload library itself.
    if (!SerialTestbed::ensurePreloaded(argv))
        return 1;
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    const bool inBootloader = !args.isEmpty() && args.first() == QLatin1String("--in-bootloader");
    if (inBootloader)
        args.removeFirst();
    const bool serveFirmware = !args.isEmpty() && args.first() == QLatin1String("--serve-firmware");
    if (serveFirmware)
        args.removeFirst();
    if (args.isEmpty() || args.first().startsWith(QLatin1String("--")))
        return usage();
    const QString program = args.takeFirst();

    SerialTestbed testbed;
    SimulatedDevice device(testbed);
    if (!(inBootloader ? device.plugInBootloader() : device.plugInApplication())) {
        std::fprintf(stderr, "could not create the simulated K931\n");
        return 1;
    }
    QObject::connect(&device.application(), &SimulatedK931::messageReceived, [](const QByteArray &bytes) {
        std::fprintf(stderr, "K931 received: %s\n", bytes.toHex(' ').constData());
        std::fflush(stderr);
    });
    QObject::connect(&device, &SimulatedDevice::bootloaderAppeared, [] {
        std::fprintf(stderr, "K931 bootloader on USB 1-3 (0483:df11)\n");
        std::fflush(stderr);
    });
    QObject::connect(&device, &SimulatedDevice::applicationAppeared, [&device] {
        std::fprintf(stderr, "K931 running \"%s\" on %s\n", device.application().values.value("VERS").constData(),
                    qPrintable(device.application().portName()));
        std::fflush(stderr);
    });

    // A newer firmware for it, on a server of its own: the whole update road
    // can be tried.
    QTemporaryDir release;
    FirmwareServer firmwareServer(release.path());
    if (serveFirmware) {
        if (!release.isValid() || !FirmwareServer::writeRelease(release.path(), kServedVersion)
            || !firmwareServer.listen()) {
            std::fprintf(stderr, "could not start the simulated firmware server\n");
            return 1;
        }
        args << sourceOption(program, args, firmwareServer.url().toString());
        // An owner's own setting, which the new firmware's defaults lose: the
        // window offers it back after the update.
        device.application().values["RPML"] = "7200";
        std::fprintf(stderr, "Firmware V%s served at %s\n", kServedVersion, qPrintable(firmwareServer.url().toString()));
    }

    QProcess child;
    child.setProcessEnvironment(testbed.childEnvironment());
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(&child, &QProcess::finished, &app, [&app](int code) { app.exit(code); });
    QObject::connect(&child, &QProcess::errorOccurred, &app, [&app, &program](QProcess::ProcessError) {
        std::fprintf(stderr, "could not start %s\n", qPrintable(program));
        app.exit(1);
    });
    std::fprintf(stderr, "Simulated K931 %s; starting %s\n", inBootloader ? "in its bootloader" : "plugged in",
                qPrintable(program));
    std::fflush(stderr);
    child.start(program, args);
    return app.exec();
}
