// SPDX-License-Identifier: GPL-3.0-or-later
// The K931 waits in its bootloader, which the system will not let the
// program open (on Windows: no driver, or the chip maker's). The window asks
// before it installs or replaces anything; "Sim" installs and writes, "Não"
// leaves the device waiting, and where the system offers no install (Linux)
// the advice comes as before. A scripted backend stands in for libusb and a
// scripted installer for tarvik-driver.
#include "windowparts.h"

#include "bootloaderdriver.h"
#include "flashfailure.h"
#include "hexfile.h"
#include "localhttpserver.h"
#include "mainwindow.h"
#include "mainwindowstate.h"
#include "modalanswerer.h"
#include "programmer.h"
#include "progress.h"
#include "scriptedbackend.h"
#include "testwindow.h"

#include <QtTest>
#include <QtWidgets>

namespace {

constexpr int kRoadTimeoutMs = 20000;
const QString kQuestion = QStringLiteral("O Windows ainda não tem o driver do modo de atualização. Instalar agora?");
const QString kSuccess = QStringLiteral("Aparelho atualizado com sucesso!\nFavor reconectar o aparelho");
const QString kWaiting = QStringLiteral("Aparelho em modo de atualização");

// What tarvik-driver would find and do; installing gives the backend
// access, as WinUSB does to libusb.
struct ScriptedInstaller : bootloaderdriver::Installer {
    bootloaderdriver::Offer answer;
    QString failure;
    ScriptedBackend *backend = nullptr;
    int offers = 0;
    int installs = 0;

    bootloaderdriver::Offer offer() override
    {
        ++offers;
        return answer;
    }
    QString install() override
    {
        ++installs;
        if (failure.isEmpty()) {
            backend->connectResult = flashing::kOk;
            backend->flashLayout = ScriptedBackend().flashLayout;
        }
        return failure;
    }
};

} // namespace

class TestDriverOffer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void theOwnerDecides_data();
    void theOwnerDecides();
    void anotherProgramsDriverIsNamed();
    void withoutAnInstallTheAdviceStands();

private:
    // Press "Atualizar" on the waiting K931 and wait for the last box.
    QString updateTheWaitingDevice();
    void useInstaller(bootloaderdriver::Need need, const QString &otherDriver = QString());

    std::unique_ptr<WorkingFolder> folder;
    std::unique_ptr<LocalHttpServer> server;
    std::unique_ptr<ModalAnswerer> answerer;
    std::unique_ptr<MainWindow> window;
    ScriptedBackend *backend = nullptr;
    std::unique_ptr<BackendScope> scope;
    ScriptedInstaller *installer = nullptr;
    std::unique_ptr<bootloaderdriver::Installer> systemInstaller;
};

void TestDriverOffer::initTestCase()
{
    flashing::setDisplayCallbacks({onProgressStart, onLogMessage, onProgressStep});
    folder = std::make_unique<WorkingFolder>();
    server = std::make_unique<LocalHttpServer>();
    QVERIFY(server->listen());
    flashing::FirmwareImage image;
    image.segments.push_back({0x08000000, runnableBytes(16 * 1024, 3)});
    server->setResponse("/", {200, "ok", {}, {}});
    server->setResponse("/fw/data.json", {200, R"({"Modelo": ["K931"], "Version": "1.6"})", {}, {}});
    server->setResponse("/fw/K931_OBD_Boost.hex", {200, QByteArray::fromStdString(toIntelHex(image)), {}, {}});
}

void TestDriverOffer::init()
{
    auto owned = std::make_unique<ScriptedBackend>();
    backend = owned.get();
    // Listed, but its strings unreadable and its opening refused: what
    // libusb reports for a bootloader without a driver it can use.
    backend->deviceCount = 1;
    backend->flashLayout.clear();
    backend->connectResult = flashing::kAccessDenied;
    scope = std::make_unique<BackendScope>(std::move(owned));
    answerer = std::make_unique<ModalAnswerer>();
    resetMainWindowState();
}

void TestDriverOffer::cleanup()
{
    window.reset();
    answerer.reset();
    scope.reset();
    // The one before (none yet: the system's is then made on first use).
    bootloaderdriver::replaceInstaller(std::move(systemInstaller));
    installer = nullptr;
}

void TestDriverOffer::useInstaller(bootloaderdriver::Need need, const QString &otherDriver)
{
    auto owned = std::make_unique<ScriptedInstaller>();
    owned->answer = {need, otherDriver};
    owned->backend = backend;
    installer = owned.get();
    systemInstaller = bootloaderdriver::replaceInstaller(std::move(owned));
}

QString TestDriverOffer::updateTheWaitingDevice()
{
    window = std::make_unique<MainWindow>(nullptr, quickConfiguration(server->url(QStringLiteral("/"))));
    window->show();
    // Unreadable, it may be the K931's: the window says it waits.
    if (!QTest::qWaitFor([&] { return part<QLabel>(window.get(), "ProgessText")->text() == kWaiting; }, kRoadTimeoutMs))
        return QStringLiteral("(not shown as waiting)");
    if (!QTest::qWaitFor([&] { return part<QPushButton>(window.get(), "UpgradeButton")->isEnabled(); }, kRoadTimeoutMs))
        return QStringLiteral("(no update offered)");
    part<QComboBox>(window.get(), "K931TypeBox")->setCurrentText(QStringLiteral("OBD + Boost"));
    const int before = int(answerer->boxes.size());
    part<QPushButton>(window.get(), "UpgradeButton")->click();
    const bool ended = QTest::qWaitFor(
        [&] {
            for (int i = before; i < answerer->boxes.size(); ++i) {
                const QString title = answerer->boxes[i].title;
                if (title == QLatin1String("Aviso") || title == QLatin1String("Erro"))
                    return true;
            }
            return false;
        },
        kRoadTimeoutMs);
    return ended ? answerer->boxes.last().text : QStringLiteral("(no result box)");
}

void TestDriverOffer::theOwnerDecides_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("installFailure");
    QTest::addColumn<int>("installs");
    QTest::addColumn<bool>("written");
    QTest::newRow("Sim: installed, then written") << QStringLiteral("Sim") << QString() << 1 << true;
    QTest::newRow("Não: left waiting") << QStringLiteral("Não") << QString() << 0 << false;
    QTest::newRow("Sim, but the install failed")
        << QStringLiteral("Sim") << QStringLiteral("o Windows não deu a permissão de administrador") << 1 << false;
}

void TestDriverOffer::theOwnerDecides()
{
    QFETCH(QString, answer);
    QFETCH(QString, installFailure);
    QFETCH(int, installs);
    QFETCH(bool, written);
    useInstaller(bootloaderdriver::Need::Missing);
    installer->failure = installFailure;
    answerer->choice = answer;
    const QString result = updateTheWaitingDevice();

    QCOMPARE(answerer->texts().count(kQuestion), 1);
    QCOMPARE(installer->installs, installs);
    QCOMPARE(int(backend->writtenImages.size()), written ? 1 : 0);
    if (written) {
        QCOMPARE(result, kSuccess);
        // Looked for anew after the install, then connected.
        QCOMPARE(int(backend->connectedIndexes.size()), 2);
        return;
    }
    // Nothing sent: the device still waits, and "Atualizar" tries again.
    const QString why = installFailure.isEmpty() ? flashFailureReason(flashing::kAccessDenied, QString()) : installFailure;
    QCOMPARE(result, QStringLiteral("Impossivel Atualizar! Erro: ") + why);
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(window.get(), "ProgessText")->text(), kWaiting, kRoadTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(part<QPushButton>(window.get(), "UpgradeButton")->isEnabled(), kRoadTimeoutMs);
    QVERIFY(!upgradeInProgress);
}

// The chip maker's driver: the question names it and what replacing it
// costs, and "Não" is its default.
void TestDriverOffer::anotherProgramsDriverIsNamed()
{
    useInstaller(bootloaderdriver::Need::OtherDriver, QStringLiteral("STTub30"));
    answerer->choice = QStringLiteral("Não");
    ModalAnswerer::Box question;
    QString defaultButton;
    answerer->onBox = [&](const ModalAnswerer::Box &box) {
        if (box.title != QStringLiteral("Driver do modo de atualização"))
            return;
        question = box;
        if (auto *shown = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            defaultButton = shown->defaultButton() ? shown->defaultButton()->text() : QString();
    };
    const QString result = updateTheWaitingDevice();
    QVERIFY2(question.text.contains(QStringLiteral("(STTub30)")), qPrintable(answerer->texts().join(" | ")));
    QVERIFY(question.informative.contains(QStringLiteral("Gerenciador de Dispositivos")));
    QCOMPARE(defaultButton, QStringLiteral("Não"));
    QCOMPARE(installer->installs, 0);
    QVERIFY(backend->writtenImages.empty());
    QVERIFY(result.startsWith(QStringLiteral("Impossivel Atualizar! Erro: ")));
}

// The system's own installer on Linux offers nothing: no question, the
// udev advice at once, as before.
void TestDriverOffer::withoutAnInstallTheAdviceStands()
{
    answerer->choice = QStringLiteral("Sim");
    const QString result = updateTheWaitingDevice();
    QVERIFY(!answerer->sawBox(QStringLiteral("Driver do modo de atualização")));
    QCOMPARE(result, QStringLiteral("Impossivel Atualizar! Erro: ") + flashFailureReason(flashing::kAccessDenied, QString()));
    QVERIFY(backend->writtenImages.empty());
}

QTEST_MAIN(TestDriverOffer)
#include "tst_driveroffer.moc"
