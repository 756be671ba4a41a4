// SPDX-License-Identifier: GPL-3.0-or-later
// The internet lamp and the update check against local servers. The device's
// version is typed into the version field as the parser would write it.
#include "windowparts.h"
#include "mainwindow.h"
#include "mainwindowstate.h"
#include "localhttpserver.h"
#include "modalanswerer.h"
#include "testwindow.h"
#include "ledindicator.h"

#include <QtTest>
#include <QtWidgets>

namespace {
constexpr int kParseTimeoutMs = 4000; // a few probes and the parse delay
}

class TestUpdateCheck : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void lampFollowsTheProbe();
    void newerVersionIsAnnounced();
    void sameVersionStopsQuietly();
    void descriptionOddities();
    void deviceReadBeforeDescription();
    void usersFilesAreLeftAlone();
    void noTemporaryFolderNoSharedFallback();

private:
    void start(const QByteArray &description);

    std::unique_ptr<WorkingFolder> folder;
    std::unique_ptr<TemporaryRoot> temporary;
    std::unique_ptr<LocalHttpServer> server;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<ModalAnswerer> answerer;
    QWidget *ui = nullptr; // the window, whose widgets are found by name
};

void TestUpdateCheck::init()
{
    resetMainWindowState();
    folder = std::make_unique<WorkingFolder>();
    temporary = std::make_unique<TemporaryRoot>();
    server = std::make_unique<LocalHttpServer>();
    QVERIFY(server->listen());
    server->setResponse("/", {200, "<html>ok</html>", {}, {}});
    answerer = std::make_unique<ModalAnswerer>();
}

void TestUpdateCheck::cleanup()
{
    window.reset();
    answerer.reset();
    server.reset();
    temporary.reset();
    folder.reset();
}

void TestUpdateCheck::start(const QByteArray &description)
{
    server->setResponse("/fw/data.json", {200, description, {}, {}});
    window = std::make_unique<MainWindow>(nullptr, quickConfiguration(server->url(QStringLiteral("/"))));
    ui = window.get();
}

void TestUpdateCheck::lampFollowsTheProbe()
{
    start(R"({"Modelo": ["K931"], "Version": "1.0"})");
    QTRY_VERIFY_WITH_TIMEOUT(part<LedIndicator>(window.get(), "internetLamp")->isOn(), kParseTimeoutMs);
    // The description was fetched once, and parsed into the list.
    QTRY_COMPARE_WITH_TIMEOUT(part<QComboBox>(ui, "ModelBox")->count(), 1, kParseTimeoutMs);
    QCOMPARE(temporary->privateFolders().size(), 1);
    QVERIFY(!temporary->holds(QStringLiteral("data.json")));

    // A probe server that hangs past the time limit: no internet.
    server->setResponse("/", {200, "", {}, LocalHttpServer::Behaviour::Hang});
    QTRY_VERIFY_WITH_TIMEOUT(!part<LedIndicator>(window.get(), "internetLamp")->isOn(), kParseTimeoutMs);
    // One that answers again.
    server->setResponse("/", {200, "ok", {}, {}});
    QTRY_VERIFY_WITH_TIMEOUT(part<LedIndicator>(window.get(), "internetLamp")->isOn(), kParseTimeoutMs);
    // One that answers with no body at all.
    server->setResponse("/", {204, "", {}, {}});
    QTRY_VERIFY_WITH_TIMEOUT(!part<LedIndicator>(window.get(), "internetLamp")->isOn(), kParseTimeoutMs);

    int descriptionRequests = 0;
    for (const auto &r : server->requests)
        descriptionRequests += r.path == "/fw/data.json";
    QCOMPARE(descriptionRequests, 1);
    QCOMPARE(part<QComboBox>(ui, "ModelBox")->count(), 1);
    QVERIFY(answerer->boxes.isEmpty());
}

// With the program's own delay: the description is read five seconds after
// its download started.
void TestUpdateCheck::newerVersionIsAnnounced()
{
    server->setResponse("/fw/data.json", {200, R"({"Modelo": ["K931", "K932"], "Version": "1.6"})", {}, {}});
    MainWindowConfiguration configuration = quickConfiguration(server->url(QStringLiteral("/")));
    configuration.descriptionParseDelayMs = delays::kDescriptionParseDelayMs;
    window = std::make_unique<MainWindow>(nullptr, configuration);
    ui = window.get();
    part<QLineEdit>(ui, "VersionBox")->setText(QStringLiteral("K931 V1.5 Boost"));
    // The internet probe asks in between: any request may come last.
    const auto described = [this] {
        return std::any_of(server->requests.begin(), server->requests.end(),
                           [](const auto &request) { return request.path == "/fw/data.json"; });
    };
    QTRY_VERIFY_WITH_TIMEOUT(described(), kParseTimeoutMs);
    QElapsedTimer sinceRequest;
    sinceRequest.start();
    QTRY_VERIFY_WITH_TIMEOUT(answerer->sawBox(QStringLiteral("Informacao")), 2 * delays::kDescriptionParseDelayMs);
    QVERIFY2(sinceRequest.elapsed() >= 4500, qPrintable(QString::number(sinceRequest.elapsed())));
    QCOMPARE(answerer->boxes.first().text, QStringLiteral("Atualizacao v1.6 disponivel"));
    QVERIFY(part<QPushButton>(ui, "UpgradeButton")->isEnabled());
    QCOMPARE(serverVersionText, QStringLiteral("1.6"));
    QVERIFY(!versionCheckTimer.isActive());
    QCOMPARE(part<QComboBox>(ui, "ModelBox")->count(), 2);
}

void TestUpdateCheck::sameVersionStopsQuietly()
{
    start(R"({"Modelo": ["K931"], "Version": "1.6"})");
    // Without a "V" nothing is compared and the timer keeps running.
    part<QLineEdit>(ui, "VersionBox")->setText(QStringLiteral("1.6"));
    QTRY_COMPARE_WITH_TIMEOUT(part<QComboBox>(ui, "ModelBox")->count(), 1, kParseTimeoutMs);
    QVERIFY(versionCheckTimer.isActive());
    part<QLineEdit>(ui, "VersionBox")->setText(QStringLiteral("V1.6"));
    // The box would come with the comparison that stopped the timer.
    QTRY_VERIFY(!versionCheckTimer.isActive());
    QVERIFY(answerer->boxes.isEmpty());
}

void TestUpdateCheck::descriptionOddities()
{
    // A number where a string belongs gives no version; non-strings are
    // skipped in the model list.
    start(R"({"Modelo": ["A", 5, "B"], "Version": 1.6})");
    part<QLineEdit>(ui, "VersionBox")->setText(QStringLiteral("V1.0"));
    QTRY_COMPARE_WITH_TIMEOUT(part<QComboBox>(ui, "ModelBox")->count(), 2, kParseTimeoutMs);
    QCOMPARE(part<QComboBox>(ui, "ModelBox")->itemText(0), QStringLiteral("A"));
    QCOMPARE(part<QComboBox>(ui, "ModelBox")->itemText(1), QStringLiteral("B"));
    QTest::qWait(3 * quickConfiguration(server->url(QStringLiteral("/"))).versionCheckIntervalMs); // several comparisons
    QVERIFY(answerer->boxes.isEmpty());
    QCOMPARE(serverVersion, 0.0f);
    QVERIFY(part<QPushButton>(ui, "UpgradeButton")->isEnabled());
    QVERIFY(!temporary->holds(QStringLiteral("data.json")));
}

void TestUpdateCheck::deviceReadBeforeDescription()
{
    // Compared against 0 first (nothing shown, timer stopped), then again by
    // the parse.
    start(R"({"Modelo": ["K931"], "Version": "2.0"})");
    part<QLineEdit>(ui, "VersionBox")->setText(QStringLiteral("V1.5"));
    QTRY_VERIFY_WITH_TIMEOUT(!versionCheckTimer.isActive(), kParseTimeoutMs);
    QVERIFY(answerer->boxes.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(answerer->sawBox(QStringLiteral("Informacao")), kParseTimeoutMs);
    QCOMPARE(answerer->boxes.first().text, QStringLiteral("Atualizacao v2.0 disponivel"));
}

// The program's own data.json lives in a folder of its own: a user's file of
// that name in the working directory was overwritten, then deleted, and a
// working directory that cannot be written stopped the check without a word.
void TestUpdateCheck::usersFilesAreLeftAlone()
{
    const QByteArray mine = "{\"meu\": \"arquivo\"}";
    {
        QFile own(QStringLiteral("data.json"));
        QVERIFY(own.open(QIODevice::WriteOnly));
        own.write(mine);
    }
    start(R"({"Modelo": ["K931"], "Version": "1.0"})");
    QTRY_COMPARE_WITH_TIMEOUT(part<QComboBox>(ui, "ModelBox")->count(), 1, kParseTimeoutMs);
    QFile own(QStringLiteral("data.json"));
    QVERIFY(own.open(QIODevice::ReadOnly));
    QCOMPARE(own.readAll(), mine);

    // Not even root may create a file here.
    window.reset();
    resetMainWindowState();
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QStringLiteral("/proc")));
    start(R"({"Modelo": ["K932"], "Version": "1.0"})");
    const bool filled = QTest::qWaitFor([&] { return part<QComboBox>(ui, "ModelBox")->count() == 1; }, kParseTimeoutMs);
    QDir::setCurrent(previous);
    QVERIFY(filled);
    QCOMPARE(part<QComboBox>(ui, "ModelBox")->itemText(0), QStringLiteral("K932"));
}

// A temporary folder that cannot be used: the user's cache instead, never a
// fixed name another user could prepare; without either, no download.
void TestUpdateCheck::noTemporaryFolderNoSharedFallback()
{
    qputenv("TMPDIR", QFile::encodeName(folder->filePath(QStringLiteral("missing/tmp"))));
    QFile blocker(folder->filePath(QStringLiteral("not-a-folder")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QByteArray cacheBefore = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(folder->filePath(QStringLiteral("cache"))));
    start(R"({"Modelo": ["K931"], "Version": "1.0"})");
    QTRY_COMPARE_WITH_TIMEOUT(part<QComboBox>(ui, "ModelBox")->count(), 1, kParseTimeoutMs);
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QCOMPARE(QDir(cache).entryList({QStringLiteral("work-*")}, QDir::Dirs).size(), 1);
    QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/tarvik-connect-unavailable")));
    window.reset();

    resetMainWindowState();
    const int requestsBefore = int(server->requests.size());
    qputenv("XDG_CACHE_HOME", QFile::encodeName(blocker.fileName() + QStringLiteral("/cache")));
    start(R"({"Modelo": ["K931"], "Version": "1.0"})");
    QTRY_VERIFY_WITH_TIMEOUT(part<LedIndicator>(window.get(), "internetLamp")->isOn(), kParseTimeoutMs);
    QTest::qWait(quickConfiguration(server->url(QStringLiteral("/"))).descriptionParseDelayMs * 2);
    QCOMPARE(part<QComboBox>(ui, "ModelBox")->count(), 0);
    QVERIFY(!QFileInfo::exists(QStringLiteral("data.json")));
    for (const auto &r : server->requests.mid(requestsBefore))
        QVERIFY(!r.path.endsWith("data.json"));
    if (cacheBefore.isNull())
        qunsetenv("XDG_CACHE_HOME");
    else
        qputenv("XDG_CACHE_HOME", cacheBefore);
}

QTEST_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
