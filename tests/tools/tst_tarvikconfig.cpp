// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik-config as an installer runs it, against simulated K931s on their
// serial ports: what it prints, what reaches the device, and that a value
// the device did not keep is never reported as written.
#include "firmwarecheck.h"
#include "firmwareserver.h"
#include "hexfile.h"
#include "localhttpserver.h"
#include "serialtestbed.h"
#include "simulateddevice.h"
#include "simulatedk931.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <functional>
#include <numeric>
#include <sys/stat.h>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

QList<QByteArray> setCommandsReceived(const SimulatedK931 &device)
{
    QList<QByteArray> sets;
    for (const auto &message : device.received) {
        if (message.bytes.startsWith('>'))
            sets << message.bytes.mid(1, 4);
    }
    return sets;
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray bytesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A whole K931 that leaves and comes back within a moment.
SimulatedDevice::Timing quickDevice()
{
    SimulatedDevice::Timing quick;
    quick.bootloaderAppearsMs = 300;
    quick.applicationAppearsMs = 200;
    quick.replugAfterWriteMs = 300;
    return quick;
}

} // namespace

class TestTarvikConfig : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void readsAsTextAndJson();
    void writesAndReadsBack();
    void refusesWhatItCannotWrite();
    void settingsFileRoundTrip();
    void exportWritesWhereTheOwnerPoints();
    void aClosedPipeEndsOnlyTheOutput();
    void noDeviceOrASilentOne();
    void updateRestoresTheSettings();
    void updateWritesTheDeviceSentBoot();
    void settingsFilesGuardTheDevice();
    void interruptedUpdatesLoseNothing();
    void mirrorThenUpdateOffline();
    void hostileSourcesWriteNothingOutside();
    void ownersFilesStayAsTheyWere();

private:
    // `interrupt` is sent once standard output or error contains `when`.
    Run run(const QStringList &args, const QString &program = QStringLiteral(TARVIK_CONFIG_PATH),
            const QString &when = QString(), int interrupt = 0);
    // `interrupt` is sent once `ready` says so.
    Run runUntil(const QStringList &args, const QString &program, const std::function<bool(const QByteArray &)> &ready,
                 int interrupt);
    // `act` runs once the output contains `when`, with the program's pid.
    Run runActing(const QStringList &args, const QString &when, const std::function<void(qint64)> &act,
                  const QString &program = QStringLiteral(TARVIK_CONFIG_PATH));
    QString newestKeptSettings() const;

    std::function<void(qint64)> pendingAction;
    std::unique_ptr<SerialTestbed> testbed;
    std::unique_ptr<SimulatedK931> device;
    QTemporaryDir dir;
};

void TestTarvikConfig::initTestCase()
{
    // Ports of its own (ttyACM8 on): this suite runs beside the window's.
    testbed = std::make_unique<SerialTestbed>(8);
    QVERIFY2(SerialTestbed::available(), "run with LD_PRELOAD=libumockdev-preload.so.0");
}

void TestTarvikConfig::init()
{
    device = std::make_unique<SimulatedK931>(*testbed);
    QVERIFY(device->plug());
}

void TestTarvikConfig::cleanup()
{
    device.reset();
}

// The simulated device answers from this process's event loop, so the
// program runs while the loop turns.
Run TestTarvikConfig::run(const QStringList &args, const QString &program, const QString &when, int interrupt)
{
    return runUntil(args, program, [&](const QByteArray &output) { return output.contains(when.toUtf8()); },
                    interrupt);
}

Run TestTarvikConfig::runUntil(const QStringList &args, const QString &program,
                               const std::function<bool(const QByteArray &)> &ready, int interrupt)
{
    QProcess process;
    QProcessEnvironment env = testbed->childEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.path()); // where update keeps its files
    // Where each run's own work folder goes: empty again after every run.
    QDir().mkpath(dir.filePath(QStringLiteral("tmp")));
    env.insert(QStringLiteral("TMPDIR"), dir.filePath(QStringLiteral("tmp")));
    process.setProcessEnvironment(env);
    process.start(program, args);
    QByteArray out;
    QByteArray err;
    bool interrupted = false;
    const bool ended = QTest::qWaitFor(
        [&] {
            out += process.readAllStandardOutput();
            err += process.readAllStandardError();
            if (interrupt && !interrupted && (ready(out) || ready(err))) {
                if (interrupt > 0)
                    ::kill(pid_t(process.processId()), interrupt);
                else
                    pendingAction(process.processId());
                interrupted = true;
            }
            return process.state() == QProcess::NotRunning;
        },
        60000);
    if (!ended)
        process.kill();
    out += process.readAllStandardOutput();
    err += process.readAllStandardError();
    return {ended ? process.exitCode() : -1, QString::fromUtf8(out), QString::fromUtf8(err)};
}

Run TestTarvikConfig::runActing(const QStringList &args, const QString &when, const std::function<void(qint64)> &act,
                                const QString &program)
{
    pendingAction = act;
    return runUntil(args, program, [&](const QByteArray &output) { return output.contains(when.toUtf8()); }, -1);
}

QString TestTarvikConfig::newestKeptSettings() const
{
    const QDir kept(dir.filePath(QStringLiteral("tarvik-connect/configuracoes")));
    const QStringList names = kept.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name | QDir::Reversed);
    return names.isEmpty() ? QString() : kept.filePath(names.first());
}

void TestTarvikConfig::readsAsTextAndJson()
{
    Run r = run({QStringLiteral("read")});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains(QStringLiteral("Versão: K931 V1.5 Boost\n")), qPrintable(r.out));
    QVERIFY(r.out.contains(QStringLiteral("rpm=6500\n")));
    QVERIFY(r.out.contains(QStringLiteral("rich=850 mV\n")));
    QVERIFY(r.out.contains(QStringLiteral("sensor=")));

    device->values["SONT"] = "1";
    r = run({QStringLiteral("read"), QStringLiteral("--json")});
    QCOMPARE(r.exitCode, 0);
    const QJsonObject json = QJsonDocument::fromJson(r.out.toUtf8()).object();
    QCOMPARE(json.value(QStringLiteral("device")).toString(), QStringLiteral("K931 V1.5 Boost"));
    QCOMPARE(json.value(QStringLiteral("unit")).toString(), QStringLiteral("lambda"));
    // Numbers are numbers and flags booleans: a script compares them as such.
    const QJsonObject values = json.value(QStringLiteral("settings")).toObject();
    QCOMPARE(values.value(QStringLiteral("turbo")), QJsonValue(1.5));
    QCOMPARE(values.value(QStringLiteral("rpm")), QJsonValue(6500));
    QCOMPARE(values.value(QStringLiteral("blink")), QJsonValue(true));
    QCOMPARE(values.value(QStringLiteral("sensor")), QJsonValue(QStringLiteral("5bar")));
}

void TestTarvikConfig::writesAndReadsBack()
{
    Run r = run({QStringLiteral("write"), QStringLiteral("rpm=7000"), QStringLiteral("turbo=1.75"),
                 QStringLiteral("sensor=3bar")});
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QCOMPARE(device->values.value("RPML"), QByteArray("7000"));
    QCOMPARE(device->values.value("TURA"), QByteArray("1.75"));
    QCOMPARE(device->values.value("KBOS"), QByteArray("0"));
    // In the window's order, 500 ms apart.
    QCOMPARE(setCommandsReceived(*device), (QList<QByteArray>{"TURA", "RPML", "KBOS"}));

    // A firmware that does not keep the engine speed: named, never "ok".
    device->ignoredSettings.insert("RPML");
    r = run({QStringLiteral("write"), QStringLiteral("rpm=7100"), QStringLiteral("lean=0.45")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("rpm (enviado 7100, lido 7000)")), qPrintable(r.err));
    QVERIFY(!r.err.contains(QStringLiteral("lean")));
}

void TestTarvikConfig::refusesWhatItCannotWrite()
{
    Run r = run({QStringLiteral("write"), QStringLiteral("rpm=-1"), QStringLiteral("turbo=1,5"),
                 QStringLiteral("nao-existe=1")});
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.err.contains(QStringLiteral("rpm: número inteiro sem sinal")));
    QVERIFY(r.err.contains(QStringLiteral("turbo: número com ponto decimal")));
    QVERIFY(r.err.contains(QStringLiteral("nao-existe=1")));
    QVERIFY(device->received.isEmpty()); // not even opened

    device->values["VERS"] = "K931 V1.5";
    r = run({QStringLiteral("write"), QStringLiteral("sensor=5bar")});
    QCOMPARE(r.exitCode, 2);
    QVERIFY(setCommandsReceived(*device).isEmpty());
}

void TestTarvikConfig::settingsFileRoundTrip()
{
    const QString file = dir.filePath(QStringLiteral("car.json"));
    device->values["RPML"] = "6800";
    device->values["HALR"] = "0.9";
    QCOMPARE(run({QStringLiteral("export"), file}).exitCode, 0);

    SimulatedK931::Identity secondPort;
    secondPort.index = 1;
    SimulatedK931 second(*testbed, secondPort);
    QVERIFY(second.plug());
    Run r = run({QStringLiteral("import"), file, QStringLiteral("--port"), second.portName()});
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QCOMPARE(second.values.value("RPML"), QByteArray("6800"));
    QCOMPARE(second.values.value("HALR"), QByteArray("0.9"));

    // The file of a boost device into one without boost: the sensor range
    // has no place there and stays out, the rest goes in. A damaged file, a
    // value out of range: refused before anything is sent.
    second.values["VERS"] = "K931 V1.5";
    second.values["RPML"] = "7000";
    second.received.clear();
    r = run({QStringLiteral("import"), file, QStringLiteral("--port"), second.portName()});
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QVERIFY2(r.out.contains(QStringLiteral("sensor")) && r.out.contains(QStringLiteral("fica de fora")),
             qPrintable(r.out));
    QCOMPARE(setCommandsReceived(second), QList<QByteArray>{"RPML"});
    for (const QByteArray &broken : {QByteArray("{\"format\": 1, \"settings\": {\"rpm\": \"-5\"}}"),
                                     QByteArray("{\"format\": 1, \"settings\""), QByteArray("[]")}) {
        QFile damaged(file);
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write(broken);
        damaged.close();
        r = run({QStringLiteral("import"), file});
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.contains(QStringLiteral("nada foi enviado")));
    }
}

// The owner's link is followed to its file, never replaced; a new file gets
// the permissions the owner's umask leaves.
void TestTarvikConfig::exportWritesWhereTheOwnerPoints()
{
    const auto exportWith = [&](const char *umask, const QString &file) {
        return run({QStringLiteral("-c"), QStringLiteral("umask %1; exec \"$0\" export \"$1\"").arg(QLatin1String(umask)),
                    QStringLiteral(TARVIK_CONFIG_PATH), file},
                   QStringLiteral("/bin/sh"));
    };
    const auto mode = [](const QString &file) {
        struct stat info {};
        return ::stat(QFile::encodeName(file).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
    };
    const QString shared = dir.filePath(QStringLiteral("shared.json"));
    Run r = exportWith("022", shared);
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QCOMPARE(mode(shared), 0644);

    const QString target = dir.filePath(QStringLiteral("private.json"));
    const QString link = dir.filePath(QStringLiteral("linked.json"));
    QVERIFY(QFile::link(target, link));
    for (int i = 0; i < 2; ++i) { // the target made, then replaced
        r = exportWith("077", link);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(mode(target), 0600);
    }
    QFile exported(target);
    QVERIFY(exported.open(QIODevice::ReadOnly));
    QVERIFY(exported.readAll().contains("\"settings\""));
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("private.json.*")}, QDir::Files | QDir::Hidden).size(), 0);
}

// Output into a pipe already closed (as "| true" leaves it) ends the output
// only: every command still does its work and exits with its own status.
void TestTarvikConfig::aClosedPipeEndsOnlyTheOutput()
{
    const QString closedPipe = QStringLiteral("import os, subprocess, sys\n"
                                              "r, w = os.pipe(); os.close(r)\n"
                                              "sys.exit(subprocess.call(sys.argv[1:], stdout=w) & 255)");
    const QString file = dir.filePath(QStringLiteral("piped.json"));
    const QList<QStringList> commands{{QStringLiteral(TARVIK_CONFIG_PATH), QStringLiteral("read")},
                                      {QStringLiteral(TARVIK_CONFIG_PATH), QStringLiteral("devices")},
                                      {QStringLiteral(TARVIK_CONFIG_PATH), QStringLiteral("export"), file},
                                      {QStringLiteral(TARVIK_CONFIG_PATH), QStringLiteral("write"), QStringLiteral("rpm=7100")},
                                      {QStringLiteral(TARVIK_DFU_PATH), QStringLiteral("list")},
                                      {QStringLiteral(TARVIK_DFU_PATH), QStringLiteral("backups")}};
    for (const QStringList &command : commands) {
        const Run r = run(QStringList{QStringLiteral("-c"), closedPipe} + command, QStringLiteral("python3"));
        QVERIFY2(r.exitCode == 0, qPrintable(command.join(QLatin1Char(' ')) + QStringLiteral(": ") + r.err));
    }
    QVERIFY(QFile::exists(file));
    QCOMPARE(device->values.value("RPML"), QByteArray("7100"));

    // Any other output error fails a command whose product is its output;
    // a write's report only says so.
    const QList<QPair<QStringList, int>> full{
        {{QStringLiteral(TARVIK_CONFIG_PATH), QStringLiteral("read"), QStringLiteral("--json")}, 1},
        {{QStringLiteral(TARVIK_CONFIG_PATH), QStringLiteral("devices")}, 1},
        {{QStringLiteral(TARVIK_DFU_PATH), QStringLiteral("backups")}, 1},
        {{QStringLiteral(TARVIK_CONFIG_PATH), QStringLiteral("write"), QStringLiteral("rpm=7200")}, 0}};
    for (const auto &[command, status] : full) {
        const Run r = run(QStringList{QStringLiteral("-c"), QStringLiteral("exec \"$@\" > /dev/full"), QStringLiteral("sh")}
                              + command,
                          QStringLiteral("/bin/sh"));
        QVERIFY2(r.exitCode == status && r.err.contains(QStringLiteral("Não foi possível escrever a saída: ")),
                 qPrintable(command.join(QLatin1Char(' ')) + QStringLiteral(": ") + r.err));
    }
    QCOMPARE(device->values.value("RPML"), QByteArray("7200"));
}

void TestTarvikConfig::noDeviceOrASilentOne()
{
    device->setBehaviour("VERS", SimulatedK931::Behaviour::Silent);
    QElapsedTimer clock;
    clock.start();
    Run r = run({QStringLiteral("read")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY(r.err.contains(QStringLiteral("não respondeu")));
    QVERIFY(clock.elapsed() < 10000);

    // Garbage for an answer, and a port another program holds (named).
    device->clearBehaviours();
    device->setBehaviour("RPML", SimulatedK931::Behaviour::Garbage);
    r = run({QStringLiteral("read")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("Resposta inválida ou ausente para rpm")), qPrintable(r.err));
    device->holdPortExclusively(true);
    r = run({QStringLiteral("read")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("em uso por tst_tarvikconfig (PID")), qPrintable(r.err));

    const QString plain = dir.filePath(QStringLiteral("plain.txt"));
    writeBytes(plain, "x");
    for (const QString &notAPort : {QStringLiteral("/dev/null"), plain}) {
        r = run({QStringLiteral("read"), QStringLiteral("--port"), notAPort});
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.err.contains(notAPort + QStringLiteral(" não é uma porta serial (")), qPrintable(r.err));
    }

    device->unplug();
    r = run({QStringLiteral("read")});
    QCOMPARE(r.exitCode, 3);
    QVERIFY(r.err.contains(QStringLiteral("Nenhum K931 encontrado")));
}

// A firmware written by update comes back with its default settings; those
// kept beforehand are written back and read back. A write that fails leaves
// them in their file, and says where.
void TestTarvikConfig::updateRestoresTheSettings()
{
    device.reset();
    const SimulatedDevice::Timing quick = quickDevice();
    SimulatedDevice k931(*testbed, quick);
    k931.application().values["RPML"] = "7200";
    k931.application().values["HALR"] = "0.9";
    QVERIFY(k931.plugInApplication());

    const QString hex = dir.filePath(QStringLiteral("sample.hex"));
    QVERIFY(SimulatedDevice::writeSampleFirmware(hex, "K931 V1.6 Boost"));
    QFile sample(hex);
    QVERIFY(sample.open(QIODevice::ReadOnly));
    LocalHttpServer server;
    QVERIFY(server.listen());
    server.setResponse("/fw/data.json", {200, R"({"Modelo": ["K931"], "Version": "1.6"})", {}, {}});
    server.setResponse("/fw/K931_OBD_Boost.hex", {200, sample.readAll(), {}, {}});
    const QStringList update = {QStringLiteral("update"), QStringLiteral("--keep-settings"), QStringLiteral("--type"),
                                QStringLiteral("OBD + Boost"), QStringLiteral("--server"),
                                server.url(QStringLiteral("/fw/")).toString()};
    Run r = run(update);
    QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
    QCOMPARE(k931.firmwareVersion(), QByteArray("K931 V1.6 Boost"));
    QVERIFY(r.out.contains(QStringLiteral("Nova versão: K931 V1.6 Boost")));
    QCOMPARE(k931.application().values.value("RPML"), QByteArray("7200"));
    QCOMPARE(k931.application().values.value("HALR"), QByteArray("0.9"));
    QCOMPARE(QDir(dir.filePath(QStringLiteral("tarvik-config"))).entryList(QDir::Files), QStringList());
    QVERIFY(!r.out.contains(QStringLiteral("Download of")));
    // The firmware it replaced is kept in the window's data folder, named
    // after the version the device had, and listed by tarvik-dfu.
    const QString backups = dir.filePath(QStringLiteral("tarvik-connect/backups"));
    const QStringList copies = QDir(backups).entryList({QStringLiteral("*.hex")}, QDir::Files);
    QCOMPARE(copies.size(), 1);
    QVERIFY2(copies[0].endsWith(QStringLiteral("_K931_V1.5_Boost.hex")), qPrintable(copies[0]));
    QVERIFY2(r.out.contains(QStringLiteral("Cópia do firmware anterior guardada em ") + backups + "/" + copies[0]),
             qPrintable(r.out));
    Run listed = run({QStringLiteral("backups")}, QStringLiteral(TARVIK_DFU_PATH));
    QCOMPARE(listed.exitCode, 0);
    QVERIFY2(listed.out.startsWith(QStringLiteral("arquivo\tbytes\tsetores\n") + backups + "/" + copies[0] + "\t"),
             qPrintable(listed.out));
    QVERIFY2(listed.out.endsWith(QStringLiteral("\t0-1\n")), qPrintable(listed.out));

    // A file the server does not have: said once, in Portuguese, nothing sent.
    r = run({QStringLiteral("update"), QStringLiteral("--type"), QStringLiteral("OBD + Flex"), QStringLiteral("--server"),
             server.url(QStringLiteral("/fw/")).toString()});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.err.count(QStringLiteral("K931_OBD_Flex.hex")), 1);
    QVERIFY2(r.err.contains(QStringLiteral("não existe no servidor")) && !r.err.contains(QStringLiteral("Download")),
             qPrintable(r.err));

    k931.application().values["RPML"] = "6900";
    k931.chip().faults.writeFails = true;
    r = run(update + QStringList{QStringLiteral("--no-backup")});
    QCOMPARE(r.exitCode, 1);
    // Kept in the data folder, named by the device and when, never beside
    // the firmware file; what the device held at this run.
    const QString kept = newestKeptSettings();
    QVERIFY2(kept.contains(QString::fromLatin1(k931.application().serialNumber)), qPrintable(kept));
    QVERIFY2(r.err.contains(QStringLiteral("continuam em ") + kept), qPrintable(r.err));
    QFile file(kept);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("\"rpm\": 6900"));
    QVERIFY(!r.out.contains(QStringLiteral("Nova versão")));
    QCOMPARE(QDir(backups).entryList({QStringLiteral("*.hex")}, QDir::Files), copies); // --no-backup: no second copy
    QCOMPARE(QDir(dir.filePath(QStringLiteral("tarvik-config"))).entryList(QDir::Files), QStringList());

    // Brought back from its bootloader, then changed by the owner: the file
    // that failed run kept is older than that change and is only named. At
    // the desk the re-plug after the cut-short write starts nothing; the
    // owner then brings up its bootloader.
    QTRY_VERIFY_WITH_TIMEOUT(!k931.bootloader().isPlugged() && !k931.application().isPlugged(), 5000);
    k931.chip().faults = {};
    QVERIFY(k931.plugInBootloader());
    r = run({QStringLiteral("update"), QStringLiteral("--file"), hex});
    QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
    QCOMPARE(run({QStringLiteral("write"), QStringLiteral("rpm=8000")}).exitCode, 0);
    r = run(update);
    QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
    QVERIFY2(r.out.contains(QStringLiteral("Elas não são usadas agora")) && r.out.contains(kept), qPrintable(r.out));
    QCOMPARE(k931.application().values.value("RPML"), QByteArray("8000"));
}

// Two K931s on the desk, one left in its bootloader by an earlier update:
// "BOOT" goes to the running one, and its own bootloader is written once it
// comes up, never the one that was there first.
void TestTarvikConfig::updateWritesTheDeviceSentBoot()
{
    device.reset();
    SimulatedDevice waiting(*testbed, quickDevice(), 0);
    SimulatedDevice running(*testbed, quickDevice(), 1);
    const flashing::FirmwareImage older = SimulatedDevice::sampleFirmware("K931 V1.4 Flex");
    std::copy(older.segments.front().data.begin(), older.segments.front().data.end(), waiting.chip().flash.begin());
    const std::vector<uint8_t> waitingFlash = waiting.chip().flash;
    QVERIFY(waiting.plugInBootloader());
    QVERIFY(running.plugInApplication());
    const QString hex = dir.filePath(QStringLiteral("sent-boot.hex"));
    QVERIFY(SimulatedDevice::writeSampleFirmware(hex, "K931 V1.6 Boost"));

    const QDir backups(dir.filePath(QStringLiteral("tarvik-connect/backups")));
    const QStringList copiesBefore = backups.entryList({QStringLiteral("*.hex")}, QDir::Files);

    const Run r = run({QStringLiteral("update"), QStringLiteral("--file"), hex});
    QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
    QCOMPARE(running.firmwareVersion(), QByteArray("K931 V1.6 Boost"));
    QVERIFY(waiting.chip().flash == waitingFlash);
    QCOMPARE(std::accumulate(waiting.chip().eraseCounts.begin(), waiting.chip().eraseCounts.end(), 0), 0);
    QVERIFY(waiting.bootloader().isPlugged());
    // The copy of what was replaced holds the running one's firmware.
    QStringList copies = backups.entryList({QStringLiteral("*.hex")}, QDir::Files);
    for (const QString &name : copiesBefore)
        copies.removeOne(name);
    QCOMPARE(copies.size(), 1);
    flashing::FirmwareImage copy;
    QVERIFY(readFirmwareFile(backups.filePath(copies.first()), &copy).ok());
    QByteArray copied;
    for (const auto &segment : copy.segments)
        copied.append(reinterpret_cast<const char *>(segment.data.data()), qsizetype(segment.data.size()));
    QVERIFY(copied.contains("K931 V1.5 Boost") && !copied.contains("K931 V1.4"));
}

// What a user brings from elsewhere is judged before anything is sent: the
// unit, repeated keys, what the file is, and what the device already holds.
void TestTarvikConfig::settingsFilesGuardTheDevice()
{
    const QString file = dir.filePath(QStringLiteral("car.json"));
    QCOMPARE(run({QStringLiteral("export"), file}).exitCode, 0);
    QFile exported(file);
    QVERIFY(exported.open(QIODevice::ReadOnly));
    QVERIFY(exported.readAll().contains("\"unit\": \"mV\""));
    auto writeFile = [&](const QByteArray &json) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(json);
    };
    struct Refusal {
        QByteArray json;
        QString said;
    };
    // A file of the first version names no unit: 850 and 450 are millivolts.
    const QByteArray withoutUnit = R"({"format": 1, "device": "K931 V1.5 Boost",
        "settings": {"rich": "850", "lean": "450", "rpm": "6500"}})";
    const Refusal refused[] = {
        {R"({"format": 1, "settings": {"rpm": "7000", "rpm": "8000"}})", QStringLiteral("chave repetida no arquivo: rpm")},
        {R"({"format": 1, "settings": {}})", QStringLiteral("não traz nenhuma configuração")},
        {R"({"format": 1, "settings": {"rpm": true}})", QStringLiteral("rpm: número inteiro sem sinal")},
        {R"({"format": 1, "settings": {"rpm": 6500.5}})", QStringLiteral("rpm: número inteiro sem sinal")},
    };
    device->received.clear();
    for (const Refusal &r : refused) {
        writeFile(r.json);
        const Run result = run({QStringLiteral("import"), file});
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.err.contains(r.said), qPrintable(result.err));
    }
    QVERIFY(setCommandsReceived(*device).isEmpty());

    // The same numbers mean something else in a device that reads lambda.
    device->values["SONT"] = "1";
    for (const QByteArray &json : {QByteArray(R"({"format": 1, "unit": "mV", "settings": {"rpm": "6500"}})"), withoutUnit}) {
        writeFile(json);
        const Run result = run({QStringLiteral("import"), file});
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.err.contains(QStringLiteral("lambda")) && result.err.contains(QStringLiteral("nada foi enviado")),
                 qPrintable(result.err));
    }
    QVERIFY(setCommandsReceived(*device).isEmpty());
    device->values["SONT"] = "0";
    Run r = run({QStringLiteral("import"), file}); // the unit-less file fits millivolts: taken
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains(QStringLiteral("O aparelho já tem as configurações")), qPrintable(r.out));
    QVERIFY(setCommandsReceived(*device).isEmpty());

    // A partial file on a Boost device: what it holds is written, the rest named.
    writeFile(R"({"format": 1, "settings": {"rpm": 7100, "blink": true}})");
    r = run({QStringLiteral("import"), file});
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QVERIFY2(r.out.contains(QStringLiteral("ficam como estão: turbo, rich, lean, turbo-reset, sensor")),
             qPrintable(r.out));
    QCOMPARE(setCommandsReceived(*device), QList<QByteArray>{"RPML"});

    // Repeated keys on the command line: nothing sent.
    device->received.clear();
    r = run({QStringLiteral("write"), QStringLiteral("rpm=7000"), QStringLiteral("rpm=8000")});
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.err.contains(QStringLiteral("rpm: chave repetida")));
    QVERIFY(device->received.isEmpty());

    // Only a regular file of sane size is read; only a regular file is replaced.
    const QString zero = dir.filePath(QStringLiteral("zero.json"));
    const QString pipe = dir.filePath(QStringLiteral("pipe.json"));
    const QString huge = dir.filePath(QStringLiteral("huge.json"));
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), zero));
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QFile big(huge);
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize(2 * 1024 * 1024));
    big.close();
    const struct {
        QString path;
        QString said;
    } unreadable[] = {{zero, QStringLiteral("não é um arquivo comum")},
                      {pipe, QStringLiteral("não é um arquivo comum")},
                      {huge, QStringLiteral("grande demais")},
                      {dir.filePath(QStringLiteral("missing.json")), QStringLiteral("o arquivo não existe")}};
    for (const auto &u : unreadable) {
        r = run({QStringLiteral("import"), u.path});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(u.said), qPrintable(r.err));
    }
    r = run({QStringLiteral("export"), pipe});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("não é um arquivo comum")), qPrintable(r.err));
    QVERIFY(QFileInfo(pipe).exists() && !QFileInfo(pipe).isFile());

    QVERIFY(device->received.size() <= 10); // the read-out only

    // A name in Latin-1, not UTF-8, reaches its file both ways.
    r = run({QStringLiteral("-c"), QStringLiteral("f=\"$1/$(printf 'configura\\347\\343o.json')\"; \"$0\" export \"$f\" && \"$0\" import \"$f\""),
             QStringLiteral(TARVIK_CONFIG_PATH), dir.path()},
            QStringLiteral("/bin/sh"));
    QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
    QVERIFY2(r.out.contains(QStringLiteral("O aparelho já tem as configurações")), qPrintable(r.out));
}

// A signal before the first erase stops the write with nothing written; once
// the erase has begun the write ends first; either way the tool says where
// everything is, and settings kept by a stopped run are restored only when
// the owner names them. The simulated K931 behaves like the chip: in a car
// (powered) a re-plugged cable brings its bootloader back; after a write cut
// short a power cycle starts nothing.
void TestTarvikConfig::interruptedUpdatesLoseNothing()
{
    device.reset();
    const SimulatedDevice::Timing quick = quickDevice();
    SimulatedDevice k931(*testbed, quick);
    k931.externalPower = true;
    k931.application().values["RPML"] = "7300";
    k931.application().values["TURA"] = "1.9";
    QVERIFY(k931.plugInApplication());
    const QString hex = dir.filePath(QStringLiteral("new.hex"));
    QVERIFY(SimulatedDevice::writeSampleFirmware(hex, "K931 V1.6 Boost"));

    // write: a signal during the read-out sends nothing; once the first
    // set command is out, the batch ends and is read back first.
    SimulatedK931 &application = k931.application();
    const QStringList batch = {QStringLiteral("write"), QStringLiteral("lean=400"), QStringLiteral("rich=900"),
                               QStringLiteral("blink=0")};
    Run r = runUntil(batch, QStringLiteral(TARVIK_CONFIG_PATH),
                     [&](const QByteArray &) { return !application.received.isEmpty(); }, SIGINT);
    QCOMPARE(r.exitCode, 128 + SIGINT);
    QVERIFY2(r.err.contains(QStringLiteral("nada foi enviado")), qPrintable(r.err));
    QVERIFY(setCommandsReceived(application).isEmpty());
    r = runUntil(batch, QStringLiteral(TARVIK_CONFIG_PATH),
                 [&](const QByteArray &) { return !setCommandsReceived(application).isEmpty(); }, SIGTERM);
    QCOMPARE(r.exitCode, 128 + SIGTERM);
    QList<QByteArray> sent = setCommandsReceived(application);
    std::sort(sent.begin(), sent.end());
    QCOMPARE(sent, (QList<QByteArray>{"HALP", "HALR", "KSBM"}));
    QVERIFY2(r.out.contains(QStringLiteral("Gravado e conferido")), qPrintable(r.out));
    QVERIFY2(r.err.contains(QStringLiteral("todas as 3 configurações: o aparelho guardou todas")), qPrintable(r.err));
    QCOMPARE(application.values.value("KSBM"), QByteArray("0"));

    // Files that cannot be the K931's firmware: refused before "BOOT".
    flashing::FirmwareImage tooLarge;
    tooLarge.segments.push_back({0x0807F000, randomBytes(8192, 3)});
    flashing::FirmwareImage noVectors;
    noVectors.segments.push_back({0x08000000, randomBytes(8192, 4)});
    const struct {
        QString name;
        QByteArray bytes;
        QString said;
    } refused[] = {{QStringLiteral("outside.hex"), QByteArray::fromStdString(toIntelHex(tooLarge)),
                    QStringLiteral("fora da memória flash")},
                   {QStringLiteral("random.hex"), QByteArray::fromStdString(toIntelHex(noVectors)),
                    QStringLiteral("não é um firmware do K931")},
                   {QStringLiteral("one.bin"), QByteArray("\x01"), QStringLiteral("não é um firmware do K931")}};
    for (const auto &file : refused) {
        QFile out(dir.filePath(file.name));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file.bytes);
        out.close();
        r = run({QStringLiteral("update"), QStringLiteral("--file"), out.fileName()});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(file.said) && r.err.contains(QStringLiteral("nada foi enviado")), qPrintable(r.err));
    }
    QVERIFY(!k931.application().receivedBytes().contains("BOOT"));

    // Ctrl-C once the erase has begun: the write ends first.
    const QStringList update = {QStringLiteral("update"), QStringLiteral("--file"), hex, QStringLiteral("--keep-settings")};
    QSignalSpy bootloaderBack(&k931, &SimulatedDevice::bootloaderAppeared);
    const auto erased = [&k931] {
        const auto &counts = k931.chip().eraseCounts;
        return std::accumulate(counts.begin(), counts.end(), 0);
    };
    int erasedBefore = erased();
    const auto erasing = [&](const QByteArray &) { return erased() > erasedBefore; };
    r = runUntil(update, QStringLiteral(TARVIK_CONFIG_PATH), erasing, SIGINT);
    QCOMPARE(r.exitCode, 128 + SIGINT);
    QVERIFY2(r.out.contains(QStringLiteral("Firmware gravado e conferido")), qPrintable(r.out));
    QVERIFY2(r.err.contains(QStringLiteral("Interrompido depois da gravação")), qPrintable(r.err));
    const QString kept = newestKeptSettings();
    QVERIFY2(r.err.contains(QStringLiteral("continuam em %1").arg(kept)), qPrintable(r.err));
    QVERIFY(!r.out.contains(QStringLiteral("Nova versão")));

    // Re-plugged in the car: the bootloader again, where read says so.
    QTRY_VERIFY_WITH_TIMEOUT(bootloaderBack.count() >= 2, 5000);
    r = run({QStringLiteral("read")});
    QCOMPARE(r.exitCode, 3);
    QVERIFY2(r.err.contains(QStringLiteral("modo de atualização")), qPrintable(r.err));

    r = run({QStringLiteral("list")}, QStringLiteral(TARVIK_DFU_PATH));
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.startsWith(QStringLiteral("USB\tnúmero de série\tproduto\n1-3\t")), qPrintable(r.out));

    // tarvik-dfu: a closed terminal while the flash it replaces is still
    // being copied stops the write with the flash as it was ...
    flashing::FirmwareImage big;
    big.segments.push_back({0x08000000, runnableBytes(384 * 1024, 9)});
    const QString bigHex = dir.filePath(QStringLiteral("big.hex"));
    QFile bigFile(bigHex);
    QVERIFY(bigFile.open(QIODevice::WriteOnly));
    bigFile.write(QByteArray::fromStdString(toIntelHex(big)));
    bigFile.close();
    const std::vector<uint8_t> flashBefore = k931.chip().flash;
    r = run({QStringLiteral("write"), bigHex}, QStringLiteral(TARVIK_DFU_PATH), QStringLiteral("Lendo"), SIGHUP);
    QVERIFY2(r.exitCode == 128 + SIGTERM, qPrintable(r.out + r.err));
    QVERIFY2(r.err.contains(QStringLiteral("nada foi gravado")) && !r.err.contains(QStringLiteral("Falhou")),
             qPrintable(r.err));
    QVERIFY(k931.chip().flash == flashBefore);
    // ... and SIGTERM once it erases lets it finish.
    bootloaderBack.clear();
    erasedBefore = erased();
    r = runUntil({QStringLiteral("write"), hex}, QStringLiteral(TARVIK_DFU_PATH), erasing, SIGTERM);
    QVERIFY2(r.exitCode == 128 + SIGTERM, qPrintable(r.out + r.err));
    QVERIFY(r.out.contains(QStringLiteral("Firmware gravado e conferido")));
    QVERIFY(r.err.contains(QStringLiteral("Interrompido depois da gravação")));
    QTRY_VERIFY_WITH_TIMEOUT(bootloaderBack.count() >= 1, 5000);
    // Under nohup a closed terminal is no request to stop.
    bootloaderBack.clear();
    erasedBefore = erased();
    r = runUntil({QStringLiteral("-c"), QStringLiteral("trap '' HUP; exec \"$0\" write \"$1\""),
                  QStringLiteral(TARVIK_DFU_PATH), hex},
                 QStringLiteral("/bin/sh"), erasing, SIGHUP);
    QVERIFY2(r.exitCode == 0 && !r.err.contains(QStringLiteral("Interrompido")), qPrintable(r.out + r.err));
    QTRY_VERIFY_WITH_TIMEOUT(bootloaderBack.count() >= 1, 5000);

    // Run again at the desk: the device cannot be read in its bootloader,
    // so the kept settings are named, not guessed ...
    k931.externalPower = false;
    r = run(update);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(kept) && r.err.contains(QStringLiteral("--restore")), qPrintable(r.err));
    // ... and come back when the owner names them.
    r = run({QStringLiteral("update"), QStringLiteral("--file"), hex, QStringLiteral("--restore"), kept});
    QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
    QCOMPARE(k931.application().values.value("RPML"), QByteArray("7300"));
    QCOMPARE(k931.application().values.value("TURA"), QByteArray("1.9"));
    QVERIFY(QFile::exists(kept)); // named by the owner: it stays

    // Its output into a pipe closed early (| head): only the output ends.
    const QString v17 = dir.filePath(QStringLiteral("v17.hex"));
    QVERIFY(SimulatedDevice::writeSampleFirmware(v17, "K931 V1.7 Boost"));
    r = run({QStringLiteral("-c"), QStringLiteral("\"$0\" update --file \"$1\" | head -1"),
             QStringLiteral(TARVIK_CONFIG_PATH), v17},
            QStringLiteral("/bin/sh"));
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(k931.firmwareVersion(), QByteArray("K931 V1.7 Boost"));
    QVERIFY(k931.flashHoldsCompleteImage());

    // tarvik-dfu: a file with data past the chip's flash is the file's
    // fault, said before anything is erased.
    flashing::FirmwareImage past;
    past.segments.push_back({0x0807F000, runnableBytes(8192, 5)});
    const QString pastHex = dir.filePath(QStringLiteral("past.hex"));
    QFile pastFile(pastHex);
    QVERIFY(pastFile.open(QIODevice::WriteOnly));
    pastFile.write(QByteArray::fromStdString(toIntelHex(past)));
    pastFile.close();
    QVERIFY(k931.plugInBootloader());
    QTRY_COMPARE(run({QStringLiteral("list")}, QStringLiteral(TARVIK_DFU_PATH)).out.count(QLatin1Char('\n')), 2);
    erasedBefore = erased();
    r = run({QStringLiteral("write"), pastHex}, QStringLiteral(TARVIK_DFU_PATH));
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("Nada foi gravado: confira se o arquivo é para este aparelho")), qPrintable(r.err));
    QVERIFY(!r.err.contains(QStringLiteral("rode o comando de novo")));
    QCOMPARE(erased(), erasedBefore);

    // A write cut short, then a power cycle: nothing appears on USB at all.
    k931.chip().faults.writeFails = true;
    r = run({QStringLiteral("update"), QStringLiteral("--file"), hex});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("O aparelho continua no modo de atualização")), qPrintable(r.err));
    QVERIFY(!k931.flashHoldsCompleteImage());
    QTRY_VERIFY_WITH_TIMEOUT(!k931.bootloader().isPlugged(), 5000);
    QTest::qWait(3 * quick.applicationAppearsMs); // the time it would take to start
    QVERIFY(!k931.bootloader().isPlugged());
    QVERIFY(!k931.application().isPlugged());
}

// A mirror is made from a server on this computer, checked file by file,
// and then updates with the server gone; a source that is not whole or not
// safe is refused with nothing written.
void TestTarvikConfig::mirrorThenUpdateOffline()
{
    device.reset();
    SimulatedDevice k931(*testbed, quickDevice());
    QVERIFY(k931.plugInApplication());
    const QString release = dir.filePath(QStringLiteral("release"));
    QVERIFY(FirmwareServer::writeRelease(release, QStringLiteral("1.6")));
    auto server = std::make_unique<FirmwareServer>(release);
    QVERIFY(server->listen());
    const QString source = server->url().toString();

    // Refused: plain http across a network, a file the description lists
    // that is missing, one that is no K931 firmware.
    Run r = run({QStringLiteral("mirror"), dir.filePath(QStringLiteral("m0")), QStringLiteral("--source"),
                 QStringLiteral("http://192.0.2.1/fw/")});
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(QStringLiteral("https://")), qPrintable(r.err));
    const QString flex = QDir(release).filePath(QStringLiteral("K931_OBD_Flex.hex"));
    QVERIFY(QFile::rename(flex, flex + QStringLiteral(".away")));
    r = run({QStringLiteral("mirror"), dir.filePath(QStringLiteral("m1")), QStringLiteral("--source"), source});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("K931_OBD_Flex.hex não existe no servidor"))
                 && !r.err.contains(QStringLiteral("--model")),
             qPrintable(r.err));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("m1/data.json"))));
    QVERIFY(QFile::rename(flex + QStringLiteral(".away"), flex));
    QFile broken(QDir(release).filePath(QStringLiteral("K931_OBD.hex")));
    QVERIFY(broken.open(QIODevice::ReadOnly));
    const QByteArray good = broken.readAll();
    broken.close();
    QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write(":0400000001020304F2\n:00000001FF\n");
    broken.close();
    r = run({QStringLiteral("mirror"), dir.filePath(QStringLiteral("m1")), QStringLiteral("--source"), source});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("K931_OBD.hex")) && r.err.contains(QStringLiteral("Nada foi mudado")),
             qPrintable(r.err));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("m1/data.json"))));
    QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write(good);
    broken.close();

    const QString mirror = dir.filePath(QStringLiteral("pendrive"));
    r = run({QStringLiteral("mirror"), mirror, QStringLiteral("--source"), source});
    QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
    QCOMPARE(QDir(mirror).entryList(QDir::Files).size(), 5); // data.json and the four types

    // A folder of the owner's is never written into; a copy that fails
    // half-way leaves the earlier copy whole, and nothing beside it.
    const QString photos = dir.filePath(QStringLiteral("fotos"));
    QVERIFY(QDir().mkpath(photos));
    QFile photo(QDir(photos).filePath(QStringLiteral("ferias.jpg")));
    QVERIFY(photo.open(QIODevice::WriteOnly) && photo.write("jpg") == 3);
    photo.close();
    r = run({QStringLiteral("mirror"), photos, QStringLiteral("--source"), source});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(QDir(photos).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("ferias.jpg")});
    const QByteArray description16 = bytesOf(QDir(mirror).filePath(QStringLiteral("data.json")));
    QVERIFY(FirmwareServer::writeRelease(release, QStringLiteral("1.7")));
    QVERIFY(QFile::rename(flex, flex + QStringLiteral(".away")));
    r = run({QStringLiteral("mirror"), mirror, QStringLiteral("--source"), source});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("Nada foi mudado em ") + mirror), qPrintable(r.err));
    QCOMPARE(bytesOf(QDir(mirror).filePath(QStringLiteral("data.json"))), description16);
    QCOMPARE(QDir(mirror).entryList(QDir::Files).size(), 5);
    QVERIFY(QFile::rename(flex + QStringLiteral(".away"), flex));
    r = run({QStringLiteral("mirror"), mirror, QStringLiteral("--source"), source});
    QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
    QVERIFY(bytesOf(QDir(mirror).filePath(QStringLiteral("data.json"))).contains("1.7"));
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral(".pendrive*")}, QDir::AllEntries | QDir::Hidden),
             QStringList());
    QVERIFY(FirmwareServer::writeRelease(release, QStringLiteral("1.6")));
    r = run({QStringLiteral("mirror"), mirror, QStringLiteral("--source"), source});
    QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));

    // The network gone: the folder is the source.
    server.reset();
    r = run({QStringLiteral("update"), QStringLiteral("--type"), QStringLiteral("OBD + Boost"), QStringLiteral("--source"),
             mirror});
    QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
    QCOMPARE(k931.firmwareVersion(), QByteArray("K931 V1.6 Boost"));
    QVERIFY(r.out.contains(QStringLiteral("Nova versão: K931 V1.6 Boost")));
    QCOMPARE(QDir(mirror).entryList(QDir::Files).size(), 5);
    r = run({QStringLiteral("update"), QStringLiteral("--source"), dir.filePath(QStringLiteral("m1"))});
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(QStringLiteral("não existe")) || r.err.contains(QStringLiteral("data.json")),
             qPrintable(r.err));
}

// Every model name becomes a file name: a source that names files outside
// the folder (a parent, an absolute path, a path cut short by a NUL) is
// refused whole, before anything is fetched, by mirror and update alike.
void TestTarvikConfig::hostileSourcesWriteNothingOutside()
{
    const QString hex = dir.filePath(QStringLiteral("hostile.hex"));
    QVERIFY(SimulatedDevice::writeSampleFirmware(hex, "K931 V1.9 Boost"));
    LocalHttpServer server;
    QVERIFY(server.listen());
    // Whatever file is asked for, a sound firmware comes: only the names stop it.
    server.setDefault({200, bytesOf(hex), {}, {}});
    // update needs a type (the server has no file without one): refused before any download.
    Run r = run({QStringLiteral("update"), QStringLiteral("--source"), server.url(QStringLiteral("/fw/")).toString()});
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(QStringLiteral("\"OBD + Boost + Flex\"")), qPrintable(r.err));
    QVERIFY(server.requests.isEmpty());
    const QString owners = dir.filePath(QStringLiteral("owner"));
    const QStringList planted = {QStringLiteral("fora_OBD.hex"), QStringLiteral("x_OBD.hex"), QStringLiteral(".bashrc")};
    for (const QString &name : planted)
        writeBytes(QDir(owners).filePath(name), "do dono");
    const QStringList models = {QStringLiteral("../fora"), QDir(owners).filePath(QStringLiteral("x")),
                                QDir(owners).filePath(QStringLiteral(".bashrc")) + QChar(0) + QStringLiteral("/x"),
                                QStringLiteral("sub/x")};
    for (const QString &model : models) {
        const QJsonObject description{{"Modelo", QJsonArray{model}}, {"Version", "1.9"}};
        server.setResponse("/fw/data.json", {200, QJsonDocument(description).toJson(), {}, {}});
        const QString source = server.url(QStringLiteral("/fw/")).toString();
        const int fetched = server.requests.size();
        r = run({QStringLiteral("mirror"), QDir(owners).filePath(QStringLiteral("m")), QStringLiteral("--source"),
                 source});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QStringLiteral("foi recusado")), qPrintable(r.err));
        r = run({QStringLiteral("update"), QStringLiteral("--type"), QStringLiteral("OBD"), QStringLiteral("--source"),
                 source});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(server.requests.size(), fetched + 2); // data.json, twice; no firmware file
    }
    for (const QString &name : planted)
        QCOMPARE(bytesOf(QDir(owners).filePath(name)), QByteArray("do dono"));
    QCOMPARE(QDir(owners).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), planted.size());
    QVERIFY(!device->receivedBytes().contains("BOOT"));
}

// What the owner has stays: a settings file named with --restore, a
// firmware file that changes after its check, settings the new firmware has
// no place for, another device's settings (refused before "BOOT").
void TestTarvikConfig::ownersFilesStayAsTheyWere()
{
    device.reset();
    SimulatedDevice k931(*testbed, quickDevice());
    k931.application().values["RPML"] = "7300";
    QVERIFY(k931.plugInApplication());
    const QString exported = dir.filePath(QStringLiteral("carro.json"));
    QCOMPARE(run({QStringLiteral("export"), exported}).exitCode, 0);
    const QString hex16 = dir.filePath(QStringLiteral("v16.hex"));
    const QString hex17 = dir.filePath(QStringLiteral("v17.hex"));
    QVERIFY(SimulatedDevice::writeSampleFirmware(hex16, "K931 V1.6 Boost"));
    QVERIFY(SimulatedDevice::writeSampleFirmware(hex17, "K931 V1.7"));

    // Replaced on disk once checked (a sync client): the checked image goes
    // in. The owner's file, named through a link of the owner's, stays.
    const QByteArray checked = bytesOf(hex16);
    const QString link = dir.filePath(QStringLiteral("carro-link.json"));
    QVERIFY(QFile::link(exported, link));
    Run r = runActing({QStringLiteral("update"), QStringLiteral("--file"), hex16, QStringLiteral("--restore"), link},
                      QStringLiteral("Enviando \"BOOT\""), [&](qint64) { writeBytes(hex16, bytesOf(hex17)); });
    QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
    QCOMPARE(k931.firmwareVersion(), QByteArray("K931 V1.6 Boost"));
    QCOMPARE(k931.application().values.value("RPML"), QByteArray("7300"));
    QVERIFY2(QFileInfo::exists(exported), "the owner's settings file was removed");

    // To a firmware without Boost: the sensor range has no place there, the rest goes back.
    writeBytes(hex16, checked);
    r = run({QStringLiteral("update"), QStringLiteral("--keep-settings"), QStringLiteral("--file"), hex17});
    QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
    QCOMPARE(k931.firmwareVersion(), QByteArray("K931 V1.7"));
    QCOMPARE(k931.application().values.value("RPML"), QByteArray("7300"));
    QVERIFY2(r.out.contains(QStringLiteral("sensor")) && r.out.contains(QStringLiteral("fica de fora")),
             qPrintable(r.out));

    // Another device's settings: refused while the K931 still runs its firmware.
    QJsonObject other = QJsonDocument::fromJson(bytesOf(exported)).object();
    other.insert(QStringLiteral("serial"), QStringLiteral("0123456789AB"));
    const QString otherFile = dir.filePath(QStringLiteral("outro.json"));
    writeBytes(otherFile, QJsonDocument(other).toJson());
    r = run({QStringLiteral("update"), QStringLiteral("--file"), hex16, QStringLiteral("--restore"), otherFile});
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(QStringLiteral("outro aparelho")), qPrintable(r.err));
    QCOMPARE(k931.firmwareVersion(), QByteArray("K931 V1.7"));
    QVERIFY(QFileInfo::exists(otherFile));
    // Found in its bootloader, the device is known by its chip's serial there.
    k931.unplug();
    QVERIFY(k931.plugInBootloader());
    r = run({QStringLiteral("update"), QStringLiteral("--file"), hex16, QStringLiteral("--restore"), otherFile});
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(QStringLiteral("outro aparelho")) && !r.err.contains(QStringLiteral("import")),
             qPrintable(r.err));
    QCOMPARE(k931.firmwareVersion(), QByteArray("K931 V1.7"));
    QCOMPARE(QDir(dir.filePath(QStringLiteral("tmp"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());
}

QTEST_MAIN(TestTarvikConfig)
#include "tst_tarvikconfig.moc"
