// SPDX-License-Identifier: GPL-3.0-or-later
// The download manager against local HTTP and HTTPS servers: what lands on
// disk and what the console says.
#include "downloadmanager.h"
#include "localhttpserver.h"
#include "stdcapture.h"
#include "testwindow.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

class TestDownloadManager : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void savesUnderLastSegmentAndOverwrites();
    void trailingSlashSavesAsDownload();
    void httpErrorsSaveNothing();
    void redirects();
    void unwritableTarget();
    void selfSignedCertificateIsRefused();
    void failedWriteLeavesNoPartialFile();

private:
    // Runs one download and waits for its console line.
    void fetch(const QUrl &url, StdCapture &capture);
    static QByteArray fileContents(const QString &name);

    std::unique_ptr<WorkingFolder> folder;
    std::unique_ptr<LocalHttpServer> server;
    std::unique_ptr<DownloadManager> manager;
};

void TestDownloadManager::init()
{
    folder = std::make_unique<WorkingFolder>();
    server = std::make_unique<LocalHttpServer>();
    QVERIFY(server->listen());
    manager = std::make_unique<DownloadManager>();
}

void TestDownloadManager::cleanup()
{
    manager.reset();
    server.reset();
    folder.reset();
}

void TestDownloadManager::fetch(const QUrl &url, StdCapture &capture)
{
    const int before = (capture.out() + capture.err()).count('\n');
    manager->execute(url.toString());
    QTRY_VERIFY((capture.out() + capture.err()).count('\n') > before);
    // The reply is released later; let it go before judging.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QByteArray TestDownloadManager::fileContents(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestDownloadManager::savesUnderLastSegmentAndOverwrites()
{
    server->setResponse("/binarinhos/data.json", {200, "{\"Version\":\"1.6\"}", {}, {}});
    StdCapture capture;
    const QUrl url = server->url(QStringLiteral("/binarinhos/data.json"));
    fetch(url, capture);
    QCOMPARE(fileContents(QStringLiteral("data.json")), QByteArray("{\"Version\":\"1.6\"}"));
    QCOMPARE(capture.out(), "Download of " + url.toEncoded() + " succeeded (saved to data.json)\n");
    QVERIFY(capture.err().isEmpty());
    QCOMPARE(server->requests.size(), 1);
    QCOMPARE(server->requests[0].headers.value("user-agent"),
             QByteArray("Mozilla/5.0 (Macintosh; Intel Mac OS X 10.12; rv:55.0) Gecko/20100101 Firefox/55.0"));

    server->setResponse("/binarinhos/data.json", {200, "second", {}, {}});
    fetch(url, capture);
    QCOMPARE(fileContents(QStringLiteral("data.json")), QByteArray("second"));
}

void TestDownloadManager::trailingSlashSavesAsDownload()
{
    server->setResponse("/pasta/", {200, "index", {}, {}});
    StdCapture capture;
    fetch(server->url(QStringLiteral("/pasta/")), capture);
    QCOMPARE(fileContents(QStringLiteral("download")), QByteArray("index"));
}

void TestDownloadManager::httpErrorsSaveNothing()
{
    StdCapture capture;
    const QUrl missing = server->url(QStringLiteral("/missing.hex"));
    fetch(missing, capture);
    QVERIFY(capture.err().startsWith("Download of " + missing.toEncoded() + " failed: "));
    QVERIFY(!QFile::exists(QStringLiteral("missing.hex")));
    QVERIFY(capture.out().isEmpty());
}

// A firmware server that moves its files behind a redirect keeps working;
// one that sends the request down from https to http does not.
void TestDownloadManager::redirects()
{
    LocalHttpServer tls(LocalHttpServer::Scheme::Https);
    QVERIFY(tls.listen());
    const QSslConfiguration previous = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = previous;
    trusting.addCaCertificate(QSslCertificate(localServerCertificate()));
    QSslConfiguration::setDefaultConfiguration(trusting);
    // The certificate names "localhost".
    auto secure = [&tls](const QString &path) {
        QUrl url = tls.url(path);
        url.setHost(QStringLiteral("localhost"));
        return url;
    };

    tls.setResponse("/fw/data.json", {302, "", {{"Location", secure("/moved/new.json").toEncoded()}}, {}});
    tls.setResponse("/moved/new.json", {200, "{\"Version\":\"1.7\"}", {}, {}});
    StdCapture capture;
    fetch(secure(QStringLiteral("/fw/data.json")), capture);
    QCOMPARE(fileContents(QStringLiteral("data.json")), QByteArray("{\"Version\":\"1.7\"}"));
    QVERIFY(!QFile::exists(QStringLiteral("new.json")));
    QVERIFY2(capture.err().isEmpty(), capture.err().constData());

    server->setResponse("/plain.hex", {200, "not to be fetched", {}, {}});
    tls.setResponse("/fw/down.hex", {302, "", {{"Location", server->url(QStringLiteral("/plain.hex")).toEncoded()}}, {}});
    fetch(secure(QStringLiteral("/fw/down.hex")), capture);
    QVERIFY2(capture.err().endsWith("Request was redirected.\n"), capture.err().constData());
    QVERIFY(!QFile::exists(QStringLiteral("down.hex")));
    QVERIFY(!QFile::exists(QStringLiteral("plain.hex")));
    QVERIFY(server->requests.isEmpty());

    tls.setResponse("/fw/loop.hex", {302, "", {{"Location", "/fw/loop.hex"}}, {}});
    fetch(secure(QStringLiteral("/fw/loop.hex")), capture);
    QVERIFY2(capture.err().contains("Download of " + secure(QStringLiteral("/fw/loop.hex")).toEncoded() + " failed: "),
             capture.err().constData());
    QVERIFY(!QFile::exists(QStringLiteral("loop.hex")));
    QCOMPARE(capture.out().count('\n'), 1);
    QSslConfiguration::setDefaultConfiguration(previous);
}

void TestDownloadManager::unwritableTarget()
{
    // A folder where the file should go: it cannot be created.
    QVERIFY(QDir().mkdir(QStringLiteral("fw.hex")));
    server->setResponse("/fw.hex", {200, "data", {}, {}});
    StdCapture capture;
    fetch(server->url(QStringLiteral("/fw.hex")), capture);
    QVERIFY2(capture.err().startsWith("Could not open fw.hex for writing: "), capture.err().constData());
    QVERIFY(capture.out().isEmpty());
}

void TestDownloadManager::selfSignedCertificateIsRefused()
{
    LocalHttpServer tls(LocalHttpServer::Scheme::Https);
    QVERIFY(tls.listen());
    tls.setResponse("/data.json", {200, "{}", {}, {}});
    StdCapture capture;
    const QUrl url = tls.url(QStringLiteral("/data.json"));
    manager->execute(url.toString());
    QTRY_VERIFY(capture.err().contains("Download of " + url.toEncoded() + " failed: "));
    const QList<QByteArray> lines = capture.err().trimmed().split('\n');
    QVERIFY(lines.size() >= 2);
    for (int i = 0; i + 1 < lines.size(); ++i)
        QVERIFY2(lines[i].startsWith("SSL error: "), lines[i].constData());
    QVERIFY(lines.last().startsWith("Download of "));
    QVERIFY(!QFile::exists(QStringLiteral("data.json")));
    QVERIFY(capture.out().isEmpty());
}

void TestDownloadManager::failedWriteLeavesNoPartialFile()
{
    // An older copy must survive a write that fails half-way (a full disk,
    // here a file size limit).
    {
        QFile old(QStringLiteral("K931_OBD.hex"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old firmware");
    }
    server->setResponse("/K931_OBD.hex", {200, QByteArray(64 * 1024, 'x'), {}, {}});
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limit = previous;
    limit.rlim_cur = 4096;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    StdCapture capture;
    fetch(server->url(QStringLiteral("/K931_OBD.hex")), capture);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY2(capture.err().startsWith("Could not write K931_OBD.hex"), capture.err().constData());
    QVERIFY(capture.out().isEmpty());
    QCOMPARE(fileContents(QStringLiteral("K931_OBD.hex")), QByteArray("old firmware"));
    QCOMPARE(QDir().entryList(QDir::Files), QStringList{"K931_OBD.hex"});
}

QTEST_MAIN(TestDownloadManager)
#include "tst_downloadmanager.moc"
