// Runs Tarvik Connect against a simulated K931, for people without the
// hardware: the device is announced through umockdev on a pseudo-terminal
// and the real program, started as a child, finds it like a real one.
//
//   tarvik-k931-sim PATH/TO/tarvik-connect [program arguments...]
#include "serialtestbed.h"
#include "simulatedk931.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: tarvik-k931-sim PATH/TO/tarvik-connect [arguments...]\n");
        return 2;
    }
    const QString program = args.takeFirst();

    SerialTestbed testbed;
    SimulatedK931 device(testbed);
    if (!device.plug()) {
        std::fprintf(stderr, "could not create the simulated K931\n");
        return 1;
    }
    QObject::connect(&device, &SimulatedK931::messageReceived, [](const QByteArray &bytes) {
        std::printf("K931 received: %s\n", bytes.toHex(' ').constData());
        std::fflush(stdout);
    });

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("UMOCKDEV_DIR"), testbed.rootDir());
    const QString preload = env.value(QStringLiteral("LD_PRELOAD"));
    env.insert(QStringLiteral("LD_PRELOAD"),
               QStringLiteral("libumockdev-preload.so.0") + (preload.isEmpty() ? QString() : QLatin1Char(':') + preload));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(&child, &QProcess::finished, &app, [&app](int code) { app.exit(code); });
    QObject::connect(&child, &QProcess::errorOccurred, &app, [&app, &program](QProcess::ProcessError) {
        std::fprintf(stderr, "could not start %s\n", qPrintable(program));
        app.exit(1);
    });
    std::printf("Simulated K931 on %s; starting %s\n", qPrintable(device.portName()), qPrintable(program));
    std::fflush(stdout);
    child.start(program, args);
    return app.exec();
}
