// SPDX-License-Identifier: GPL-3.0-or-later
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
        console(stderr, QStringLiteral("Could not open %1 for writing: %2").arg(fileName, file.errorString()));
        return false;
    }
    const QByteArray body = data->readAll();
    if (file.write(body) != body.size() || !file.commit()) {
        console(stderr, QStringLiteral("Could not write %1: %2").arg(fileName, file.errorString()));
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
        console(stderr, QStringLiteral("Request was redirected."));
    } else if (reply->error()) {
        console(stderr, QStringLiteral("Download of %1 failed: %2")
                            .arg(QString::fromLatin1(url.toEncoded()), reply->errorString()));
    } else {
        // Named as asked for: the caller looks for that name, wherever the
        // server redirected the request.
        const QString name = fileNameForUrl(reply->request().url());
        const QString fileName = directory.isEmpty() ? name : QDir(directory).filePath(name);
        saved = saveToFile(fileName, reply);
        if (saved) {
            console(stdout, QStringLiteral("Download of %1 succeeded (saved to %2)")
                                .arg(QString::fromLatin1(url.toEncoded()), fileName));
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
        console(stderr, QStringLiteral("SSL error: %1").arg(error.errorString()));
}

void DownloadManager::console(FILE *to, const QString &line) const
{
    if (consoleReports)
        std::fprintf(to, "%s\n", line.toLocal8Bit().constData());
}
