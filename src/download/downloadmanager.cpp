#include "downloadmanager.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QUrl>

#include <cstdio>

namespace {
const QByteArray kUserAgent = QByteArrayLiteral(
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10.12; rv:55.0) Gecko/20100101 Firefox/55.0");
} // namespace

DownloadManager::DownloadManager(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<QNetworkReply *>();
    qRegisterMetaType<QList<QSslError>>();
    connect(&networkManager, &QNetworkAccessManager::finished, this, &DownloadManager::downloadFinished);
}

void DownloadManager::execute(const QString &link)
{
    startDownload(QUrl::fromEncoded(link.toLocal8Bit(), QUrl::TolerantMode));
}

void DownloadManager::startDownload(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", kUserAgent);
    // Redirects follow Qt's default policy (never from https down to http):
    // a server may move its files without breaking the update.
    request.setTransferTimeout(stallLimitMs);
    QNetworkReply *reply = networkManager.get(request);
    connect(reply, &QNetworkReply::sslErrors, this, &DownloadManager::sslErrors);
    activeReplies.append(reply);
}

QString DownloadManager::fileNameForUrl(const QUrl &url)
{
    const QString name = QFileInfo(url.path()).fileName();
    return name.isEmpty() ? QStringLiteral("download") : name;
}

// The file appears only whole: a failed write (a full disk) leaves no
// truncated file to be flashed later, and an older file of that name as it was.
bool DownloadManager::saveToFile(const QString &fileName, QIODevice *data)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "Could not open %s for writing: %s\n", qPrintable(fileName),
                     file.errorString().toLocal8Bit().constData());
        return false;
    }
    const QByteArray body = data->readAll();
    if (file.write(body) != body.size() || !file.commit()) {
        std::fprintf(stderr, "Could not write %s: %s\n", qPrintable(fileName),
                     file.errorString().toLocal8Bit().constData());
        file.cancelWriting();
        return false;
    }
    return true;
}

bool DownloadManager::isRedirect(QNetworkReply *reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status == 301 || status == 302 || status == 303 || status == 305 || status == 307 || status == 308;
}

void DownloadManager::downloadFinished(QNetworkReply *reply)
{
    const QUrl url = reply->url();
    bool saved = false;
    // Qt refuses a redirect from https down to http as an error; it is a
    // redirect the network layer did not follow all the same.
    const bool unfollowedRedirect = reply->error() == QNetworkReply::InsecureRedirectError
                                 || (reply->error() == QNetworkReply::NoError && isRedirect(reply));
    if (unfollowedRedirect) {
        std::fputs("Request was redirected.\n", stderr);
    } else if (reply->error()) {
        std::fprintf(stderr, "Download of %s failed: %s\n", url.toEncoded().constData(),
                     reply->errorString().toLocal8Bit().constData());
    } else {
        // Named as asked for: the caller looks for that name, wherever the
        // server redirected the request.
        const QString name = fileNameForUrl(reply->request().url());
        const QString fileName = directory.isEmpty() ? name : QDir(directory).filePath(name);
        saved = saveToFile(fileName, reply);
        if (saved) {
            std::printf("Download of %s succeeded (saved to %s)\n", url.toEncoded().constData(),
                        fileName.toLocal8Bit().constData());
        }
    }
    std::fflush(stdout);
    std::fflush(stderr);
    activeReplies.removeAll(reply);
    reply->deleteLater();
    emit downloadEnded(reply->request().url(), saved,
                       reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), int(reply->error()));
}

void DownloadManager::sslErrors(const QList<QSslError> &errors)
{
    for (const QSslError &error : errors)
        std::fprintf(stderr, "SSL error: %s\n", error.errorString().toLocal8Bit().constData());
}
