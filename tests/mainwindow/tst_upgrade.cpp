// The road of a typical use, end to end on simulated hardware: the simulated
// K931 on its serial port, local servers for the probe, the description and
// the firmware, and the simulated STM32F446 bootloader behind the real
// flashing engine. Message boxes are answered as a user would.
#include "support/serialtestbed.h"
#include "support/simulatedk931.h"

#include "app/progress.h"
#include "flashing/enginebackend.h"
#include "flashing/programmer.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/mainwindowstate.h"
#include "support/hexfile.h"
#include "support/localhttpserver.h"
#include "support/modalanswerer.h"
#include "support/scriptedbackend.h"
#include "support/simulatedstm32.h"
#include "support/testwindow.h"
#include "ui_mainwindow.h"
#include "widgets/ledindicator.h"

#include <QtTest>
#include <QtWidgets>

namespace {

constexpr int kReadyTimeoutMs = 16000;  // connection, probe and description
constexpr int kUpgradeTimeoutMs = 20000;
const QString kSuccess = QStringLiteral("Aparelho atualizado com sucesso!\nFavor reconectar o aparelho");
const QString kFirmwareName = QStringLiteral("K931_OBD_Boost.hex");

} // namespace

class TestUpgrade : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void typicalRoadThenFailures();
    void bootloaderNeverAppears();

private:
    void startWindow(int dfuWaitLimitMs);
    void waitUntilUpgradeOffered();
    QString pressUpgradeAndWaitForResult(const std::function<void()> &onBoot);

    std::unique_ptr<WorkingFolder> folder;
    std::unique_ptr<SerialTestbed> testbed;
    std::unique_ptr<SimulatedK931> k931;
    std::unique_ptr<LocalHttpServer> server;
    SimulatedProvider *dfuDevices = nullptr;
    std::unique_ptr<BackendScope> backend;
    std::unique_ptr<ModalAnswerer> answerer;
    std::unique_ptr<MainWindow> window;
    Ui_MainWindow *ui = nullptr;
    flashing::FirmwareImage image;
};

void TestUpgrade::initTestCase()
{
    testbed = std::make_unique<SerialTestbed>();
    QVERIFY2(SerialTestbed::available(), "run with LD_PRELOAD=libumockdev-preload.so.0");
    folder = std::make_unique<WorkingFolder>();

    image.segments.push_back({0x08000000, randomBytes(40 * 1024, 5)});
    image.segments.push_back({0x08020000, randomBytes(3000, 6)});
    server = std::make_unique<LocalHttpServer>();
    QVERIFY(server->listen());
    server->setResponse("/", {200, "ok", {}, {}});
    server->setResponse("/fw/data.json", {200, R"({"Modelo": ["K931"], "Version": "1.6"})", {}, {}});
    server->setResponse("/fw/" + kFirmwareName.toLatin1(), {200, QByteArray::fromStdString(toIntelHex(image)), {}, {}});

    auto provider = std::make_unique<SimulatedProvider>();
    dfuDevices = provider.get();
    backend = std::make_unique<BackendScope>(std::make_unique<flashing::EngineBackend>(std::move(provider)));
    // As main() sets them up.
    flashing::setDisplayCallbacks({onProgressStart, onLogMessage, onProgressStep});
    flashing::setVerbosityLevel(1);
    answerer = std::make_unique<ModalAnswerer>();
}

void TestUpgrade::cleanupTestCase()
{
    window.reset();
    k931.reset();
    backend.reset();
    answerer.reset();
    server.reset();
    folder.reset();
}

void TestUpgrade::startWindow(int dfuWaitLimitMs)
{
    window.reset();
    k931.reset();
    dfuDevices->unplugAll();
    resetMainWindowState();
    Endpoints endpoints = serverEndpoints(server->url(QStringLiteral("/")));
    endpoints.dfuWaitLimitMs = dfuWaitLimitMs;
    window = std::make_unique<MainWindow>(nullptr, endpoints);
    ui = window->form();
    window->show();
    k931 = std::make_unique<SimulatedK931>(*testbed);
    QVERIFY(k931->plug());
}

// Connected, read out, description parsed, newer version announced.
void TestUpgrade::waitUntilUpgradeOffered()
{
    QTRY_COMPARE_WITH_TIMEOUT(ui->label_4->text(), QStringLiteral("Conectado"), kReadyTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(ui->UpgradeButton->isEnabled() && !versionCheckTimer.isActive(), kReadyTimeoutMs);
    QCOMPARE(ui->ModelBox->currentText(), QStringLiteral("K931"));
}

QString TestUpgrade::pressUpgradeAndWaitForResult(const std::function<void()> &onBoot)
{
    QMetaObject::Connection booted = connect(k931.get(), &SimulatedK931::bootReceived, this, onBoot);
    const int before = int(answerer->boxes.size());
    ui->K931TypeBox->setCurrentText(QStringLiteral("OBD + Boost"));
    ui->UpgradeButton->click();
    auto finished = [&] {
        for (int i = before; i < answerer->boxes.size(); ++i) {
            if (answerer->boxes[i].title == QLatin1String("Aviso") || answerer->boxes[i].title == QLatin1String("Erro"))
                return true;
        }
        return false;
    };
    const bool done = QTest::qWaitFor(finished, kUpgradeTimeoutMs);
    disconnect(booted);
    return done ? answerer->boxes.last().text : QStringLiteral("(no result box)");
}

void TestUpgrade::typicalRoadThenFailures()
{
    startWindow(kDfuWaitLimitMs);
    waitUntilUpgradeOffered();
    QVERIFY(answerer->sawBox(QStringLiteral("Informacao")));

    // "BOOT" makes the K931 leave its serial port and its bootloader appear.
    std::shared_ptr<SimulatedStm32> chip;
    auto enterBootloader = [&] {
        chip = std::make_shared<SimulatedStm32>(SimulatedStm32::Clock::RealTime);
        dfuDevices->plug(chip);
    };
    QList<int> barValues;
    connect(ui->progressBar, &QProgressBar::valueChanged, this, [&](int v) {
        if (ui->ProgessText->text() == QLatin1String("Atualizando"))
            barValues << v;
    });

    const QString result = pressUpgradeAndWaitForResult(enterBootloader);
    QCOMPARE(result, kSuccess);
    QVERIFY(chip);
    for (const auto &segment : image.segments)
        QVERIFY(std::equal(segment.data.begin(), segment.data.end(),
                           chip->flash.begin() + (segment.address - SimulatedStm32::kFlashBase)));
    QVERIFY(answerer->sawBox(QStringLiteral("Importante")));
    // The request went out with the download manager's User-Agent.
    LocalHttpServer::Request request;
    for (const auto &r : server->requests) {
        if (r.path.endsWith(".hex"))
            request = r;
    }
    QCOMPARE(request.path, "/fw/" + kFirmwareName.toLatin1());
    QVERIFY(request.headers.value("user-agent").startsWith("Mozilla/5.0"));
    QVERIFY(k931->receivedBytes().contains("BOOT"));
    // The bar moved during the write and ended at 100.
    QVERIFY2(barValues.size() >= 3, qPrintable(QString::number(barValues.size())));
    QCOMPARE(ui->progressBar->value(), 100);
    QVERIFY(!window->deviceLamp()->isOn());
    QCOMPARE(ui->label_4->text(), QStringLiteral("Desconectado"));
    QVERIFY(ui->ProgessText->text().isEmpty());
    QVERIFY(!upgradeInProgress);
    QVERIFY(!QFile::exists(kFirmwareName));
    dfuDevices->unplugAll();

    // Missing on the server, with a stale copy lying around: the stale copy
    // is deleted first, so the missing file is what the user hears about.
    {
        QFile stale(kFirmwareName);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write(QByteArray::fromStdString(toIntelHex(image)));
    }
    server->setResponse("/fw/" + kFirmwareName.toLatin1(), {404, "", {}, {}});
    QVERIFY(k931->plug());
    waitUntilUpgradeOffered();
    QCOMPARE(pressUpgradeAndWaitForResult(enterBootloader),
             QStringLiteral("Impossivel Atualizar! Erro: Falta de atualização no servidor, entre em contato com a "
                            "Brevanto via WhatsApp."));
    QCOMPARE(chip->eraseCounts, (std::array<int, 8>{}));
    dfuDevices->unplugAll();

    // The chip refuses to erase, then its read-back differs: each error by
    // its number, never a success.
    server->setResponse("/fw/" + kFirmwareName.toLatin1(), {200, QByteArray::fromStdString(toIntelHex(image)), {}, {}});
    const struct {
        void (*inject)(SimulatedStm32 &);
        int code;
    } faults[] = {
        {[](SimulatedStm32 &c) { c.faults.eraseFails = true; }, flashing::kEraseError},
        {[](SimulatedStm32 &c) { c.faults.corruptReadBack = true; }, flashing::kVerifyMismatch},
    };
    for (const auto &fault : faults) {
        QVERIFY(k931->plug());
        waitUntilUpgradeOffered();
        const QString text = pressUpgradeAndWaitForResult([&] {
            enterBootloader();
            fault.inject(*chip);
        });
        QCOMPARE(text, QStringLiteral("Impossivel Atualizar! Erro: %1").arg(fault.code));
        QVERIFY(!window->deviceLamp()->isOn());
        QVERIFY(!QFile::exists(kFirmwareName));
        dfuDevices->unplugAll();
    }
}

void TestUpgrade::bootloaderNeverAppears()
{
    startWindow(1500);
    waitUntilUpgradeOffered();
    QElapsedTimer clock;
    clock.start();
    // The window keeps turning its event loop while it waits.
    int turns = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { ++turns; });
    ticker.start(50);
    const QString text = pressUpgradeAndWaitForResult([] {});
    QVERIFY(text.startsWith(QStringLiteral("Aparelho não encontrado em modo de atualização")));
    QVERIFY(answerer->boxes.last().warning);
    QVERIFY(turns > 60); // about 5.5 s of 50 ms ticks while it waited
    QVERIFY(!upgradeInProgress);
    QVERIFY(!window->deviceLamp()->isOn());
    QCOMPARE(ui->label_4->text(), QStringLiteral("Desconectado"));
    QVERIFY(!QFile::exists(kFirmwareName));
}

QTEST_MAIN(TestUpgrade)
#include "tst_upgrade.moc"
