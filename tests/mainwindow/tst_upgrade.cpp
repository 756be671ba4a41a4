// SPDX-License-Identifier: GPL-3.0-or-later
// The road of a typical use, end to end on simulated hardware: the simulated
// K931 on its serial port, local servers for the probe, the description and
// the firmware, and the simulated STM32F446 bootloader behind the real
// flashing engine. Message boxes are answered as a user would.
#include "windowparts.h"
#include "aboutwindow.h"
#include "flashwindow.h"
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
#include "settings.h"
#include "keptsettings.h"

#include <QtTest>
#include <QtWidgets>

namespace {

constexpr int kReadyTimeoutMs = 16000;  // connection, probe and description
constexpr int kUpgradeTimeoutMs = 20000;
const QString kSuccess = QStringLiteral("Aparelho atualizado com sucesso!\nFavor reconectar o aparelho");
const QString kMissing = QStringLiteral("Impossivel Atualizar! Erro: Falta de atualização no servidor, entre em "
                                        "contato com a Brevanto via WhatsApp.");
const QString kFirmwareName = QStringLiteral("K931_OBD_Boost.hex");
const QByteArray kFirmwarePath = "/fw/K931_OBD_Boost.hex";
const QString kRecoveryNotice = QStringLiteral("Aparelho em modo de atualização");
// An STM32F103's flash: 128 pages of 1 KiB.
const char kOtherChipLayout[] = "@Internal Flash  /0x08000000/128*001Kg";

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

} // namespace

class TestUpgrade : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void typicalRoadWithTheRealDelays();
    void bootWaitsForTheDownload();
    void failedDownloadSendsNoBoot();
    void writeFailuresByTheirNumber();
    void deviceIgnoresBoot();
    void hiddenButtonKeepsTheSettingsFirst();
    void deviceComesBackDuringTheWait();
    void replugBeforeTheResultIsAcknowledged();
    void deviceSwappedDuringTheRestoreQuestion();
    void writtenBootloaderIsNotOfferedAgain();
    void anotherChipsBootloaderIsLeftAlone();
    void recoveryNoticeSurvivesAFailedDownload();
    void upgradeWaitsForARunningUpload();
    void emptyModelListAsksForTheBareName();

private:
    void startWindow(const MainWindowConfiguration &configuration);
    MainWindowConfiguration quickSetup(int dfuWaitLimitMs = 3000) const;
    void waitUntilUpgradeOffered();
    QString pressUpgradeAndWaitForResult(const std::function<void()> &onBoot);
    void enterBootloader();
    bool firmwareWritten() const;
    void serveFirmware(const LocalHttpServer::Response &response) { server->setResponse(kFirmwarePath, response); }

    std::unique_ptr<WorkingFolder> folder;
    std::unique_ptr<SerialTestbed> testbed;
    std::unique_ptr<SimulatedK931> k931;
    std::unique_ptr<LocalHttpServer> server;
    std::unique_ptr<SimulatedBus> bus;
    std::unique_ptr<ModalAnswerer> answerer;
    std::unique_ptr<MainWindow> window;
    QWidget *ui = nullptr; // the window, whose widgets are found by name
    flashing::FirmwareImage image;
    QByteArray firmwareHex;
    std::shared_ptr<SimulatedStm32> chip;
    // The upgrade button, sampled whenever the event loop turns during an upgrade.
    bool buttonEnabledDuringUpgrade = false;
    bool realDelays = false;
};

void TestUpgrade::initTestCase()
{
    // Ports of its own (ttyACM16 on): their lock files are no other suite's.
    testbed = std::make_unique<SerialTestbed>(16);
    QVERIFY2(SerialTestbed::available(), "run with LD_PRELOAD=libumockdev-preload.so.0");
    folder = std::make_unique<WorkingFolder>();

    image.segments.push_back({0x08000000, runnableBytes(40 * 1024, 5)});
    image.segments.push_back({0x08020000, randomBytes(3000, 6)});
    firmwareHex = QByteArray::fromStdString(toIntelHex(image));
    server = std::make_unique<LocalHttpServer>();
    QVERIFY(server->listen());
    server->setResponse("/", {200, "ok", {}, {}});
    server->setResponse("/fw/data.json", {200, R"({"Modelo": ["K931"], "Version": "1.6"})", {}, {}});

    bus = std::make_unique<SimulatedBus>();
    // As main() sets them up.
    flashing::setDisplayCallbacks({onProgressStart, onLogMessage, onProgressStep});
    flashing::setVerbosityLevel(1);
    answerer = std::make_unique<ModalAnswerer>();
}

void TestUpgrade::cleanupTestCase()
{
    window.reset();
    k931.reset();
    bus.reset();
    answerer.reset();
    server.reset();
    folder.reset();
}

MainWindowConfiguration TestUpgrade::quickSetup(int dfuWaitLimitMs) const
{
    MainWindowConfiguration configuration = quickConfiguration(server->url(QStringLiteral("/")));
    configuration.dfuWaitLimitMs = dfuWaitLimitMs;
    return configuration;
}

void TestUpgrade::startWindow(const MainWindowConfiguration &configuration)
{
    window.reset();
    k931.reset();
    bus->devices().unplugAll();
    chip.reset();
    serveFirmware({200, firmwareHex, {}, {}});
    resetMainWindowState();
    window = std::make_unique<MainWindow>(nullptr, configuration);
    ui = window.get();
    window->show();
    k931 = std::make_unique<SimulatedK931>(*testbed);
    QVERIFY(k931->plug());
}

// Connected, read out, description parsed, newer version announced.
void TestUpgrade::waitUntilUpgradeOffered()
{
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(ui, "label_4")->text(), QStringLiteral("Conectado"), kReadyTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(part<QPushButton>(ui, "UpgradeButton")->isEnabled() && !versionCheckTimer.isActive(), kReadyTimeoutMs);
    QCOMPARE(part<QComboBox>(ui, "ModelBox")->currentText(), QStringLiteral("K931"));
}

void TestUpgrade::enterBootloader()
{
    // The chip's own time only where the program's real delays are used.
    chip = bus->plugChip(realDelays ? SimulatedStm32::Clock::RealTime : SimulatedStm32::Clock::Virtual);
}

bool TestUpgrade::firmwareWritten() const
{
    if (!chip)
        return false;
    for (const auto &segment : image.segments) {
        if (!std::equal(segment.data.begin(), segment.data.end(),
                        chip->flash.begin() + (segment.address - SimulatedStm32::kFlashBase)))
            return false;
    }
    return true;
}

QString TestUpgrade::pressUpgradeAndWaitForResult(const std::function<void()> &onBoot)
{
    QMetaObject::Connection booted = connect(k931.get(), &SimulatedK931::bootReceived, this, onBoot);
    const int before = int(answerer->boxes.size());
    part<QComboBox>(ui, "K931TypeBox")->setCurrentText(QStringLiteral("OBD + Boost"));
    part<QPushButton>(ui, "UpgradeButton")->click();
    buttonEnabledDuringUpgrade = false;
    auto finished = [&] {
        for (int i = before; i < answerer->boxes.size(); ++i) {
            if (answerer->boxes[i].title == QLatin1String("Aviso") || answerer->boxes[i].title == QLatin1String("Erro"))
                return true;
        }
        buttonEnabledDuringUpgrade |= part<QPushButton>(ui, "UpgradeButton")->isEnabled();
        return false;
    };
    const bool done = QTest::qWaitFor(finished, kUpgradeTimeoutMs);
    disconnect(booted);
    return done ? answerer->boxes.last().text : QStringLiteral("(no result box)");
}

void TestUpgrade::typicalRoadWithTheRealDelays()
{
    // A user's own files of the same names in the working directory.
    const QByteArray usersHex = ":00000001FF\n";
    for (const QString &name : {kFirmwareName, QStringLiteral("data.json")}) {
        QFile own(name);
        QVERIFY(own.open(QIODevice::WriteOnly));
        own.write(usersHex);
    }
    // The upgrade's own delays as the program has them; the connection's
    // are checked by the device-link tests.
    realDelays = true;
    MainWindowConfiguration configuration = realConfiguration(server->url(QStringLiteral("/")));
    const MainWindowConfiguration quick = quickSetup();
    configuration.portOpenDelayMs = quick.portOpenDelayMs;
    configuration.progressTickMs = quick.progressTickMs;
    configuration.internetCheckIntervalMs = quick.internetCheckIntervalMs;
    configuration.descriptionParseDelayMs = quick.descriptionParseDelayMs;
    startWindow(configuration);
    waitUntilUpgradeOffered();
    QVERIFY(answerer->sawBox(QStringLiteral("Informacao")));
    QElapsedTimer sinceBoot;
    qint64 warnedAfterMs = -1;
    answerer->onBox = [&](const ModalAnswerer::Box &box) {
        if (box.title == QLatin1String("Importante"))
            warnedAfterMs = sinceBoot.elapsed();
    };

    QList<int> barValues;
    connect(part<QProgressBar>(ui, "progressBar"), &QProgressBar::valueChanged, this, [&](int v) {
        if (part<QLabel>(ui, "ProgessText")->text() == QLatin1String("Atualizando"))
            barValues << v;
    });
    // "BOOT" makes the K931 leave its serial port and its bootloader appear.
    const QString result = pressUpgradeAndWaitForResult([&] {
        sinceBoot.start();
        enterBootloader();
    });
    answerer->onBox = nullptr;
    QCOMPARE(result, kSuccess);
    // 4 s for the device to leave its application, then the first 250 ms poll.
    QVERIFY2(warnedAfterMs >= 4000 && warnedAfterMs < 4600, qPrintable(QString::number(warnedAfterMs)));
    QVERIFY(firmwareWritten());
    QVERIFY(answerer->sawBox(QStringLiteral("Importante")));
    QVERIFY(!buttonEnabledDuringUpgrade);
    // The request went out with the download manager's User-Agent.
    LocalHttpServer::Request request;
    for (const auto &r : server->requests) {
        if (r.path.endsWith(".hex"))
            request = r;
    }
    QCOMPARE(request.path, kFirmwarePath);
    QVERIFY(request.headers.value("user-agent").startsWith("Mozilla/5.0"));
    QVERIFY(k931->receivedBytes().contains("BOOT"));
    // The bar moved during the write and ended at 100.
    QVERIFY2(barValues.size() >= 3, qPrintable(QString::number(barValues.size())));
    QCOMPARE(part<QProgressBar>(ui, "progressBar")->value(), 100);
    QVERIFY(!part<LedIndicator>(window.get(), "deviceLamp")->isOn());
    QCOMPARE(part<QLabel>(ui, "label_4")->text(), QStringLiteral("Desconectado"));
    QVERIFY(part<QLabel>(ui, "ProgessText")->text().isEmpty());
    QVERIFY(!upgradeInProgress);
    QVERIFY(!QFile::exists(firmwareFilePath));
    // The user's files are as they were.
    QCOMPARE(readAll(kFirmwareName), usersHex);
    QCOMPARE(readAll(QStringLiteral("data.json")), usersHex);
    QVERIFY(!firmwareFilePath.startsWith(QDir::currentPath()));
    QFile::remove(kFirmwareName);
    QFile::remove(QStringLiteral("data.json"));
    realDelays = false;
}

// With a slow server, "BOOT" went out at once and the write found no file.
void TestUpgrade::bootWaitsForTheDownload()
{
    startWindow(quickSetup());
    waitUntilUpgradeOffered();
    constexpr int kTransferMs = 600;
    serveFirmware({200, firmwareHex, {}, LocalHttpServer::Behaviour::Answer, kTransferMs});
    QElapsedTimer sinceClick;
    sinceClick.start();
    qint64 bootAfterMs = -1;
    const QString result = pressUpgradeAndWaitForResult([&] {
        bootAfterMs = sinceClick.elapsed();
        enterBootloader();
    });
    QCOMPARE(result, kSuccess);
    QVERIFY2(bootAfterMs >= kTransferMs * 9 / 10, qPrintable(QString::number(bootAfterMs)));
    QVERIFY(firmwareWritten());
    QVERIFY(!buttonEnabledDuringUpgrade);
}

// A device sent into its bootloader for nothing has to be re-plugged by hand.
// One window meets the failures in turn: after each the user may try again.
void TestUpgrade::failedDownloadSendsNoBoot()
{
    flashing::FirmwareImage tooLarge;
    tooLarge.segments.push_back({0x0807F000, randomBytes(8192, 7)});
    const struct {
        const char *name;
        int status;
        LocalHttpServer::Behaviour behaviour;
        QByteArray body;
        QString text;
    } failures[] = {
        {"missing on the server", 404, LocalHttpServer::Behaviour::Answer, {}, kMissing},
        {"connection cut mid-body", 200, LocalHttpServer::Behaviour::CutBody, QByteArray(4096, ':'),
         QStringLiteral("Impossivel Atualizar! Erro: o servidor encerrou a conexão")},
        {"server stops answering", 200, LocalHttpServer::Behaviour::Hang, {},
         QStringLiteral("Impossivel Atualizar! Erro: o servidor parou de responder")},
        {"data past the end of the flash", 200, LocalHttpServer::Behaviour::Answer,
         QByteArray::fromStdString(toIntelHex(tooLarge)),
         QStringLiteral("Impossivel Atualizar! Erro: Arquivo com dados fora da memória flash do aparelho (dados em "
                        "0x08080000; a memória do aparelho vai de 0x08000000 a 0x0807FFFF)")},
        {"a web page, not firmware", 200, LocalHttpServer::Behaviour::Answer, QByteArray("<html>Em manutenção</html>"),
         QStringLiteral("Impossivel Atualizar! Erro: o arquivo recebido do servidor não é um firmware válido")},
        {"server unreachable", 0, LocalHttpServer::Behaviour::Answer, {},
         QStringLiteral("Impossivel Atualizar! Erro: o servidor recusou a conexão")},
    };
    // A server that goes away once the update was offered, for the last.
    LocalHttpServer doomed;
    QVERIFY(doomed.listen());
    doomed.setResponse("/fw/data.json", {200, R"({"Modelo": ["K931"], "Version": "1.6"})", {}, {}});
    bool started = false;
    for (const auto &failure : failures) {
        const bool unreachable = failure.status == 0;
        if (unreachable || !started) {
            started = true;
            MainWindowConfiguration configuration =
                unreachable ? quickConfiguration(doomed.url(QStringLiteral("/"))) : quickSetup();
            configuration.downloadStallLimitMs = 1000; // a short stand-in for the program's 30 s
            startWindow(configuration);
            waitUntilUpgradeOffered();
        }
        serveFirmware({failure.status, failure.body, {}, failure.behaviour});
        if (unreachable)
            doomed.close();
        bool booted = false;
        QCOMPARE(pressUpgradeAndWaitForResult([&] { booted = true; }), failure.text);
        QTest::qWait(quickSetup().upgradeStepDelayMs); // the step after "BOOT"
        QVERIFY2(!booted && !k931->receivedBytes().contains("BOOT"), failure.name);
        QVERIFY2(!upgradeInProgress, failure.name);
        // Still connected as before, and the user may try again.
        QVERIFY2(part<LedIndicator>(window.get(), "deviceLamp")->isOn(), failure.name);
        QCOMPARE(part<QLabel>(ui, "label_4")->text(), QStringLiteral("Conectado"));
        QVERIFY2(!part<QLineEdit>(ui, "VersionBox")->text().isEmpty(), failure.name);
        QVERIFY2(part<QLabel>(ui, "ProgessText")->text().isEmpty(), failure.name);
        QVERIFY2(part<QPushButton>(ui, "UpgradeButton")->isEnabled(), failure.name);
        QVERIFY2(!buttonEnabledDuringUpgrade, failure.name);
    }
}

// The chip refuses to erase, then its read-back differs: each error by its
// number, never a success.
void TestUpgrade::writeFailuresByTheirNumber()
{
    const struct {
        void (*inject)(SimulatedStm32 &);
        int code;
    } faults[] = {
        {[](SimulatedStm32 &c) { c.faults.eraseFails = true; }, flashing::kEraseError},
        {[](SimulatedStm32 &c) { c.faults.corruptReadBack = true; }, flashing::kVerifyMismatch},
    };
    startWindow(quickSetup());
    for (const auto &fault : faults) {
        if (!k931->isPlugged())
            QVERIFY(k931->plug());
        waitUntilUpgradeOffered();
        const QString text = pressUpgradeAndWaitForResult([&] {
            enterBootloader();
            fault.inject(*chip);
        });
        QCOMPARE(text, QStringLiteral("Impossivel Atualizar! Erro: %1").arg(fault.code));
        QVERIFY(!part<LedIndicator>(window.get(), "deviceLamp")->isOn());
        QVERIFY(!QFile::exists(firmwareFilePath));
        bus->devices().unplugAll();
    }
}

// The wait runs out with the K931 still on its port: it is shown connected,
// as it is, and may be updated again.
void TestUpgrade::deviceIgnoresBoot()
{
    startWindow(quickSetup(1000));
    waitUntilUpgradeOffered();
    k931->leaveOnBoot = false;
    const QString version = part<QLineEdit>(ui, "VersionBox")->text();
    // The window keeps turning its event loop while it waits.
    int turns = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { ++turns; });
    ticker.start(20);
    // Sent "BOOT", the device is the update's: the window stays, and the
    // technicians' way into the bootloader is refused.
    bool closed = true;
    QCOMPARE(pressUpgradeAndWaitForResult([&] {
                 QTimer::singleShot(0, this, [&] {
                     closed = window->close();
                     part<QAction>(window.get(), "actionSobre")->trigger();
                     part<QPushButton>(topLevel<AboutWindow>(), "HiddenUpgradeButton")->click();
                 });
             }),
             QStringLiteral("Aguarde o fim da atualização"));
    const QString notFound = QStringLiteral("Aparelho não encontrado em modo de atualização");
    QTRY_VERIFY_WITH_TIMEOUT(answerer->boxes.last().text.startsWith(notFound), kUpgradeTimeoutMs);
    QVERIFY(!closed);
    QCOMPARE(answerer->texts().count(QStringLiteral("Aguarde o fim da atualização")), 2);
    QVERIFY(!topLevel<FlashWindow>()->isVisible());
    QCOMPARE(k931->receivedBytes().count("BOOT"), 1);
    QVERIFY(answerer->boxes.last().warning);
    QVERIFY(turns > 25);
    QVERIFY(!upgradeInProgress);
    QVERIFY(part<LedIndicator>(window.get(), "deviceLamp")->isOn());
    QCOMPARE(part<QLabel>(ui, "label_4")->text(), QStringLiteral("Conectado"));
    QCOMPARE(part<QLineEdit>(ui, "VersionBox")->text(), version);
    QVERIFY(part<QPushButton>(ui, "UpgradeButton")->isEnabled());
    QVERIFY(!buttonEnabledDuringUpgrade);
    QVERIFY(!QFile::exists(firmwareFilePath));
}

// The technicians' way into the bootloader loses the settings as an update
// does: what the device held is kept first, for the recovery to offer.
void TestUpgrade::hiddenButtonKeepsTheSettingsFirst()
{
    startWindow(quickSetup());
    k931->values["RPML"] = "7200";
    waitUntilUpgradeOffered();
    part<QAction>(window.get(), "actionSobre")->trigger();
    const int before = int(road::keptSettingsOf(QString::fromLatin1(k931->serialNumber)).size());
    part<QPushButton>(topLevel<AboutWindow>(), "HiddenUpgradeButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(k931->receivedBytes().contains("BOOT"), kReadyTimeoutMs);
    QVERIFY(topLevel<FlashWindow>()->isVisible());
    const QList<road::KeptSettings> kept = road::keptSettingsOf(QString::fromLatin1(k931->serialNumber));
    QCOMPARE(kept.size(), before + 1);
    QVERIFY(kept[0].contents.values.contains({settings::keyFor("RPML"), 7200}));
    topLevel<FlashWindow>()->close();
    topLevel<AboutWindow>()->close();
}

// The K931 restarts into its own firmware within the wait: read again and
// shown connected, not "Desconectado" beside a live port.
void TestUpgrade::deviceComesBackDuringTheWait()
{
    startWindow(quickSetup(2000));
    waitUntilUpgradeOffered();
    const QString text = pressUpgradeAndWaitForResult([this] {
        QTimer::singleShot(800, k931.get(), [this] { QVERIFY(k931->plug()); });
    });
    QVERIFY(text.startsWith(QStringLiteral("Aparelho não encontrado em modo de atualização")));
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(ui, "label_4")->text(), QStringLiteral("Conectado"), 3000);
    QVERIFY(part<LedIndicator>(window.get(), "deviceLamp")->isOn());
    QVERIFY(k931->receivedBytes().contains("?VERS")); // what it received since it came back
    QTRY_VERIFY(!part<QLineEdit>(ui, "VersionBox")->text().isEmpty());
    QVERIFY(!portScanTimer->isActive());
}

// The owner re-plugs while the success box is still open: after OK the window
// shows the connection as it is, not "Desconectado" beside a live port.
void TestUpgrade::replugBeforeTheResultIsAcknowledged()
{
    startWindow(quickSetup());
    waitUntilUpgradeOffered();
    answerer->onBox = [this](const ModalAnswerer::Box &box) {
        if (box.title != QLatin1String("Aviso"))
            return;
        answerer->setPaused(true);
        k931->values["VERS"] = "K931 V1.6 Boost"; // up to date: no other box meanwhile
        QVERIFY(k931->plug());
        // Read out again behind the box ("Conectado" never left the label).
        QTRY_VERIFY_WITH_TIMEOUT(deviceAnswered && !progressTimer.isActive(), kReadyTimeoutMs);
        answerer->setPaused(false);
    };
    const QString result = pressUpgradeAndWaitForResult([this] { enterBootloader(); });
    answerer->onBox = nullptr;
    QCOMPARE(result, kSuccess);
    QCOMPARE(part<QLabel>(ui, "label_4")->text(), QStringLiteral("Conectado"));
    QVERIFY(part<LedIndicator>(window.get(), "deviceLamp")->isOn());
    QVERIFY(!portScanTimer->isActive());
    QTRY_VERIFY(!part<QLineEdit>(ui, "VersionBox")->text().isEmpty());
}

// The K931 pulled out while the restore question is open and another one
// plugged in: the other is read behind the question, gets none of the
// first one's settings, and takes its own "Configurar" afterwards.
void TestUpgrade::deviceSwappedDuringTheRestoreQuestion()
{
    startWindow(quickSetup());
    k931->values["RPML"] = "7200";
    waitUntilUpgradeOffered();
    SimulatedK931::Identity second;
    second.index = 1;
    SimulatedK931 other(*testbed, second);
    other.values["VERS"] = "K931 V1.6 Boost"; // up to date: no other box meanwhile
    bool readBehindTheQuestion = false;
    answerer->choice = QStringLiteral("Sim");
    answerer->onBox = [&](const ModalAnswerer::Box &box) {
        if (box.title == QLatin1String("Aviso")) {
            // The owner re-plugs the updated device, back with its defaults.
            k931->restoreDefaultSettings();
            k931->values["VERS"] = "K931 V1.6 Boost";
            QVERIFY(k931->plug());
        }
        if (box.title != QStringLiteral("Configurações"))
            return;
        answerer->setPaused(true);
        k931->unplug();
        QVERIFY(other.plug());
        QTRY_VERIFY_WITH_TIMEOUT(deviceAnswered && other.receivedBytes().contains("?KBOS"), kReadyTimeoutMs);
        readBehindTheQuestion = part<QLineEdit>(ui, "VersionBox")->text() == QLatin1String("K931 V1.6 Boost");
        answerer->setPaused(false);
    };
    QCOMPARE(pressUpgradeAndWaitForResult([this] { enterBootloader(); }), kSuccess);
    QTRY_VERIFY_WITH_TIMEOUT(answerer->sawBox(QStringLiteral("Configurações")), kReadyTimeoutMs);
    answerer->onBox = nullptr;
    QVERIFY(readBehindTheQuestion);
    QTest::qWait(3 * quickSetup().commandIntervalMs); // an upload's first turns
    for (const QByteArray &bytes : other.receivedBytes())
        QVERIFY2(!bytes.startsWith('>'), bytes.toHex(' ').constData());
    QCOMPARE(part<QLineEdit>(ui, "RpmShiftLightVal")->text(), QStringLiteral("6500"));
    // The owner said "Sim": that nothing went back is said, with where the file is.
    QTRY_VERIFY_WITH_TIMEOUT(
        answerer->texts().filter(QStringLiteral("As configurações anteriores não foram restauradas.")).size() == 1,
        kReadyTimeoutMs);

    part<QPushButton>(ui, "SetAllCalibrations")->click();
    QTRY_VERIFY_WITH_TIMEOUT(answerer->texts().contains(QStringLiteral("Todas as calibrações foram enviadas com sucesso!")),
                             kReadyTimeoutMs);
    QVERIFY(!answerer->texts().contains(QStringLiteral("As configurações do aparelho ainda não foram lidas.\n"
                                                       "Aguarde a leitura e tente novamente.")));
    QCOMPARE(other.values.value("RPML"), QByteArray("6500"));
    QVERIFY(other.receivedBytes().contains(settings::setCommand(*settings::keyFor("RPML"), 6500)));
    other.unplug();
}

// Until the owner re-plugs, the bootloader just written stays listed: it is
// not announced as one waiting for an update. A bootloader that appears
// after it left is.
void TestUpgrade::writtenBootloaderIsNotOfferedAgain()
{
    startWindow(quickSetup());
    waitUntilUpgradeOffered();
    QCOMPARE(pressUpgradeAndWaitForResult([this] { enterBootloader(); }), kSuccess);
    QTest::qWait(5 * quickSetup().portScanIntervalMs); // several scans see the bootloader
    QVERIFY(part<QLabel>(ui, "ProgessText")->text().isEmpty());
    QVERIFY(!part<QPushButton>(ui, "UpgradeButton")->isEnabled());
    bus->devices().unplugAll();
    QTest::qWait(2 * quickSetup().portScanIntervalMs);
    enterBootloader();
    QTRY_COMPARE(part<QLabel>(ui, "ProgessText")->text(), kRecoveryNotice);
    QTRY_VERIFY(part<QPushButton>(ui, "UpgradeButton")->isEnabled());
}

// Another board's STM32 in its bootloader on the same desk: never announced,
// never written with the K931's firmware.
void TestUpgrade::anotherChipsBootloaderIsLeftAlone()
{
    startWindow(quickSetup(1000));
    waitUntilUpgradeOffered();
    std::shared_ptr<SimulatedStm32> other;
    const QString text = pressUpgradeAndWaitForResult([&] {
        other = std::make_shared<SimulatedStm32>(SimulatedStm32::Clock::Virtual);
        bus->devices().plug(other, "OTHER", kOtherChipLayout);
    });
    QVERIFY2(text.startsWith(QStringLiteral("Aparelho não encontrado em modo de atualização")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("não é um K931 e não foi gravado")), qPrintable(text));
    QVERIFY(other);
    QVERIFY(std::all_of(other->eraseCounts.begin(), other->eraseCounts.end(), [](int n) { return n == 0; }));
    QTest::qWait(5 * quickSetup().portScanIntervalMs);
    QVERIFY(part<QLabel>(ui, "ProgessText")->text() != kRecoveryNotice);
}

// A device left in its bootloader keeps its notice and its offer when the
// download of its firmware fails.
void TestUpgrade::recoveryNoticeSurvivesAFailedDownload()
{
    startWindow(quickSetup());
    k931->unplug();
    enterBootloader();
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(ui, "ProgessText")->text(), kRecoveryNotice, kReadyTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(part<QPushButton>(ui, "UpgradeButton")->isEnabled(), kReadyTimeoutMs);
    serveFirmware({404, {}, {}, {}});
    QCOMPARE(pressUpgradeAndWaitForResult([] {}), kMissing);
    QTRY_COMPARE(part<QLabel>(ui, "ProgessText")->text(), kRecoveryNotice);
    QVERIFY(!part<QProgressBar>(ui, "progressBar")->isTextVisible());
    QVERIFY(part<QPushButton>(ui, "UpgradeButton")->isEnabled());
}

// "BOOT" between two set commands would lose the rest of them.
void TestUpgrade::upgradeWaitsForARunningUpload()
{
    startWindow(quickSetup());
    waitUntilUpgradeOffered();
    const int before = int(answerer->boxes.size());
    part<QPushButton>(ui, "SetAllCalibrations")->click();
    part<QPushButton>(ui, "UpgradeButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(answerer->sawBox(QStringLiteral("Sucesso")), kReadyTimeoutMs);
    QCOMPARE(answerer->boxes.at(before).text, QStringLiteral("Aguarde o fim do envio das configurações e tente novamente."));
    QVERIFY(!k931->receivedBytes().contains("BOOT"));
    QVERIFY(!upgradeInProgress);
}

// A description without models still names a file: the type's suffix alone.
void TestUpgrade::emptyModelListAsksForTheBareName()
{
    server->setResponse("/fw/data.json", {200, R"({"Modelo": [], "Version": "1.6"})", {}, {}});
    startWindow(quickSetup());
    QTRY_VERIFY_WITH_TIMEOUT(part<QPushButton>(ui, "UpgradeButton")->isEnabled(), kReadyTimeoutMs);
    QCOMPARE(part<QComboBox>(ui, "ModelBox")->count(), 0);
    part<QComboBox>(ui, "K931TypeBox")->setCurrentText(QStringLiteral("OBD"));
    const int before = int(answerer->boxes.size());
    part<QPushButton>(ui, "UpgradeButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(answerer->boxes.size() > before && answerer->boxes.last().title == QLatin1String("Erro"),
                             kUpgradeTimeoutMs);
    // The internet probe's requests come in between.
    QByteArray asked;
    for (const auto &request : server->requests) {
        if (request.path.endsWith(".hex"))
            asked = request.path;
    }
    QCOMPARE(asked, QByteArray("/fw/_OBD.hex"));
    QCOMPARE(answerer->boxes.last().text, kMissing);
    server->setResponse("/fw/data.json", {200, R"({"Modelo": ["K931"], "Version": "1.6"})", {}, {}});
}

QTEST_MAIN(TestUpgrade)
#include "tst_upgrade.moc"
