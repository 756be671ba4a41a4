// SPDX-License-Identifier: GPL-3.0-or-later
// The failures the program must survive, walked one by one: for each, what
// the user is shown, what the device's flash holds afterwards, and whether
// the window is still usable. Nothing may crash, nothing half-written may
// reach the device, and no failure may be reported as a success.
#include "windowparts.h"
#include "serialtestbed.h"
#include "simulatedk931.h"

#include "progress.h"
#include "enginebackend.h"
#include "programmer.h"
#include "mainwindow.h"
#include "mainwindowstate.h"
#include "hexfile.h"
#include "localhttpserver.h"
#include "modalanswerer.h"
#include "scriptedbackend.h"
#include "simulatedstm32.h"
#include "testwindow.h"
#include "ledindicator.h"
#include "flashwindow.h"

#include <QtTest>
#include <QtWidgets>


using Faults = SimulatedStm32::Faults;
Q_DECLARE_METATYPE(SimulatedStm32::Faults)

namespace {

constexpr uint8_t kOldFirmware = 0xA5;

flashing::FirmwareImage firmwareImage(uint32_t address = 0x08000000, size_t size = 40 * 1024)
{
    flashing::FirmwareImage image;
    image.segments.push_back({address, randomBytes(size, 77)});
    return image;
}

bool flashHoldsOnly(const SimulatedStm32 &chip, uint8_t value)
{
    return std::all_of(chip.flash.begin(), chip.flash.end(), [value](uint8_t b) { return b == value; });
}

} // namespace

class TestFaultMatrix : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void manualFlashFaults_data();
    void manualFlashFaults();
    void unplugAtEachStepOfTheReadOut();
    void descriptionFaults_data();
    void descriptionFaults();

private:
    QString writeFile(const QString &name, const QByteArray &bytes);
    std::unique_ptr<WorkingFolder> dir;
    std::unique_ptr<TemporaryRoot> temporary;
    std::unique_ptr<SerialTestbed> testbed;
};

void TestFaultMatrix::initTestCase()
{
    // Ports of its own (ttyACM32 on): their lock files are no other suite's.
    testbed = std::make_unique<SerialTestbed>(32);
    QVERIFY2(SerialTestbed::available(), "run with LD_PRELOAD=libumockdev-preload.so.0");
    dir = std::make_unique<WorkingFolder>();
    temporary = std::make_unique<TemporaryRoot>();
    flashing::setDisplayCallbacks({onProgressStart, onLogMessage, onProgressStep});
}

void TestFaultMatrix::cleanupTestCase()
{
    dir.reset();
}

QString TestFaultMatrix::writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(dir->filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(bytes);
    return file.fileName();
}

// ---- Flashing: the manual flash window against the simulated bootloader.

void TestFaultMatrix::manualFlashFaults_data()
{
    QTest::addColumn<QByteArray>("file");     // what the chosen file holds
    QTest::addColumn<bool>("directory");      // replaced by a folder before the write
    QTest::addColumn<Faults>("faults");
    QTest::addColumn<bool>("untouched");      // the old firmware must still be there
    const QByteArray good = QByteArray::fromStdString(toIntelHex(firmwareImage()));
    QByteArray badChecksum = good;
    badChecksum[badChecksum.indexOf('\n', 200) - 1] = badChecksum[badChecksum.indexOf('\n', 200) - 1] == '0' ? '1' : '0';
    const QByteArray outside = QByteArray::fromStdString(toIntelHex(firmwareImage(0x0807F000, 8192)));
    Faults none;
    QTest::newRow("bad checksum") << badChecksum << false << none << true;
    QTest::newRow("data outside flash") << outside << false << none << true;
    QTest::newRow("empty file") << QByteArray() << false << none << true;
    QTest::newRow("folder instead of file") << good << true << none << true;
    Faults f;
    f.eraseFails = true;
    QTest::newRow("erase fails") << good << false << f << true;
    // The engine's own tests walk every device fault; here the window's
    // side of two: refused before writing, and cut off half-way.
    f = {};
    f.goneAfterTransfers = 40;
    QTest::newRow("device gone mid-transfer") << good << false << f << false;
}

void TestFaultMatrix::manualFlashFaults()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, directory);
    QFETCH(Faults, faults);
    QFETCH(bool, untouched);

    SimulatedBus bus;
    auto chip = bus.plugChip(SimulatedStm32::Clock::Virtual, kOldFirmware);
    FlashWindow window;
    window.show();
    ModalAnswerer answerer;
    part<QPushButton>(&window, "ConnectButton")->click();
    QVERIFY(part<QPushButton>(&window, "SelectFileButton")->isEnabled());
    const QString path = writeFile(QStringLiteral("firmware.hex"), file);
    answerer.chooseFile(path);
    part<QPushButton>(&window, "SelectFileButton")->click();
    QVERIFY(part<QPushButton>(&window, "FlashButton")->isEnabled());
    if (directory) {
        QFile::remove(path);
        QVERIFY(QDir().mkdir(path));
    }
    chip->faults = faults;
    if (faults.goneAfterTransfers >= 0)
        chip->faults.goneAfterTransfers += chip->transfers;
    const int transfersBefore = chip->transfers;

    part<QPushButton>(&window, "FlashButton")->click();

    // The old line, then the reason on a line of its own.
    QVERIFY(part<QTextEdit>(&window, "textEdit")->toPlainText().contains(QStringLiteral("Impossivel Atualizar\n")));
    QVERIFY(!answerer.sawBox(QStringLiteral("Sucesso")));
    QVERIFY(!chip->massEraseSeen);
    QVERIFY(!chip->readUnprotectSeen);
    if (untouched)
        QVERIFY(flashHoldsOnly(*chip, kOldFirmware));
    if (!faults.eraseFails && untouched)
        QCOMPARE(chip->transfers, transfersBefore); // refused before any USB traffic
    if (directory)
        QDir().rmdir(path);
    else
        QFile::remove(path);
}

// ---- Serial: the device unplugged while the window waits for each reply.

void TestFaultMatrix::unplugAtEachStepOfTheReadOut()
{
    resetMainWindowState();
    SimulatedK931 device(*testbed);
    MainWindow window(nullptr, offlineConfiguration());
    QWidget *ui = &window;
    const QList<QByteArray> chain = {"VERS", "RPML", "TURA", "HALP", "HALR", "TURZ", "SONT", "KSBM", "KBOS"};
    for (const QByteArray &step : chain) {
        device.clearBehaviours();
        device.setBehaviour(step, SimulatedK931::Behaviour::Silent);
        QVERIFY(device.plug());
        QTRY_VERIFY_WITH_TIMEOUT(device.receivedBytes().contains('?' + step), 15000);
        device.unplug();
        QTRY_VERIFY_WITH_TIMEOUT(!window.findChild<QSerialPort *>()->isOpen(), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(ui, "label_4")->text(), QStringLiteral("Desconectado"), 2000);
        QVERIFY2(part<QLineEdit>(ui, "VersionBox")->text().isEmpty() && part<QLineEdit>(ui, "RpmShiftLightVal")->text().isEmpty()
                     && part<QLineEdit>(ui, "SetHallmeterRicoVal")->text().isEmpty(),
                 step.constData());
        QVERIFY(!part<LedIndicator>(&window, "deviceLamp")->isOn());
        QVERIFY(!deviceAnswered);
        QVERIFY(portScanTimer->isActive());
    }
    // Still usable: a well-behaved device reads out completely.
    device.clearBehaviours();
    QVERIFY(device.plug());
    QTRY_VERIFY_WITH_TIMEOUT(deviceAnswered, 9000);
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(ui, "label_4")->text(), QStringLiteral("Conectado"), 2000);
    QCOMPARE(part<QLineEdit>(ui, "RpmShiftLightVal")->text(), QStringLiteral("6500"));
}

// ---- Network: the firmware description.

void TestFaultMatrix::descriptionFaults_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("probeAnswers");
    QTest::addColumn<QStringList>("models");
    QTest::newRow("probe refused") << 200 << QByteArray(R"({"Modelo":["K931"]})") << false << QStringList();
    QTest::newRow("description missing") << 404 << QByteArray() << true << QStringList();
    QTest::newRow("not JSON") << 200 << QByteArray("<html>oops</html>") << true << QStringList();
    QTest::newRow("wrong types") << 200 << QByteArray(R"({"Modelo": {"a": 1}, "Version": [1]})") << true
                                 << QStringList();
    // A description is a few names: one of 10 MB is no description.
    QTest::newRow("10 MB") << 200
                           << QByteArray(R"({"Pad": ")") + QByteArray(10 * 1024 * 1024, 'x')
                                  + R"(", "Modelo": ["K931"], "Version": "1.6"})"
                           << true << QStringList();
    QTest::newRow("a model outside the folder") << 200 << QByteArray(R"({"Modelo": ["K931", "../x"], "Version": "1.6"})")
                                                << true << QStringList();
    QTest::newRow("sound") << 200 << QByteArray(R"({"Modelo": ["K931"], "Version": "1.6"})") << true
                           << QStringList{"K931"};
}

void TestFaultMatrix::descriptionFaults()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, probeAnswers);
    QFETCH(QStringList, models);

    resetMainWindowState();
    LocalHttpServer server;
    QVERIFY(server.listen());
    server.setResponse("/", {200, "ok", {}, {}});
    server.setResponse("/fw/data.json", {status, body, {}, {}});
    MainWindowConfiguration configuration = quickConfiguration(server.url(QStringLiteral("/")));
    if (!probeAnswers)
        configuration.probeUrl = closedLocalUrl(QStringLiteral("/")).toString();
    ModalAnswerer answerer;
    MainWindow window(nullptr, configuration);
    part<QLineEdit>(&window, "VersionBox")->setText(QStringLiteral("V1.0"));
    // The probe and the description's parse each take their named period;
    // what they then show is waited for, not guessed.
    QTest::qWait(configuration.internetCheckIntervalMs + configuration.descriptionParseDelayMs);
    QTRY_COMPARE(part<LedIndicator>(&window, "internetLamp")->isOn(), probeAnswers);
    const auto shown = [&window] {
        QStringList items;
        for (int i = 0; i < part<QComboBox>(&window, "ModelBox")->count(); ++i)
            items << part<QComboBox>(&window, "ModelBox")->itemText(i);
        return items;
    };
    QTRY_COMPARE(shown(), models);
    QVERIFY(!temporary->privateFolders().isEmpty());
    QTRY_VERIFY(!temporary->holds(QStringLiteral("data.json")));
    // Only a real newer version is announced; a refused description is said.
    QCOMPARE(answerer.sawBox(QStringLiteral("Informacao")), models == QStringList{"K931"});
    QCOMPARE(answerer.sawBox(QStringLiteral("Aviso")), body.contains("../x"));
}

QTEST_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
