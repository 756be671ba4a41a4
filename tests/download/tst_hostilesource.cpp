// SPDX-License-Identifier: GPL-3.0-or-later
// A source that misbehaves, on purpose or not: it trickles or says nothing,
// sends more than any firmware, redirects elsewhere, puts a pipe or a
// device where a file should be. Each download still ends, soon, with
// nothing of it left on disk, and says why as it is.
#include "downloadfailure.h"
#include "downloadmanager.h"
#include "localhttpserver.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class TestHostileSource : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void slowAndSilentServersEndWithinTheTimeBound();
    void oversizedBodiesAreRefused();
    void redirectsStayOnTheChosenServer();
    void folderSourceReadsOnlyRegularFiles();
    void folderWithAccentedName();
    void stopEndsEveryDownload();
    void failuresAreSaidAsTheyAre();

private:
    // Waits for the next result; the manager saves into `saved`.
    DownloadResult fetch(const QUrl &url, const DownloadOptions &options, int waitMs = 5000);
    bool nothingSaved() const { return QDir(saved->path()).isEmpty(); }

    std::unique_ptr<QTemporaryDir> saved;
    std::unique_ptr<LocalHttpServer> server;
    std::unique_ptr<DownloadManager> manager;
    QList<DownloadResult> results;
};

void TestHostileSource::init()
{
    saved = std::make_unique<QTemporaryDir>();
    server = std::make_unique<LocalHttpServer>();
    QVERIFY(server->listen());
    manager = std::make_unique<DownloadManager>();
    manager->setDirectory(saved->path());
    manager->setConsoleReports(false);
    results.clear();
    connect(manager.get(), &DownloadManager::downloadResult, this,
            [this](const DownloadResult &result) { results << result; });
}

void TestHostileSource::cleanup()
{
    manager.reset();
    server.reset();
    saved.reset();
}

DownloadResult TestHostileSource::fetch(const QUrl &url, const DownloadOptions &options, int waitMs)
{
    const int before = int(results.size());
    manager->startDownload(url, options);
    QDeadlineTimer until(waitMs);
    while (results.size() == before && !until.hasExpired())
        QTest::qWait(10);
    if (results.size() > before)
        return results.last();
    // No end at all is no file saved.
    DownloadResult none;
    none.failure = DownloadResult::Failure::Stalled;
    none.detail = QStringLiteral("no result within %1 ms").arg(waitMs);
    return none;
}

// The stall limit alone never ends a server that sends a byte now and then.
void TestHostileSource::slowAndSilentServersEndWithinTheTimeBound()
{
    manager->setStallLimit(10000);
    server->setResponse("/trickle.hex", {200, QByteArray(100, 'x'), {}, {}, 20000});
    server->setResponse("/silent.hex", {200, {}, {}, LocalHttpServer::Behaviour::Hang});
    for (const QString path : {"/trickle.hex", "/silent.hex"}) {
        const DownloadResult result = fetch(server->url(path), {0, 300});
        QCOMPARE(result.failure, DownloadResult::Failure::TooSlow);
        QVERIFY(nothingSaved());
    }
}

void TestHostileSource::oversizedBodiesAreRefused()
{
    const DownloadOptions bounded{30 * 1024, 0};
    // Announced too long: refused on the announcement, before the body.
    server->setResponse("/announced.hex", {200, "x", {}, {}, 20000, 1000000000});
    DownloadResult result = fetch(server->url("/announced.hex"), bounded);
    QCOMPARE(result.failure, DownloadResult::Failure::TooLarge);
    QCOMPARE(result.detail, QStringLiteral("1000000000"));

    // Unannounced: cut as soon as it passes the bound, long before the
    // server is through.
    server->setResponse("/endless.hex", {200, QByteArray(200 * 1024, 'x'), {}, {}, 20000, LocalHttpServer::kNoLength});
    result = fetch(server->url("/endless.hex"), bounded, 10000);
    QCOMPARE(result.failure, DownloadResult::Failure::TooLarge);
    QVERIFY(nothingSaved());

    QTemporaryDir folder;
    QFile big(folder.filePath("big.hex"));
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(bounded.maxBytes + 1));
    big.close();
    result = fetch(QUrl::fromLocalFile(big.fileName()), bounded);
    QCOMPARE(result.failure, DownloadResult::Failure::TooLarge);
    QVERIFY(nothingSaved());
}

// Plain http on this computer must not be sent to another host, another
// port (another program) or another scheme; the same server may move a file.
void TestHostileSource::redirectsStayOnTheChosenServer()
{
    LocalHttpServer otherHost;
    QVERIFY(otherHost.listen(QHostAddress(QStringLiteral("127.0.0.2")), server->port()));
    LocalHttpServer otherPort;
    QVERIFY(otherPort.listen());
    otherHost.setDefault({200, "fora", {}, {}});
    otherPort.setDefault({200, "fora", {}, {}});
    QUrl otherScheme = server->url("/x.hex");
    otherScheme.setScheme(QStringLiteral("https"));
    const QList<QUrl> elsewhere{otherHost.url("/x.hex"), otherPort.url("/x.hex"), otherScheme};
    const DownloadOptions chosen{0, 0, true};
    for (const QUrl &target : elsewhere) {
        server->setResponse("/x.hex", {302, "", {{"Location", target.toEncoded()}}, {}});
        const DownloadResult result = fetch(server->url("/x.hex"), chosen);
        QCOMPARE(result.failure, DownloadResult::Failure::Redirected);
        QCOMPARE(result.detail, target.toString());
        QVERIFY(nothingSaved());
    }
    QVERIFY(otherHost.requests.isEmpty());
    QVERIFY(otherPort.requests.isEmpty());
    QCOMPARE(server->requests.size(), 3);

    // On its own server, one hop or several: the body that ends the chain is
    // saved whole, and nothing of a hop's own page.
    server->setResponse("/x.hex", {302, "<html>movido</html>", {{"Location", "/novo/x.hex"}}, {}});
    server->setResponse("/novo/x.hex", {302, "", {{"Location", "/novo/novo/x.hex"}}, {}});
    server->setResponse("/novo/novo/x.hex", {200, "firmware", {}, {}});
    for (const char *first : {"/novo/x.hex", "/x.hex"}) {
        const DownloadResult result = fetch(server->url(first), chosen);
        QVERIFY2(result.saved(), qPrintable(QStringLiteral("%1: %2").arg(int(result.failure)).arg(result.detail)));
        QFile file(saved->filePath("x.hex"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("firmware"));
    }

    // A chain that never ends is refused, not followed for ever.
    server->setResponse("/laco.hex", {302, "", {{"Location", "/laco.hex"}}, {}});
    QVERIFY(QFile::remove(saved->filePath("x.hex")));
    const DownloadResult loop = fetch(server->url("/laco.hex"), chosen);
    QCOMPARE(loop.failure, DownloadResult::Failure::TooManyRedirects);
    QVERIFY(downloadFailureText(loop).contains(QStringLiteral("vezes demais")));
    QVERIFY(!downloadFailureText(loop).contains(QStringLiteral("fora da fonte")));
    QVERIFY(nothingSaved());
}

// A pipe without a writer would hold open() forever, past any signal; a
// device would never end.
void TestHostileSource::folderSourceReadsOnlyRegularFiles()
{
    QTemporaryDir folder;
    QCOMPARE(mkfifo(QFile::encodeName(folder.filePath("K931_OBD.hex")).constData(), 0600), 0);
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), folder.filePath("K931_Boost.hex")));
    QVERIFY(QDir(folder.path()).mkdir("data.json"));
    for (const QString name : {"K931_OBD.hex", "K931_Boost.hex", "data.json"}) {
        const DownloadResult result = fetch(QUrl::fromLocalFile(folder.filePath(name)), {1024 * 1024, 0});
        QCOMPARE(result.failure, DownloadResult::Failure::NotRegularFile);
        QVERIFY(nothingSaved());
    }
    QCOMPARE(fetch(QUrl::fromLocalFile(folder.filePath("nada.hex")), {}).failure, DownloadResult::Failure::NotFound);
}

void TestHostileSource::folderWithAccentedName()
{
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("João/k931"));
    QVERIFY(QDir().mkpath(folder));
    QFile description(folder + QStringLiteral("/data.json"));
    QVERIFY(description.open(QIODevice::WriteOnly));
    description.write("{\"Version\":\"1.8\"}");
    description.close();
    // As the sources hand it on: the folder's URL as text.
    manager->execute(QUrl::fromLocalFile(description.fileName()).toString());
    QTRY_COMPARE(results.size(), 1);
    QVERIFY(results.first().saved());
    QFile copy(saved->filePath("data.json"));
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), QByteArray("{\"Version\":\"1.8\"}"));
}

void TestHostileSource::stopEndsEveryDownload()
{
    server->setResponse("/trickle.hex", {200, QByteArray(100, 'x'), {}, {}, 20000});
    server->setResponse("/silent.hex", {200, {}, {}, LocalHttpServer::Behaviour::Hang});
    QTemporaryDir folder;
    QFile local(folder.filePath("local.hex"));
    QVERIFY(local.open(QIODevice::WriteOnly));
    local.close();
    manager->startDownload(server->url("/trickle.hex"));
    manager->startDownload(server->url("/silent.hex"));
    QTRY_COMPARE(server->requests.size(), 2);
    manager->startDownload(QUrl::fromLocalFile(local.fileName())); // queued, not yet read
    manager->abortAll();
    QTRY_COMPARE(results.size(), 3);
    for (const DownloadResult &result : std::as_const(results))
        QCOMPARE(result.failure, DownloadResult::Failure::Stopped);
    QVERIFY(nothingSaved());
}

// Neither a refused certificate nor a full disk is a missing internet, and
// a password in the source is never shown.
void TestHostileSource::failuresAreSaidAsTheyAre()
{
    LocalHttpServer tls(LocalHttpServer::Scheme::Https);
    QVERIFY(tls.listen());
    tls.setResponse("/data.json", {200, "{}", {}, {}});
    DownloadResult result = fetch(tls.url("/data.json"), {});
    QCOMPARE(result.failure, DownloadResult::Failure::Tls);
    QString text = downloadFailureText(result);
    QVERIFY2(text.contains("certificado") && text.contains(result.detail) && !text.contains("internet"), qPrintable(text));

    server->setResponse("/data.json", {200, "{}", {}, {}});
    manager->setDirectory(saved->filePath("sem-pasta"));
    result = fetch(server->url("/data.json"), {});
    QCOMPARE(result.failure, DownloadResult::Failure::SaveFailed);
    text = downloadFailureText(result);
    QVERIFY2(text.contains(saved->filePath("sem-pasta")) && text.contains(result.detail) && !result.detail.isEmpty()
                 && !text.contains("internet"),
             qPrintable(text));

    QUrl withPassword = server->url("/nada.json");
    withPassword.setUserInfo(QStringLiteral("ana:segredo"));
    text = downloadFailureText(fetch(withPassword, {}));
    QVERIFY2(text.contains(QString::number(server->port())) && !text.contains("segredo") && !text.contains("ana"),
             qPrintable(text));
}

QTEST_GUILESS_MAIN(TestHostileSource)
#include "tst_hostilesource.moc"
