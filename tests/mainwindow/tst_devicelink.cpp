// SPDX-License-Identifier: GPL-3.0-or-later
// The device link end to end: the real MainWindow finds the simulated K931
// through QSerialPortInfo (umockdev), reads its settings and uploads them.
// The first case keeps the program's real delays (five seconds before the
// port is opened, 500 ms between set commands) to check them; the others
// run with short ones.
#include "windowparts.h"
#include "serialtestbed.h"
#include "simulatedk931.h"

#include "mainwindow.h"
#include "mainwindowstate.h"
#include "modalanswerer.h"
#include "localhttpserver.h"
#include "testwindow.h"
#include "ledindicator.h"
#include "protocol.h"
#include "settings.h"

#include <QSerialPortInfo>
#include <QtTest>
#include <QtWidgets>

namespace {

// The set commands among what the device received: after an upload the
// window reads the device again.
QList<SimulatedK931::Message> setCommands(const QList<SimulatedK931::Message> &received)
{
    QList<SimulatedK931::Message> sets;
    for (const SimulatedK931::Message &m : received) {
        if (m.bytes.startsWith('>'))
            sets << m;
    }
    return sets;
}

// The window walks the settings table's chain; tst_protocol pins its order.
QList<QByteArray> queryChain()
{
    QList<QByteArray> queries;
    for (const settings::Key *key = &settings::firstInChain(); key; key = settings::nextInChain(key))
        queries << protocol::query(key->mnemonic());
    return queries;
}

const QList<QByteArray> kQueryChain = queryChain();
// A reply crosses the pseudo-terminal and is parsed well within this: what
// the window would send in answer to it has been sent by then.
constexpr int kReplyMs = 300;
constexpr int kConnectTimeoutMs = 9000;

} // namespace

class TestDeviceLink : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void readOutThenUploads();
    void unplugResetsAndReplugReadsAgain();
    void unplugDuringUpgradeKeepsLampAndTexts();
    void silentDeviceStopsTheChain();
    void misbehavingReplies();
    void onlyTheRightProductAndTheFirstPort();
    void busyPortGoesBackToScanning();
    void uploadWithoutDeviceOrInvalidFields();
    void boostInAnyLetterCase();
    void resourceErrorWhileStillListed();
    void bareAndEchoedReplies();

private:
    void openWindow(const MainWindowConfiguration &configuration = offlineConfiguration());
    void waitConnected(SimulatedK931 &device);
    QList<QByteArray> sentAfter(SimulatedK931 &device, int from) const;
    std::unique_ptr<SerialTestbed> testbed;
    std::unique_ptr<SimulatedK931> device;
    std::unique_ptr<MainWindow> window;
    QWidget *ui = nullptr; // the window, whose widgets are found by name
};

void TestDeviceLink::initTestCase()
{
    // Ports of its own (ttyACM24 on): their lock files are no other suite's.
    testbed = std::make_unique<SerialTestbed>(24);
    QVERIFY2(SerialTestbed::available(), "run with LD_PRELOAD=libumockdev-preload.so.0");
}

void TestDeviceLink::init()
{
    resetMainWindowState();
    device = std::make_unique<SimulatedK931>(*testbed);
}

void TestDeviceLink::cleanup()
{
    window.reset();
    device.reset();
}

void TestDeviceLink::openWindow(const MainWindowConfiguration &configuration)
{
    window = std::make_unique<MainWindow>(nullptr, configuration);
    ui = window.get();
    window->show();
}

void TestDeviceLink::waitConnected(SimulatedK931 &dev)
{
    QTRY_VERIFY_WITH_TIMEOUT(dev.receivedBytes().contains("?KBOS"), kConnectTimeoutMs);
    // The animation runs its course however soon the port was opened.
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(ui, "label_4")->text(), QStringLiteral("Conectado"), 6000);
    QTRY_VERIFY(deviceAnswered);
}

QList<QByteArray> TestDeviceLink::sentAfter(SimulatedK931 &dev, int from) const
{
    QList<QByteArray> bytes;
    for (const auto &m : dev.received.mid(from))
        bytes << m.bytes;
    return bytes;
}

// Set commands far enough apart that a test can act between two of them.
MainWindowConfiguration slowPacing()
{
    MainWindowConfiguration configuration = offlineConfiguration();
    configuration.commandIntervalMs = 300;
    return configuration;
}

void TestDeviceLink::readOutThenUploads()
{
    openWindow(realConfiguration(closedLocalUrl(QStringLiteral("/"))));
    QVERIFY(device->plug());
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(ui, "ProgessText")->text(), QStringLiteral("Conectando"), 2000);
    waitConnected(*device);

    // "?VERS" five seconds after the scan saw the device (the scan runs
    // every second, up to 5 % late), then the chain in order, nothing else.
    QCOMPARE(device->receivedBytes(), kQueryChain);
    const qint64 versAt = device->received.first().atMs;
    QVERIFY2(versAt >= 5000 && versAt <= 6300, qPrintable(QString::number(versAt)));

    QCOMPARE(part<QLineEdit>(ui, "VersionBox")->text(), QStringLiteral("K931 V1.5 Boost"));
    QCOMPARE(part<QLineEdit>(ui, "RpmShiftLightVal")->text(), QStringLiteral("6500"));
    QCOMPARE(part<QLineEdit>(ui, "TurboPressureAlertVal")->text(), QStringLiteral("1.5"));
    QCOMPARE(part<QLineEdit>(ui, "SetHallmeterPobreVal")->text(), QStringLiteral("450"));
    QCOMPARE(part<QLineEdit>(ui, "SetHallmeterRicoVal")->text(), QStringLiteral("850"));
    QVERIFY(part<QCheckBox>(ui, "ZerarPicoTurbo")->isChecked());
    QVERIFY(part<QCheckBox>(ui, "PiscaShiftLight")->isChecked());
    QCOMPARE(part<QLabel>(ui, "LabelHallmeterLean")->text(), QStringLiteral("Hallmeter Mistura Pobre (mV)"));
    QCOMPARE(part<QLabel>(ui, "LabelHallmeterRich")->text(), QStringLiteral("Hallmeter Mistura Rica (mV)"));
    QVERIFY(part<QRadioButton>(ui, "RadioSensorType3Bar")->isEnabled());
    QVERIFY(part<QRadioButton>(ui, "RadioSensorType5Bar")->isChecked());
    QVERIFY(part<LedIndicator>(window.get(), "deviceLamp")->isOn());
    QCOMPARE(part<QProgressBar>(ui, "progressBar")->value(), 100);
    QVERIFY(deviceAnswered);

    // A repeated value reply replaces the field, it does not append; the
    // chain it restarts runs to its end again.
    deviceAnswered = false;
    device->send(">RPML6500");
    QTRY_VERIFY(deviceAnswered);
    QCOMPARE(device->receivedBytes().count("?TURA"), 2);
    QCOMPARE(part<QLineEdit>(ui, "RpmShiftLightVal")->text(), QStringLiteral("6500"));

    // The upload: one command per setting from the widgets, 500 ms apart.
    part<QLineEdit>(ui, "RpmShiftLightVal")->setText(QStringLiteral("7000"));
    part<QLineEdit>(ui, "TurboPressureAlertVal")->setText(QStringLiteral("1.5"));
    part<QLineEdit>(ui, "SetHallmeterRicoVal")->setText(QStringLiteral("0.9"));
    part<QLineEdit>(ui, "SetHallmeterPobreVal")->setText(QStringLiteral("1e-1"));
    part<QCheckBox>(ui, "ZerarPicoTurbo")->setChecked(false);
    part<QRadioButton>(ui, "RadioSensorType3Bar")->setChecked(true);
    ModalAnswerer answerer;
    int from = int(device->received.size());
    part<QPushButton>(ui, "SetAllCalibrations")->click();
    QTRY_VERIFY_WITH_TIMEOUT(answerer.sawBox(QStringLiteral("Sucesso")), 6000);
    QList<SimulatedK931::Message> sent = setCommands(device->received.mid(from));
    // One command per setting; those the firmware has always had keep
    // their bytes and their order.
    QCOMPARE(sent.size(), settings::keys().size());
    QList<QByteArray> bytes;
    for (const auto &m : sent)
        if (QByteArrayList{"KSBM", "TURA", "RPML", "HALR", "HALP", "TURZ", "KBOS"}.contains(m.bytes.mid(1, 4)))
            bytes << m.bytes;
    QCOMPARE(bytes, (QList<QByteArray>{QByteArray::fromHex("3E4B53424D00000001"), QByteArray::fromHex("3E545552413FC00000"),
                                       QByteArray::fromHex("3E52504D4C00001B58"), QByteArray::fromHex("3E48414C523F666666"),
                                       QByteArray::fromHex("3E48414C503DCCCCCD"), QByteArray::fromHex("3E5455525A00000000"),
                                       QByteArray::fromHex("3E4B424F5300000000")}));
    for (int i = 1; i < sent.size(); ++i) {
        const qint64 gap = sent[i].atMs - sent[i - 1].atMs;
        QVERIFY2(gap >= 400 && gap <= 650, qPrintable(QString::number(gap)));
    }
    QCOMPARE(answerer.boxes.last().text, QStringLiteral("Todas as calibrações foram enviadas com sucesso!"));

    // Unplugged half-way through an upload: a failure, never the success box.
    from = int(device->received.size());
    part<QPushButton>(ui, "SetAllCalibrations")->click();
    QTRY_VERIFY_WITH_TIMEOUT(device->received.size() >= from + 2, 3000);
    device->unplug();
    QTRY_VERIFY_WITH_TIMEOUT(answerer.sawBox(QStringLiteral("Erro")), 3000);
    QTest::qWait(delays::kCommandIntervalMs + 100); // past the next command's turn: still no success
    QCOMPARE(answerer.boxes.last().title, QStringLiteral("Erro"));
    QCOMPARE(part<QLabel>(ui, "label_4")->text(), QStringLiteral("Desconectado"));
}

void TestDeviceLink::unplugResetsAndReplugReadsAgain()
{
    QVERIFY(device->plug());
    openWindow();
    waitConnected(*device);
    device->values["SONT"] = "1";

    device->unplug();
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(ui, "label_4")->text(), QStringLiteral("Desconectado"), 2000);
    for (QLineEdit *edit : {part<QLineEdit>(ui, "VersionBox"), part<QLineEdit>(ui, "RpmShiftLightVal"), part<QLineEdit>(ui, "TurboPressureAlertVal"), part<QLineEdit>(ui, "SetHallmeterPobreVal"),
                            part<QLineEdit>(ui, "SetHallmeterRicoVal")})
        QVERIFY(edit->text().isEmpty());
    QVERIFY(!part<QCheckBox>(ui, "ZerarPicoTurbo")->isChecked());
    QVERIFY(!part<QCheckBox>(ui, "PiscaShiftLight")->isChecked());
    QCOMPARE(part<QLabel>(ui, "LabelHallmeterLean")->text(), QStringLiteral("Hallmeter Mistura Pobre"));
    QCOMPARE(part<QLabel>(ui, "LabelHallmeterRich")->text(), QStringLiteral("Hallmeter Mistura Rica"));
    QVERIFY(!part<QRadioButton>(ui, "RadioSensorType3Bar")->isEnabled());
    QVERIFY(!part<QRadioButton>(ui, "RadioSensorType5Bar")->isEnabled());
    QVERIFY(part<QRadioButton>(ui, "RadioSensorType5Bar")->isChecked()); // checked state kept
    QVERIFY(!part<QPushButton>(ui, "UpgradeButton")->isEnabled());
    QCOMPARE(part<QProgressBar>(ui, "progressBar")->value(), 0);
    QVERIFY(!part<LedIndicator>(window.get(), "deviceLamp")->isOn());
    QVERIFY(part<QLabel>(ui, "ProgessText")->text().isEmpty());
    QVERIFY(!window->findChild<QSerialPort *>()->isOpen());
    QVERIFY(!deviceAnswered);
    QVERIFY(portScanTimer->isActive());

    // Plugged again: the whole read-out again, "?VERS" included.
    QVERIFY(device->plug());
    waitConnected(*device);
    QCOMPARE(device->receivedBytes(), kQueryChain);
    QCOMPARE(part<QLabel>(ui, "LabelHallmeterLean")->text(), QStringLiteral("Hallmeter Mistura Pobre (λ)"));
    QCOMPARE(part<QLabel>(ui, "LabelHallmeterRich")->text(), QStringLiteral("Hallmeter Mistura Rica (λ)"));
    QVERIFY(part<LedIndicator>(window.get(), "deviceLamp")->isOn());
}

void TestDeviceLink::unplugDuringUpgradeKeepsLampAndTexts()
{
    QVERIFY(device->plug());
    openWindow();
    waitConnected(*device);
    upgradeInProgress = true;
    part<QLabel>(ui, "ProgessText")->setText(QStringLiteral("Baixando"));
    device->unplug();
    QTRY_VERIFY_WITH_TIMEOUT(part<QLineEdit>(ui, "VersionBox")->text().isEmpty(), 2000);
    QVERIFY(!window->findChild<QSerialPort *>()->isOpen());
    QVERIFY(part<LedIndicator>(window.get(), "deviceLamp")->isOn());
    QCOMPARE(part<QLabel>(ui, "label_4")->text(), QStringLiteral("Conectado"));
    QCOMPARE(part<QLabel>(ui, "ProgessText")->text(), QStringLiteral("Baixando"));
    QVERIFY(!part<QPushButton>(ui, "UpgradeButton")->isEnabled());
    upgradeInProgress = false;
}

void TestDeviceLink::silentDeviceStopsTheChain()
{
    device->setBehaviour("HALR", SimulatedK931::Behaviour::Silent);
    QVERIFY(device->plug());
    openWindow();
    QTRY_VERIFY_WITH_TIMEOUT(device->receivedBytes().contains("?HALR"), kConnectTimeoutMs);
    // The chain moves on only on a reply: by the end of the animation a
    // window that did not wait for one would have asked again.
    QTRY_COMPARE(part<QLabel>(ui, "label_4")->text(), QStringLiteral("Conectado"));
    QCOMPARE(device->receivedBytes(), kQueryChain.mid(0, 5));
    QVERIFY(!deviceAnswered);
    QVERIFY(part<QLineEdit>(ui, "SetHallmeterRicoVal")->text().isEmpty());

    // Settings never read must not be written over the device's.
    part<QLineEdit>(ui, "SetHallmeterRicoVal")->setText(QStringLiteral("0.9"));
    ModalAnswerer answerer;
    const int from = int(device->received.size());
    part<QPushButton>(ui, "SetAllCalibrations")->click();
    QTRY_COMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes[0].title, QStringLiteral("Aviso"));
    QVERIFY(answerer.boxes[0].text.startsWith(QStringLiteral("As configurações do aparelho ainda não foram lidas.")));
    QTest::qWait(2 * offlineConfiguration().commandIntervalMs); // past the first command's turn
    QCOMPARE(device->received.size(), from);
    QCOMPARE(answerer.boxes.size(), 1);
}

void TestDeviceLink::misbehavingReplies()
{
    // A split reply is two chunks (the first, exactly 5 bytes, reads as an
    // empty value); joined replies are one chunk; a CR spoils a flag.
    device->setBehaviour("RPML", SimulatedK931::Behaviour::Split);
    device->setBehaviour("TURA", SimulatedK931::Behaviour::JoinWithNext);
    device->setBehaviour("TURZ", SimulatedK931::Behaviour::TrailingCR);
    device->setBehaviour("SONT", SimulatedK931::Behaviour::Echo);
    device->values["VERS"] = "K931 V1.4";
    QVERIFY(device->plug());
    openWindow();
    QTRY_VERIFY_WITH_TIMEOUT(deviceAnswered, kConnectTimeoutMs);
    QVERIFY(part<QLineEdit>(ui, "RpmShiftLightVal")->text().isEmpty());   // "6500" came as a chunk of its own
    QCOMPARE(part<QLineEdit>(ui, "TurboPressureAlertVal")->text(), QStringLiteral("1.5>HALP450")); // only the first is read
    QCOMPARE(part<QLineEdit>(ui, "SetHallmeterPobreVal")->text(), QStringLiteral("450"));
    device->unplug();
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(ui, "label_4")->text(), QStringLiteral("Desconectado"), 9000);

    device->clearBehaviours();
    device->setBehaviour("TURZ", SimulatedK931::Behaviour::TrailingCR);
    device->setBehaviour("SONT", SimulatedK931::Behaviour::Echo);
    device->setBehaviour("KSBM", SimulatedK931::Behaviour::Garbage);
    QVERIFY(device->plug());
    QTRY_VERIFY_WITH_TIMEOUT(device->receivedBytes().contains("?KSBM"), kConnectTimeoutMs);
    QTest::qWait(kReplyMs);
    QVERIFY(!part<QCheckBox>(ui, "ZerarPicoTurbo")->isChecked());                       // ">TURZ1\r" is no flag text
    QCOMPARE(part<QLabel>(ui, "LabelHallmeterLean")->text(), QStringLiteral("Hallmeter Mistura Pobre")); // "?SONT" echoed
    QVERIFY(!device->receivedBytes().contains("?KBOS"));            // garbage stops the chain
    // A version without "Boost": the radios stay disabled after KBOS.
    device->send(">KBOS1");
    QTRY_VERIFY(deviceAnswered);
    QVERIFY(!part<QRadioButton>(ui, "RadioSensorType3Bar")->isEnabled());
    QVERIFY(!part<QRadioButton>(ui, "RadioSensorType5Bar")->isEnabled());
}

void TestDeviceLink::onlyTheRightProductAndTheFirstPort()
{
    SimulatedK931::Identity otherProduct;
    otherProduct.index = 2;
    otherProduct.productId = 0x5741;
    SimulatedK931 other(*testbed, otherProduct);
    QVERIFY(other.plug());
    SimulatedK931::Identity otherVendor;
    otherVendor.index = 3;
    otherVendor.vendorId = 0x0484;
    SimulatedK931 foreign(*testbed, otherVendor);
    QVERIFY(foreign.plug());
    openWindow();
    QTest::qWait(5 * offlineConfiguration().portScanIntervalMs); // several scans saw them
    QVERIFY(part<QLabel>(ui, "ProgessText")->text().isEmpty());
    QVERIFY(portScanTimer->isActive());

    SimulatedK931::Identity secondPort;
    secondPort.index = 1;
    SimulatedK931 second(*testbed, secondPort);
    QVERIFY(device->plug());
    QVERIFY(second.plug());
    QString first;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        if (info.productIdentifier() == 0x5740) {
            first = info.portName();
            break;
        }
    }
    QVERIFY(!first.isEmpty());
    SimulatedK931 &expected = first == device->portName() ? *device : second;
    SimulatedK931 &ignored = first == device->portName() ? second : *device;
    waitConnected(expected);
    QCOMPARE(window->findChild<QSerialPort *>()->portName(), first);
    QVERIFY(ignored.received.isEmpty());
    QVERIFY(other.received.isEmpty());
    QVERIFY(foreign.received.isEmpty());
    window.reset();
}

void TestDeviceLink::busyPortGoesBackToScanning()
{
    QVERIFY(device->plug());
    device->holdPortExclusively(true);
    openWindow();
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(ui, "ProgessText")->text(), QStringLiteral("Porta ocupada"), kConnectTimeoutMs);
    QCOMPARE(part<QLabel>(ui, "label_4")->text(), QStringLiteral("Desconectado"));
    QVERIFY(!part<LedIndicator>(window.get(), "deviceLamp")->isOn());
    QVERIFY(device->received.isEmpty());
    QVERIFY(!progressTimer.isActive());
    QVERIFY(portScanTimer->isActive());

    // While the port stays held the reason stays on screen, the bar at 0
    // (it used to show for one scan period in six, "Conectando" the rest).
    int samples = 0;
    int shown = 0;
    QElapsedTimer held;
    held.start();
    while (held.elapsed() < 1000) {
        QTest::qWait(20);
        ++samples;
        shown += part<QLabel>(ui, "ProgessText")->text() == QLatin1String("Porta ocupada") && part<QProgressBar>(ui, "progressBar")->value() == 0;
    }
    QVERIFY2(shown >= samples * 9 / 10, qPrintable(QStringLiteral("%1 of %2").arg(shown).arg(samples)));
    QVERIFY(device->received.isEmpty());

    // Released by the other program, the next attempt connects as usual.
    device->holdPortExclusively(false);
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(ui, "ProgessText")->text(), QStringLiteral("Conectando"), 2000);
    waitConnected(*device);
    QCOMPARE(device->receivedBytes(), kQueryChain);
}

void TestDeviceLink::uploadWithoutDeviceOrInvalidFields()
{
    openWindow(slowPacing());
    ModalAnswerer answerer;
    part<QPushButton>(ui, "SetAllCalibrations")->click();
    QTRY_COMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes[0].text, QStringLiteral("Aparelho não conectado"));
    QTest::qWait(2 * slowPacing().commandIntervalMs); // past the first command's turn
    QCOMPARE(answerer.boxes.size(), 1); // nothing queued, no success later

    QVERIFY(device->plug());
    waitConnected(*device);
    const struct {
        const char *rpm, *turbo;
        QStringList named;
    } cases[] = {
        {"", "1.5", {"Rpm Shift Light"}},
        {"-1", "1,5", {"Rpm Shift Light", "Turbo Pressure Alert"}},
        {"7000.5", "1.5", {"Rpm Shift Light"}},
        {"4294967296", "abc", {"Rpm Shift Light", "Turbo Pressure Alert"}},
    };
    const int from = int(device->received.size());
    for (const auto &c : cases) {
        part<QLineEdit>(ui, "RpmShiftLightVal")->setText(QString::fromLatin1(c.rpm));
        part<QLineEdit>(ui, "TurboPressureAlertVal")->setText(QString::fromLatin1(c.turbo));
        const int boxes = int(answerer.boxes.size());
        part<QPushButton>(ui, "SetAllCalibrations")->click();
        QTRY_COMPARE(answerer.boxes.size(), boxes + 1);
        const QString text = answerer.boxes.last().text;
        QVERIFY2(text.startsWith(QStringLiteral("Valor inválido em: ") + c.named.join(QStringLiteral(", ")) + "\n"),
                 qPrintable(text));
    }
    QTest::qWait(2 * slowPacing().commandIntervalMs);
    QCOMPARE(device->received.size(), from);

    // A valid press, then one refused for a field once the first command
    // went out: the first upload ends with the refusal, no "Sucesso" follows.
    part<QLineEdit>(ui, "RpmShiftLightVal")->setText(QStringLiteral("6500"));
    part<QLineEdit>(ui, "TurboPressureAlertVal")->setText(QStringLiteral("1.5"));
    const int boxes = int(answerer.boxes.size());
    const qint64 firstPressAt = device->elapsedMs();
    part<QPushButton>(ui, "SetAllCalibrations")->click();
    QTRY_COMPARE(device->received.size(), from + 1); // the first command went out
    part<QLineEdit>(ui, "TurboPressureAlertVal")->setText(QStringLiteral("x"));
    part<QPushButton>(ui, "SetAllCalibrations")->click();
    QTRY_COMPARE(answerer.boxes.size(), boxes + 1);
    QCOMPARE(answerer.boxes.last().title, QStringLiteral("Aviso"));
    // Past the turn of the first upload's last command.
    QTest::qWait(int(firstPressAt + (settings::keys().size() + 1) * slowPacing().commandIntervalMs - device->elapsedMs()));
    QCOMPARE(answerer.boxes.size(), boxes + 1);
    QCOMPARE(sentAfter(*device, from), (QList<QByteArray>{QByteArray::fromHex("3E4B53424D00000001")}));

    // Neither radio selected: six commands. A second press half a period
    // later restarts the queue from the widgets as they are then.
    for (const char *radio : {"RadioSensorType3Bar", "RadioSensorType5Bar"}) {
        part<QRadioButton>(ui, radio)->setAutoExclusive(false);
        part<QRadioButton>(ui, radio)->setChecked(false);
        part<QRadioButton>(ui, radio)->setAutoExclusive(true);
    }
    part<QLineEdit>(ui, "TurboPressureAlertVal")->setText(QStringLiteral("1.5"));
    part<QLineEdit>(ui, "RpmShiftLightVal")->setText(QStringLiteral("6000"));
    const int before = int(device->received.size());
    const int boxesBefore = int(answerer.boxes.size());
    part<QPushButton>(ui, "SetAllCalibrations")->click();
    QTest::qWait(slowPacing().commandIntervalMs / 2);
    part<QLineEdit>(ui, "RpmShiftLightVal")->setText(QStringLiteral("6500"));
    const qint64 pressAt = device->elapsedMs();
    part<QPushButton>(ui, "SetAllCalibrations")->click();
    QTRY_VERIFY_WITH_TIMEOUT(answerer.boxes.size() > boxesBefore, 6000);
    const auto resent = setCommands(device->received.mid(before));
    // Without Boost the sensor range is not sent.
    QCOMPARE(resent.size(), settings::keys().size() - 1);
    QCOMPARE(resent[0].bytes, QByteArray::fromHex("3E4B53424D00000001"));
    QVERIFY2(resent[0].atMs - pressAt >= 250, qPrintable(QString::number(resent[0].atMs - pressAt)));
    QCOMPARE(resent[2].bytes, QByteArray::fromHex("3E52504D4C00001964"));
    QCOMPARE(answerer.boxes.last().title, QStringLiteral("Sucesso"));

    // Unplugged after the last command, before the tick that reports: the
    // device may not have stored it, so no "Sucesso".
    const int sets = int(setCommands(device->received).size());
    const int boxesThen = int(answerer.boxes.size());
    part<QPushButton>(ui, "SetAllCalibrations")->click();
    QTRY_VERIFY_WITH_TIMEOUT(setCommands(device->received).size() == sets + 6, 6000);
    device->unplug();
    QTRY_COMPARE(answerer.boxes.size(), boxesThen + 1);
    QCOMPARE(answerer.boxes.last().title, QStringLiteral("Erro"));
    QTest::qWait(2 * slowPacing().commandIntervalMs); // past the reporting tick
    QCOMPARE(answerer.boxes.size(), boxesThen + 1);
}

// The version text names boost support in whatever letter case the firmware
// writes it.
void TestDeviceLink::boostInAnyLetterCase()
{
    openWindow();
    for (const char *version : {"K931 V1.5 BOOST", "K931 V1.5 boost"}) {
        device->values["VERS"] = version;
        QVERIFY(device->plug());
        QTRY_VERIFY_WITH_TIMEOUT(deviceAnswered, kConnectTimeoutMs);
        QVERIFY2(part<QRadioButton>(ui, "RadioSensorType3Bar")->isEnabled() && part<QRadioButton>(ui, "RadioSensorType5Bar")->isEnabled(), version);
        device->unplug();
        QTRY_VERIFY_WITH_TIMEOUT(!deviceAnswered, 3000);
    }
}

// On Windows an unplugged device may first stay listed while the port
// reports ResourceError: the window resets, and the next scan connects anew,
// with the whole animation from 0.
void TestDeviceLink::resourceErrorWhileStillListed()
{
    QVERIFY(device->plug());
    openWindow();
    waitConnected(*device);
    QVERIFY(QMetaObject::invokeMethod(window.get(), "handleError",
                                      Q_ARG(QSerialPort::SerialPortError, QSerialPort::ResourceError)));
    QCOMPARE(part<QLabel>(ui, "label_4")->text(), QStringLiteral("Desconectado"));
    QVERIFY(part<QLineEdit>(ui, "VersionBox")->text().isEmpty());
    QVERIFY(!window->findChild<QSerialPort *>()->isOpen());
    const int from = int(device->received.size());

    QList<int> bar;
    connect(part<QProgressBar>(ui, "progressBar"), &QProgressBar::valueChanged, this, [&](int v) { bar << v; });
    QElapsedTimer connecting;
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(ui, "ProgessText")->text(), QStringLiteral("Conectando"), 2000);
    connecting.start();
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(ui, "label_4")->text(), QStringLiteral("Conectado"), 7000);
    // A hundred animation steps.
    QVERIFY2(connecting.elapsed() >= 90 * offlineConfiguration().progressTickMs,
             qPrintable(QString::number(connecting.elapsed())));
    QVERIFY(!bar.isEmpty());
    QVERIFY2(bar.first() <= 1, qPrintable(QString::number(bar.first())));
    QCOMPARE(bar.last(), 100);
    QCOMPARE(sentAfter(*device, from).first(), QByteArray("?VERS"));
    QTRY_VERIFY(deviceAnswered);
}

// What a field shows after replies that carry no value, and that an empty
// field is refused by the next upload instead of being sent as 0.
void TestDeviceLink::bareAndEchoedReplies()
{
    device->values["VERS"] = "";
    QVERIFY(device->plug());
    openWindow();
    QTRY_VERIFY_WITH_TIMEOUT(deviceAnswered, kConnectTimeoutMs);
    QVERIFY(part<QLineEdit>(ui, "VersionBox")->text().isEmpty()); // a bare ">VERS"
    QCOMPARE(part<QLineEdit>(ui, "RpmShiftLightVal")->text(), QStringLiteral("6500"));

    // Replies are told apart by their mnemonic alone, so an echoed query
    // reads as a reply without a value, and so does a bare reply: the field
    // empties either way.
    deviceAnswered = false;
    device->send("?RPML");
    QTRY_VERIFY(part<QLineEdit>(ui, "RpmShiftLightVal")->text().isEmpty());
    QTRY_VERIFY(deviceAnswered); // the chain it restarted ran out

    ModalAnswerer answerer;
    const int from = int(device->received.size());
    part<QPushButton>(ui, "SetAllCalibrations")->click();
    QTRY_COMPARE(answerer.boxes.size(), 1);
    QVERIFY(answerer.boxes[0].text.startsWith(QStringLiteral("Valor inválido em: Rpm Shift Light\n")));
    QTest::qWait(2 * offlineConfiguration().commandIntervalMs); // past the first command's turn
    QCOMPARE(device->received.size(), from);
}

QTEST_MAIN(TestDeviceLink)
#include "tst_devicelink.moc"
