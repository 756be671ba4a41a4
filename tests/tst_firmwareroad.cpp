// SPDX-License-Identifier: GPL-3.0-or-later
// The firmware road end to end with nothing in between faked: the simulated
// K931 on its serial port, its bootloader on emulated USB reached through
// libusb, and the firmware on a local HTTPS server. The K931 that comes back
// after the update reports the version of the firmware it was given.
#include "datafolder.h"
#include "firmwarecopies.h"
#include "firmwareserver.h"
#include "firmwaresource.h"
#include "enginebackend.h"
#include "settings.h"
#include "flashwindow.h"
#include "ledindicator.h"
#include "libusbprovider.h"
#include "localhttpserver.h"
#include "mainwindow.h"
#include "mainwindowstate.h"
#include "modalanswerer.h"
#include "programmer.h"
#include "progress.h"
#include "scriptedbackend.h"
#include "serialtestbed.h"
#include "simulateddevice.h"
#include "testwindow.h"
#include "windowparts.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QtTest>
#include <QtWidgets>

namespace {

constexpr int kRoadTimeoutMs = 20000;
const QByteArray kNewVersion = "K931 V1.6 Boost";

SimulatedDevice::Timing quickDevice()
{
    SimulatedDevice::Timing quick;
    quick.bootloaderAppearsMs = 700; // while the window already polls for it
    quick.applicationAppearsMs = 200;
    quick.replugAfterWriteMs = 500;
    return quick;
}

} // namespace

namespace {

QStringList keptSettingsFiles()
{
    return QDir(road::keptSettingsFolder()).entryList(QDir::Files);
}

QList<road::FirmwareCopy> copies()
{
    return road::listFirmwareCopies(road::backupFolder()).copies;
}

QString newestBackup()
{
    const QList<road::FirmwareCopy> kept = copies();
    return kept.isEmpty() ? QString() : kept.front().path;
}

} // namespace

class TestFirmwareRoad : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void updateFromTheServer();
    void deviceLeftInItsBootloader();
    void anotherK931InItsBootloaderIsLeftAlone();
    void manualFlashWindow();
    void settingsComeBackAfterTheUpdate_data();
    void settingsComeBackAfterTheUpdate();
    void unwritableDataFolderAsksFirst_data();
    void unwritableDataFolderAsksFirst();
    void keptSettingsAreTheDevicesLatest();
    void keptSettingsGoOnlyToTheirDevice_data();
    void keptSettingsGoOnlyToTheirDevice();
    void restoreQuestionWaitsForTheResultBox();
    void theOwnersUploadEndsTheRestore();
    void aLostLinkEndsTheRestore();
    void recoveryOffersTheSettingsKeptBefore();
    void updateFromAFolder();

private:
    void openWindow();
    void pressUpgradeAndWaitForTheNewVersion();
    bool restoreVerdictShown() const;

    std::unique_ptr<SerialTestbed> testbed;
    std::unique_ptr<BackendScope> scope;
    std::unique_ptr<LocalHttpServer> server;
    std::unique_ptr<WorkingFolder> folder;
    std::unique_ptr<SimulatedDevice> device;
    std::unique_ptr<ModalAnswerer> answerer;
    std::unique_ptr<MainWindow> window;
    QString sampleFirmware;
};

void TestFirmwareRoad::initTestCase()
{
    testbed = std::make_unique<SerialTestbed>();
    QVERIFY2(SerialTestbed::available(), "run with LD_PRELOAD=libumockdev-preload.so.0");
    scope = std::make_unique<BackendScope>(
        std::make_unique<flashing::EngineBackend>(std::make_unique<flashing::LibusbProvider>()));
    flashing::setDisplayCallbacks({onProgressStart, onLogMessage, onProgressStep});

    QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
    trusting.addCaCertificate(QSslCertificate(localServerCertificate()));
    QSslConfiguration::setDefaultConfiguration(trusting);
    server = std::make_unique<LocalHttpServer>(LocalHttpServer::Scheme::Https);
    QVERIFY(server->listen());
    folder = std::make_unique<WorkingFolder>();
    // As main() sets it up, with the data folder in the test's own.
    qputenv("XDG_DATA_HOME", QFile::encodeName(folder->filePath(QStringLiteral("data"))));
    sampleFirmware = folder->filePath(QStringLiteral("sample.hex"));
    QVERIFY(SimulatedDevice::writeSampleFirmware(sampleFirmware, kNewVersion));
    QFile hex(sampleFirmware);
    QVERIFY(hex.open(QIODevice::ReadOnly));
    server->setResponse("/", {200, "ok", {}, {}});
    server->setResponse("/fw/data.json", {200, R"({"Modelo": ["K931"], "Version": "1.6"})", {}, {}});
    server->setResponse("/fw/K931_OBD_Boost.hex", {200, hex.readAll(), {}, {}});
}

void TestFirmwareRoad::cleanupTestCase()
{
    server.reset();
    scope.reset();
    folder.reset();
}

void TestFirmwareRoad::init()
{
    resetMainWindowState();
    device = std::make_unique<SimulatedDevice>(*testbed, quickDevice());
    answerer = std::make_unique<ModalAnswerer>();
}

void TestFirmwareRoad::cleanup()
{
    window.reset();
    device.reset();
    answerer.reset();
}

void TestFirmwareRoad::openWindow()
{
    QUrl root = server->url(QStringLiteral("/"));
    root.setHost(QStringLiteral("localhost")); // the name in the server's certificate
    window = std::make_unique<MainWindow>(nullptr, quickConfiguration(root));
    window->show();
}

void TestFirmwareRoad::pressUpgradeAndWaitForTheNewVersion()
{
    QTRY_VERIFY_WITH_TIMEOUT(part<QPushButton>(window.get(), "UpgradeButton")->isEnabled(), kRoadTimeoutMs);
    part<QComboBox>(window.get(), "K931TypeBox")->setCurrentText(QStringLiteral("OBD + Boost"));
    const int before = int(answerer->boxes.size());
    part<QPushButton>(window.get(), "UpgradeButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(answerer->boxes.size() > before && answerer->boxes.last().title == QLatin1String("Aviso"),
                             kRoadTimeoutMs);
    QCOMPARE(answerer->boxes.last().text, QStringLiteral("Aparelho atualizado com sucesso!\nFavor reconectar o aparelho"));
    QVERIFY(answerer->texts().contains(QStringLiteral("Não desconecte o aparelho")));
    QVERIFY(!QFile::exists(firmwareFilePath));
    QCOMPARE(device->firmwareVersion(), kNewVersion);

    // Re-plugged, the K931 runs the new firmware and says so.
    QTRY_COMPARE_WITH_TIMEOUT(part<QLineEdit>(window.get(), "VersionBox")->text(), QString::fromLatin1(kNewVersion),
                              kRoadTimeoutMs);
    QTRY_VERIFY(!versionCheckTimer.isActive());
    QTRY_COMPARE(part<QLabel>(window.get(), "label_4")->text(), QStringLiteral("Conectado"));
}

void TestFirmwareRoad::updateFromTheServer()
{
    QVERIFY(device->plugInApplication());
    openWindow();
    QTRY_VERIFY_WITH_TIMEOUT(answerer->sawBox(QStringLiteral("Informacao")), kRoadTimeoutMs);
    QCOMPARE(answerer->boxes.first().text, QStringLiteral("Atualizacao v1.6 disponivel"));
    pressUpgradeAndWaitForTheNewVersion();
    QVERIFY(device->application().receivedBytes().contains("?VERS"));
    // The firmware it replaced was kept first, named after its version.
    QVERIFY2(newestBackup().endsWith(QStringLiteral("_K931_V1.5_Boost.hex")), qPrintable(newestBackup()));
    // Up to date now: no further notice at the next comparisons.
    QTest::qWait(5 * quickConfiguration(server->url(QStringLiteral("/"))).versionCheckIntervalMs);
    QCOMPARE(answerer->texts().count(QStringLiteral("Atualizacao v1.6 disponivel")), 1);
}

// An update cut short left the K931 in its bootloader, without a serial
// port: the window says so and "Atualizar" brings it back.
void TestFirmwareRoad::deviceLeftInItsBootloader()
{
    QVERIFY(device->plugInBootloader());
    openWindow();
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(window.get(), "ProgessText")->text(),
                              QStringLiteral("Aparelho em modo de atualização"), kRoadTimeoutMs);
    QCOMPARE(part<QLabel>(window.get(), "label_4")->text(), QStringLiteral("Desconectado"));
    const int copiesBefore = int(copies().size());
    const QStringList settingsBefore = keptSettingsFiles();
    pressUpgradeAndWaitForTheNewVersion();
    QVERIFY(!device->application().receivedBytes().contains("BOOT"));
    // No read-out, no settings file; the firmware is kept, without a
    // version: none could be read in the bootloader.
    QCOMPARE(keptSettingsFiles(), settingsBefore);
    QCOMPARE(int(copies().size()), copiesBefore + 1);
    QCOMPARE(copies().front().origin, road::CopyOrigin::FoundInBootloader);
    QVERIFY2(!newestBackup().contains(QStringLiteral("K931")), qPrintable(newestBackup()));
    QTRY_VERIFY(part<QLabel>(window.get(), "ProgessText")->text().isEmpty());
}

// Beside the running K931, another one an earlier update left in its
// bootloader, listed first: "Atualizar" writes the one it sent "BOOT", the
// other keeps its flash and waits.
void TestFirmwareRoad::anotherK931InItsBootloaderIsLeftAlone()
{
    SimulatedDevice waiting(*testbed, quickDevice(), 0);
    device = std::make_unique<SimulatedDevice>(*testbed, quickDevice(), 1);
    QVERIFY(waiting.plugInBootloader());
    const std::vector<uint8_t> held = waiting.chip().flash;
    QVERIFY(device->plugInApplication());
    openWindow();
    QTRY_VERIFY_WITH_TIMEOUT(answerer->sawBox(QStringLiteral("Informacao")), kRoadTimeoutMs);
    pressUpgradeAndWaitForTheNewVersion();
    QVERIFY(waiting.chip().flash == held);
    QVERIFY(waiting.bootloader().isPlugged());
    window.reset();
}

void TestFirmwareRoad::manualFlashWindow()
{
    QVERIFY(device->plugInBootloader());
    FlashWindowConfiguration quick;
    quick.removalPollMs = 100;
    FlashWindow flash(nullptr, quick);
    flash.show();
    // libusb learns of the new device from its hot-plug event.
    QTRY_VERIFY(flashing::getDfuDeviceList(nullptr, 0xDF11, 0x0483) > 0);
    part<QPushButton>(&flash, "ConnectButton")->click();
    QVERIFY2(part<QTextEdit>(&flash, "textEdit")->toPlainText().endsWith(QStringLiteral("Conectado\n")),
             qPrintable(part<QTextEdit>(&flash, "textEdit")->toPlainText()));
    answerer->chooseFile(sampleFirmware);
    part<QPushButton>(&flash, "SelectFileButton")->click();
    part<QPushButton>(&flash, "FlashButton")->click();
    QVERIFY(answerer->sawBox(QStringLiteral("Sucesso")));
    QCOMPARE(device->firmwareVersion(), kNewVersion);
    // The owner re-plugs: the bootloader leaves and the window closes.
    QTRY_VERIFY_WITH_TIMEOUT(!flash.isVisible(), kRoadTimeoutMs);
    QTRY_VERIFY(device->application().isPlugged());
}

void TestFirmwareRoad::settingsComeBackAfterTheUpdate_data()
{
    QTest::addColumn<QByteArray>("rpm");     // the owner's, before the update
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QByteArray>("ignored"); // a setting the device does not store
    QTest::addColumn<QString>("result");     // the last box's title, empty: no box
    QTest::addColumn<bool>("spoiled");       // the kept file overwritten during the update
    QTest::newRow("restored") << QByteArray("7200") << QStringLiteral("Sim") << QByteArray() << QStringLiteral("Sucesso")
                              << false;
    QTest::newRow("declined") << QByteArray("7200") << QStringLiteral("Não") << QByteArray() << QString() << false;
    QTest::newRow("one not taken") << QByteArray("7200") << QStringLiteral("Sim") << QByteArray("RPML")
                                   << QStringLiteral("Erro") << false;
    QTest::newRow("unchanged by the update") << QByteArray("6500") << QStringLiteral("Sim") << QByteArray() << QString()
                                             << false;
    QTest::newRow("kept file spoiled") << QByteArray("7200") << QStringLiteral("Sim") << QByteArray() << QString()
                                       << true;
}

// The simulated K931 comes back from an update with its defaults, as the
// real one does: the owner is offered the settings it had.
void TestFirmwareRoad::settingsComeBackAfterTheUpdate()
{
    QFETCH(QByteArray, rpm);
    QFETCH(QString, choice);
    QFETCH(QByteArray, ignored);
    QFETCH(QString, result);
    QFETCH(bool, spoiled);
    device->application().values["RPML"] = rpm;
    if (!ignored.isEmpty())
        device->application().ignoredSettings.insert(ignored);
    answerer->choice = choice;
    QVERIFY(device->plugInApplication());
    openWindow();
    const QStringList filesBefore = keptSettingsFiles();
    const QDir kept(road::keptSettingsFolder());
    connect(&device->application(), &SimulatedK931::bootReceived, this, [&] {
        for (const QString &name : keptSettingsFiles()) {
            QFile file(kept.filePath(name));
            if (spoiled && !filesBefore.contains(name) && file.open(QIODevice::WriteOnly))
                file.write("{\"format\": 1, \"settings\": {\"rpm\": ");
        }
    });
    pressUpgradeAndWaitForTheNewVersion();
    QTRY_VERIFY_WITH_TIMEOUT(deviceAnswered, kRoadTimeoutMs);
    const int setsBefore = int(device->application().received.size());
    const bool offered = answerer->sawBox(QStringLiteral("Configurações"));
    QCOMPARE(offered, rpm != "6500" && !spoiled);
    if (offered) {
        QVERIFY(answerer->texts().contains(
            QStringLiteral("A atualização mudou as configurações do aparelho.\nRestaurar as configurações anteriores?")));
    }
    if (!result.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(answerer->boxes.last().title == result, kRoadTimeoutMs);
        // The upload's own "Sucesso" gives way to the read-back's verdict.
        QVERIFY(!answerer->texts().contains(QStringLiteral("Todas as calibrações foram enviadas com sucesso!")));
    } else {
        QTest::qWait(2 * quickConfiguration(server->url(QStringLiteral("/"))).commandIntervalMs); // the first turn
        QCOMPARE(int(device->application().received.size()), setsBefore); // nothing sent
    }
    const QStringList filesAfter = keptSettingsFiles();
    if (result == QLatin1String("Sucesso")) {
        QCOMPARE(device->application().values.value("RPML"), rpm);
        QCOMPARE(filesAfter, filesBefore); // restored: the file is gone
    } else if (result == QLatin1String("Erro")) {
        QVERIFY2(answerer->boxes.last().text.startsWith(QStringLiteral("O aparelho não guardou: Rpm Shift Light.")),
                 qPrintable(answerer->boxes.last().text));
        QCOMPARE(filesAfter.size(), filesBefore.size() + 1);
    } else if (offered) {
        QCOMPARE(device->application().values.value("RPML"), QByteArray("6500"));
        // Declined: kept for "tarvik-config import", every setting the
        // device held before "BOOT".
        QCOMPARE(filesAfter.size(), filesBefore.size() + 1);
        QFile file(kept.filePath(filesAfter.last()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const settings::FileContents contents = settings::fromFile(file.readAll());
        QVERIFY2(contents.error.isEmpty(), qPrintable(contents.error));
        QCOMPARE(contents.version, QStringLiteral("K931 V1.5 Boost"));
        QCOMPARE(contents.unit, settings::Unit::MilliVolt);
        QCOMPARE(contents.values.size(), settings::keys().size());
        for (const auto &[key, word] : contents.values) {
            const QString value = key->mnemonic() == "RPML" ? QString::fromLatin1(rpm) : QString::fromLatin1(key->factoryReply);
            QCOMPARE(word, *settings::wordOfReply(*key, value));
        }
    } else if (spoiled) {
        QCOMPARE(filesAfter.size(), filesBefore.size() + 1); // never offered, never removed
    } else {
        QCOMPARE(filesAfter, filesBefore); // equal: nothing to keep
    }
}

void TestFirmwareRoad::unwritableDataFolderAsksFirst_data()
{
    QTest::addColumn<QString>("choice");
    QTest::newRow("continue") << QStringLiteral("Sim");
    QTest::newRow("stop") << QStringLiteral("Não");
}

// Where neither the copy of the firmware nor the settings can be kept, the
// owner is told in the window before "BOOT" and decides; going on, the
// result says again that there is no copy, and nothing is offered that was
// not kept.
void TestFirmwareRoad::unwritableDataFolderAsksFirst()
{
    QFETCH(QString, choice);
    QFile blocker(folder->filePath(QStringLiteral("not-a-folder")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(blocker.fileName()));
    answerer->choice = choice;
    device->application().values["RPML"] = "7200";
    QVERIFY(device->plugInApplication());
    openWindow();
    if (choice == QLatin1String("Sim")) {
        pressUpgradeAndWaitForTheNewVersion();
        QTRY_VERIFY_WITH_TIMEOUT(deviceAnswered, kRoadTimeoutMs);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(part<QPushButton>(window.get(), "UpgradeButton")->isEnabled(), kRoadTimeoutMs);
        part<QComboBox>(window.get(), "K931TypeBox")->setCurrentText(QStringLiteral("OBD + Boost"));
        part<QPushButton>(window.get(), "UpgradeButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(answerer->texts().filter(QStringLiteral("Continuar sem cópia?")).size() == 1,
                                 kRoadTimeoutMs);
        QTRY_VERIFY(part<QPushButton>(window.get(), "UpgradeButton")->isEnabled());
        QVERIFY(!device->application().receivedBytes().contains("BOOT"));
    }
    qputenv("XDG_DATA_HOME", dataHome);
    const QStringList asked = answerer->texts().filter(QStringLiteral("Continuar sem cópia?"));
    QCOMPARE(asked.size(), 1);
    QVERIFY2(asked.first().contains(QStringLiteral("a cópia do firmware atual"))
                 && asked.first().contains(QStringLiteral("as configurações do aparelho")),
             qPrintable(asked.first()));
    QVERIFY(!answerer->sawBox(QStringLiteral("Configurações")));
    QVERIFY(QFileInfo(blocker.fileName()).isFile());
    if (choice == QLatin1String("Sim")) {
        const auto result = std::find_if(answerer->boxes.begin(), answerer->boxes.end(),
                                         [](const ModalAnswerer::Box &b) { return b.title == QLatin1String("Aviso") && b.text.startsWith(QStringLiteral("Aparelho atualizado")); });
        QVERIFY(result != answerer->boxes.end());
        QVERIFY2(result->informative.startsWith(QStringLiteral("Não foi possível guardar a cópia do firmware anterior")),
                 qPrintable(result->informative));
    }
}

bool TestFirmwareRoad::restoreVerdictShown() const
{
    for (const ModalAnswerer::Box &box : answerer->boxes) {
        if (box.text.startsWith(QStringLiteral("O aparelho não guardou"))
            || box.text == QStringLiteral("As configurações anteriores foram restauradas."))
            return true;
    }
    return false;
}

// Values the owner uploaded after the read-out are the ones kept before
// "BOOT" and restored after it, not those the read-out found.
void TestFirmwareRoad::keptSettingsAreTheDevicesLatest()
{
    device->application().values["RPML"] = "7200";
    answerer->choice = QStringLiteral("Sim");
    QVERIFY(device->plugInApplication());
    openWindow();
    QTRY_VERIFY_WITH_TIMEOUT(deviceAnswered, kRoadTimeoutMs);
    part<QLineEdit>(window.get(), "RpmShiftLightVal")->setText(QStringLiteral("7600"));
    part<QPushButton>(window.get(), "SetAllCalibrations")->click();
    QTRY_VERIFY_WITH_TIMEOUT(answerer->sawBox(QStringLiteral("Sucesso")), kRoadTimeoutMs);
    QCOMPARE(device->application().values.value("RPML"), QByteArray("7600"));
    pressUpgradeAndWaitForTheNewVersion();
    QTRY_VERIFY_WITH_TIMEOUT(answerer->texts().contains(QStringLiteral("As configurações anteriores foram restauradas.")),
                             kRoadTimeoutMs);
    QCOMPARE(device->application().values.value("RPML"), QByteArray("7600"));
}

void TestFirmwareRoad::keptSettingsGoOnlyToTheirDevice_data()
{
    QTest::addColumn<QByteArray>("serialBefore");
    QTest::addColumn<QByteArray>("serialAfter");
    QTest::addColumn<bool>("offered");
    QTest::newRow("another K931 plugged in") << QByteArray("2058376B5A30") << QByteArray("3671345F3033") << false;
    QTest::newRow("no serial numbers") << QByteArray() << QByteArray() << true;
}

// The settings of one K931 never go into another plugged in after it; a
// device without a serial number cannot be told apart, so the owner is
// shown which settings these are before deciding.
void TestFirmwareRoad::keptSettingsGoOnlyToTheirDevice()
{
    QFETCH(QByteArray, serialBefore);
    QFETCH(QByteArray, serialAfter);
    QFETCH(bool, offered);
    device->application().values["RPML"] = "7200";
    device->application().serialNumber = serialBefore;
    connect(&device->application(), &SimulatedK931::bootReceived, this,
            [&] { device->application().serialNumber = serialAfter; });
    QVERIFY(device->plugInApplication());
    openWindow();
    const QStringList filesBefore = keptSettingsFiles();
    pressUpgradeAndWaitForTheNewVersion();
    QTRY_VERIFY_WITH_TIMEOUT(deviceAnswered, kRoadTimeoutMs);
    QTest::qWait(2 * quickConfiguration(server->url(QStringLiteral("/"))).commandIntervalMs); // the offer's turn
    QCOMPARE(answerer->sawBox(QStringLiteral("Configurações")), offered);
    QCOMPARE(keptSettingsFiles().size(), filesBefore.size() + 1); // declined or waiting: kept
    if (offered) {
        const ModalAnswerer::Box question = answerer->boxes.last();
        QVERIFY2(question.informative.contains(QStringLiteral("K931 V1.5 Boost")), qPrintable(question.informative));
    } else {
        QCOMPARE(device->application().values.value("RPML"), QByteArray("6500"));
    }
}

// A device re-plugged while the update's result box is still open is read
// behind it; the question comes only once the box is closed, and "Sim"
// then restores.
void TestFirmwareRoad::restoreQuestionWaitsForTheResultBox()
{
    device->application().values["RPML"] = "7200";
    answerer->choice = QStringLiteral("Sim");
    // The result box runs its own event loop: what happens behind it is
    // watched from a timer, which closes it once the device has been read.
    QTimer behindTheBox;
    bool readBehindTheBox = false;
    bool askedOverTheBox = false;
    connect(&behindTheBox, &QTimer::timeout, this, [&] {
        for (QWidget *w : QApplication::topLevelWidgets())
            askedOverTheBox |= w->isVisible() && w->windowTitle() == QStringLiteral("Configurações");
        if (deviceAnswered && part<QLineEdit>(window.get(), "VersionBox")->text() == QString::fromLatin1(kNewVersion)) {
            readBehindTheBox = true;
            behindTheBox.stop();
            QTimer::singleShot(10 * quickConfiguration(server->url(QStringLiteral("/"))).commandIntervalMs, this,
                               [this] { answerer->setPaused(false); });
        }
    });
    answerer->onBox = [&](const ModalAnswerer::Box &box) {
        if (!box.text.startsWith(QStringLiteral("Aparelho atualizado")))
            return;
        answerer->setPaused(true);
        behindTheBox.start(20);
    };
    QVERIFY(device->plugInApplication());
    openWindow();
    QTRY_VERIFY_WITH_TIMEOUT(part<QPushButton>(window.get(), "UpgradeButton")->isEnabled(), kRoadTimeoutMs);
    part<QComboBox>(window.get(), "K931TypeBox")->setCurrentText(QStringLiteral("OBD + Boost"));
    part<QPushButton>(window.get(), "UpgradeButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(readBehindTheBox, kRoadTimeoutMs);
    QVERIFY(!askedOverTheBox);
    QTRY_VERIFY_WITH_TIMEOUT(answerer->texts().contains(QStringLiteral("As configurações anteriores foram restauradas.")),
                             kRoadTimeoutMs);
    QVERIFY(!answerer->texts().contains(QStringLiteral("Aguarde o fim da atualização")));
    QCOMPARE(device->application().values.value("RPML"), QByteArray("7200"));
}

// "Configurar" pressed while the restore is sent: the owner's own values
// go in, and no verdict on the restore names them as not taken.
void TestFirmwareRoad::theOwnersUploadEndsTheRestore()
{
    device->application().values["RPML"] = "7200";
    answerer->choice = QStringLiteral("Sim");
    answerer->onBox = [this](const ModalAnswerer::Box &box) {
        if (box.title != QStringLiteral("Configurações"))
            return;
        // While the restore's upload is under way: it begins as the form
        // shows the kept values, and sends only what the device lost.
        auto *restoring = new QTimer(window.get());
        connect(restoring, &QTimer::timeout, window.get(), [this, restoring] {
            if (part<QLineEdit>(window.get(), "RpmShiftLightVal")->text() != QLatin1String("7200"))
                return;
            restoring->deleteLater();
            part<QLineEdit>(window.get(), "RpmShiftLightVal")->setText(QStringLiteral("8000"));
            part<QPushButton>(window.get(), "SetAllCalibrations")->click();
        });
        restoring->start(1);
    };
    QVERIFY(device->plugInApplication());
    openWindow();
    const int filesBefore = int(keptSettingsFiles().size());
    pressUpgradeAndWaitForTheNewVersion();
    QTRY_VERIFY_WITH_TIMEOUT(answerer->texts().contains(QStringLiteral("Todas as calibrações foram enviadas com sucesso!")),
                             kRoadTimeoutMs);
    QTest::qWait(10 * quickConfiguration(server->url(QStringLiteral("/"))).commandIntervalMs); // a read-back's time
    QVERIFY(!restoreVerdictShown());
    QCOMPARE(device->application().values.value("RPML"), QByteArray("8000"));
    QCOMPARE(int(keptSettingsFiles().size()), filesBefore + 1);
}

// The link lost while the restored values are read back: the restore ends
// with its file kept, and no verdict reaches the device plugged in next.
void TestFirmwareRoad::aLostLinkEndsTheRestore()
{
    device->application().values["RPML"] = "7200";
    answerer->choice = QStringLiteral("Sim");
    answerer->onBox = [this](const ModalAnswerer::Box &box) {
        // The read-back stalls at the flag, where the cable is pulled.
        if (box.title == QStringLiteral("Configurações"))
            device->application().setBehaviour("TURZ", SimulatedK931::Behaviour::Silent);
    };
    QVERIFY(device->plugInApplication());
    openWindow();
    const int filesBefore = int(keptSettingsFiles().size());
    pressUpgradeAndWaitForTheNewVersion();
    QTRY_VERIFY_WITH_TIMEOUT(answerer->sawBox(QStringLiteral("Configurações")), kRoadTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(device->application().receivedBytes().endsWith("?TURZ"), kRoadTimeoutMs);
    device->application().unplug();
    device->application().clearBehaviours();
    QTRY_COMPARE(part<QLabel>(window.get(), "label_4")->text(), QStringLiteral("Desconectado"));
    QVERIFY(device->application().plug());
    QTRY_VERIFY_WITH_TIMEOUT(deviceAnswered, kRoadTimeoutMs);
    QTest::qWait(2 * quickConfiguration(server->url(QStringLiteral("/"))).commandIntervalMs);
    QVERIFY(!restoreVerdictShown());
    QCOMPARE(int(keptSettingsFiles().size()), filesBefore + 1);
}

// An update whose write failed leaves the K931 in its bootloader; the
// update that brings it back offers the settings kept before the first.
void TestFirmwareRoad::recoveryOffersTheSettingsKeptBefore()
{
    device->application().values["RPML"] = "7200";
    answerer->choice = QStringLiteral("Sim");
    QVERIFY(device->plugInApplication());
    openWindow();
    QTRY_VERIFY_WITH_TIMEOUT(part<QPushButton>(window.get(), "UpgradeButton")->isEnabled(), kRoadTimeoutMs);
    part<QComboBox>(window.get(), "K931TypeBox")->setCurrentText(QStringLiteral("OBD + Boost"));
    device->chip().faults.writeFails = true;
    part<QPushButton>(window.get(), "UpgradeButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(answerer->texts().filter(QStringLiteral("Impossivel Atualizar! Erro: ")).size() == 1,
                             kRoadTimeoutMs);
    device->chip().faults = {};
    // The window closed and opened again: what was kept is found on disk.
    // The re-plug after the cut-short write starts nothing; the owner then
    // brings up its bootloader.
    QTRY_VERIFY_WITH_TIMEOUT(!upgradeInProgress, kRoadTimeoutMs);
    window.reset();
    resetMainWindowState();
    QTRY_VERIFY_WITH_TIMEOUT(!device->bootloader().isPlugged() && !device->application().isPlugged(), kRoadTimeoutMs);
    QVERIFY(device->plugInBootloader());
    openWindow();
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(window.get(), "ProgessText")->text(),
                              QStringLiteral("Aparelho em modo de atualização"), kRoadTimeoutMs);
    pressUpgradeAndWaitForTheNewVersion();
    QTRY_VERIFY_WITH_TIMEOUT(answerer->texts().contains(QStringLiteral("As configurações anteriores foram restauradas.")),
                             kRoadTimeoutMs);
    QCOMPARE(device->application().values.value("RPML"), QByteArray("7200"));
}

// A folder laid out like the server (a USB stick in a workshop without
// internet) is a source like the server: the lamp says it answers, the
// notice, the model list and the update follow.
void TestFirmwareRoad::updateFromAFolder()
{
    const QString stick = folder->filePath(QStringLiteral("pendrive"));
    QVERIFY(FirmwareServer::writeRelease(stick, QStringLiteral("1.6")));
    const road::FirmwareSource source = road::firmwareSource(stick);
    QVERIFY2(source.ok(), qPrintable(source.error));
    MainWindowConfiguration configuration = quickConfiguration(closedLocalUrl(QStringLiteral("/")));
    configuration.firmwareBaseUrl = source.baseUrl;
    configuration.probeUrl = source.probeUrl;
    QVERIFY(device->plugInApplication());
    window = std::make_unique<MainWindow>(nullptr, configuration);
    window->show();
    QTRY_VERIFY_WITH_TIMEOUT(answerer->sawBox(QStringLiteral("Informacao")), kRoadTimeoutMs);
    QVERIFY(part<LedIndicator>(window.get(), "internetLamp")->isOn());
    pressUpgradeAndWaitForTheNewVersion();
    QVERIFY(QFile::exists(QDir(stick).filePath(QStringLiteral("K931_OBD_Boost.hex")))); // the source stays whole
}

QTEST_MAIN(TestFirmwareRoad)
#include "tst_firmwareroad.moc"
