// tarvik-config as an installer runs it, against simulated K931s on their
// serial ports: what it prints, what reaches the device, and that a value
// the device did not keep is never reported as written.
#include "localhttpserver.h"
#include "serialtestbed.h"
#include "simulateddevice.h"
#include "simulatedk931.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

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
    void noDeviceOrASilentOne();
    void updateRestoresTheSettings();

private:
    Run run(const QStringList &args);

    std::unique_ptr<SerialTestbed> testbed;
    std::unique_ptr<SimulatedK931> device;
    QTemporaryDir dir;
};

void TestTarvikConfig::initTestCase()
{
    testbed = std::make_unique<SerialTestbed>();
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
Run TestTarvikConfig::run(const QStringList &args)
{
    QProcess process;
    QProcessEnvironment env = testbed->childEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.path()); // where update keeps its files
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(TARVIK_CONFIG_PATH), args);
    const bool ended = QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000);
    if (!ended)
        process.kill();
    return {ended ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
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
    QCOMPARE(json.value(QStringLiteral("settings")).toObject().value(QStringLiteral("turbo")).toString(),
             QStringLiteral("1.5"));
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
                 QStringLiteral("colour=red")});
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.err.contains(QStringLiteral("rpm: número inteiro sem sinal")));
    QVERIFY(r.err.contains(QStringLiteral("turbo: número com ponto decimal")));
    QVERIFY(r.err.contains(QStringLiteral("colour=red")));
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

    // The file of a boost device into one without boost, a damaged file, a
    // value out of range: refused before anything is sent.
    second.values["VERS"] = "K931 V1.5";
    second.received.clear();
    r = run({QStringLiteral("import"), file, QStringLiteral("--port"), second.portName()});
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(QStringLiteral("sem Boost")), qPrintable(r.err));
    QVERIFY(setCommandsReceived(second).isEmpty());
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
    SimulatedDevice::Timing quick;
    quick.bootloaderAppearsMs = 300;
    quick.applicationAppearsMs = 200;
    quick.replugAfterWriteMs = 300;
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

    k931.application().values["RPML"] = "6900";
    k931.chip().faults.writeFails = true;
    r = run(update);
    QCOMPARE(r.exitCode, 1);
    const QString kept = dir.filePath(QStringLiteral("tarvik-config/K931_OBD_Boost.hex.configuracoes.json"));
    QVERIFY2(r.err.contains(QStringLiteral("continuam em ") + kept), qPrintable(r.err));
    QFile file(kept);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("\"rpm\": \"6900\""));
    QVERIFY(!r.out.contains(QStringLiteral("Nova versão")));
}

QTEST_MAIN(TestTarvikConfig)
#include "tst_tarvikconfig.moc"
