// SPDX-License-Identifier: GPL-3.0-or-later
// The window and tarvik-config are two front ends over one description of
// the K931: for the same read-out and the same settings the device must
// receive the very same bytes from either.
#include "mainwindow.h"
#include "mainwindowstate.h"
#include "modalanswerer.h"
#include "serialtestbed.h"
#include "settings.h"
#include "simulatedk931.h"
#include "testwindow.h"
#include "windowparts.h"

#include <QProcess>
#include <QtTest>
#include <QtWidgets>

namespace {

constexpr int kConnectTimeoutMs = 8000;

// One row a setting the window shows in a field or a check box: its widget,
// its command-line key and a value other than the simulated device's
// default, so that a value taken from the wrong field or written in another
// form shows.
const struct {
    const char *widget;
    const char *key;
    const char *value;
} kEdits[] = {
    {"RpmShiftLightVal", "rpm", "7250"},
    {"TurboPressureAlertVal", "turbo", "1.85"},
    {"SetHallmeterRicoVal", "rich", "0.9"},
    {"SetHallmeterPobreVal", "lean", "1e-1"},
    {"PiscaShiftLight", "blink", "0"},
    {"ZerarPicoTurbo", "turbo-reset", "0"},
};

QList<QByteArray> queries(const QList<QByteArray> &received)
{
    QList<QByteArray> list;
    for (const QByteArray &bytes : received) {
        if (bytes.startsWith('?'))
            list << bytes;
    }
    return list;
}

QList<QByteArray> setCommands(const QList<QByteArray> &received)
{
    QList<QByteArray> list;
    for (const QByteArray &bytes : received) {
        if (bytes.startsWith('>'))
            list << bytes;
    }
    return list;
}

} // namespace

class TestFrontEnds : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void sameBytesForTheSameWork_data();
    void sameBytesForTheSameWork();

private:
    QList<QByteArray> throughTheWindow(const QByteArray &version, bool fiveBar);
    QList<QByteArray> throughTarvikConfig(const QByteArray &version, const QStringList &args);

    std::unique_ptr<SerialTestbed> testbed;
};

void TestFrontEnds::initTestCase()
{
    // Ports of its own (ttyACM8 on): this suite runs beside the window's.
    testbed = std::make_unique<SerialTestbed>(8);
    QVERIFY2(SerialTestbed::available(), "run with LD_PRELOAD=libumockdev-preload.so.0");
}

// What the device received from a window that read it, had its fields
// edited and pressed "Configurar".
QList<QByteArray> TestFrontEnds::throughTheWindow(const QByteArray &version, bool fiveBar)
{
    resetMainWindowState();
    SimulatedK931 device(*testbed);
    device.values["VERS"] = version;
    if (!device.plug())
        return {};
    ModalAnswerer answerer;
    MainWindow window(nullptr, offlineConfiguration());
    window.show();
    if (!QTest::qWaitFor([] { return deviceAnswered; }, kConnectTimeoutMs))
        return {};
    for (const auto &edit : kEdits) {
        if (auto *field = window.findChild<QLineEdit *>(QLatin1String(edit.widget)))
            field->setText(QLatin1String(edit.value));
        else
            part<QCheckBox>(&window, edit.widget)->setChecked(edit.value == QByteArray("1"));
    }
    part<QRadioButton>(&window, fiveBar ? "RadioSensorType5Bar" : "RadioSensorType3Bar")->setChecked(true);
    part<QPushButton>(&window, "SetAllCalibrations")->click();
    if (!QTest::qWaitFor([&] { return !answerer.boxes.isEmpty(); }, 10000))
        return {};
    if (answerer.boxes.first().title != QStringLiteral("Sucesso"))
        qWarning() << "the window said" << answerer.boxes.first().text;
    return device.receivedBytes();
}

QList<QByteArray> TestFrontEnds::throughTarvikConfig(const QByteArray &version, const QStringList &args)
{
    SimulatedK931 device(*testbed);
    device.values["VERS"] = version;
    if (!device.plug())
        return {};
    QProcess process;
    process.setProcessEnvironment(testbed->childEnvironment());
    process.start(QStringLiteral(TARVIK_CONFIG_PATH), args);
    // The simulated device answers from this event loop.
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 30000)) {
        process.kill();
        return {};
    }
    if (process.exitCode() != 0)
        qWarning() << "tarvik-config said" << process.readAllStandardError();
    return device.receivedBytes();
}

void TestFrontEnds::sameBytesForTheSameWork_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<bool>("fiveBar");
    // Every setting changed from the simulated device's default, so that a
    // value taken from the wrong field or written in another form shows.
    QTest::newRow("with Boost") << QByteArray("K931 V1.5 Boost") << false;
    QTest::newRow("without Boost, 5 bar checked") << QByteArray("K931 V1.5") << true;
}

void TestFrontEnds::sameBytesForTheSameWork()
{
    QFETCH(QByteArray, version);
    QFETCH(bool, fiveBar);
    const QList<QByteArray> window = throughTheWindow(version, fiveBar);
    QVERIFY(!window.isEmpty());

    const QList<QByteArray> read = throughTarvikConfig(version, {QStringLiteral("read")});
    QCOMPARE(read, queries(window));

    QStringList write = {QStringLiteral("write")};
    for (const auto &edit : kEdits)
        write << QStringLiteral("%1=%2").arg(QLatin1String(edit.key), QLatin1String(edit.value));
    // The window sends the range of a device without Boost too, as its
    // radio buttons stand; the command line refuses to, so there the
    // comparison leaves it out.
    if (version.contains("Boost"))
        write << (fiveBar ? QStringLiteral("sensor=5bar") : QStringLiteral("sensor=3bar"));
    QList<QByteArray> windowSets = setCommands(window);
    if (!version.contains("Boost"))
        windowSets.removeIf([](const QByteArray &bytes) { return bytes.startsWith(">KBOS"); });
    const QList<QByteArray> written = throughTarvikConfig(version, write);
    QCOMPARE(setCommands(written), windowSets);
    // Every setting of the device's table went out, none twice.
    const qsizetype settable = settings::keys().size();
    QCOMPARE(windowSets.size(), version.contains("Boost") ? settable : settable - 1);
}

QTEST_MAIN(TestFrontEnds)
#include "tst_frontends.moc"
