// SPDX-License-Identifier: GPL-3.0-or-later
#include "downloadmanager.h"

#include "regularfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>

#include <cstdio>

namespace {

const QByteArray kUserAgent = QByteArrayLiteral(
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10.12; rv:55.0) Gecko/20100101 Firefox/55.0");
// What is held in memory of a body at a time, whatever its length.
constexpr qint64 kChunkBytes = 64 * 1024;
// Hops of a chosen source's redirects followed before the chain is refused.
constexpr int kMaxOwnRedirects = 10;

bool isRedirectStatus(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 305 || status == 307 || status == 308;
}

int httpStatus(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

int defaultPort(const QString &scheme)
{
    return scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80;
}

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0
        && a.host().compare(b.host(), Qt::CaseInsensitive) == 0
        && a.port(defaultPort(a.scheme())) == b.port(defaultPort(b.scheme()));
}

QString failureInEnglish(DownloadResult::Failure failure)
{
    using F = DownloadResult::Failure;
    switch (failure) {
    case F::TooSlow: return QStringLiteral("not whole within the time limit");
    case F::TooLarge: return QStringLiteral("larger than allowed");
    case F::NotRegularFile: return QStringLiteral("not a regular file");
    case F::Stopped: return QStringLiteral("stopped");
    default: return QStringLiteral("failed");
    }
}

} // namespace

// One download: its reply (none for a local file), the temporary file its
// body goes to, and how it ended. It outlives the reply's last signal by
// one turn of the event loop, so a handler that ended it may still return
// through it.
struct DownloadManager::Transfer : QObject {
    using QObject::QObject;
    DownloadResult result;
    QNetworkReply *reply = nullptr;
    int redirectsFollowed = 0;
    std::unique_ptr<QSaveFile> target;
    QTimer deadline;
    qint64 received = 0;
    QStringList tlsErrors;
    bool ended = false;
};

DownloadManager::DownloadManager(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<DownloadResult>();
}

// Nothing is reported from here: whoever listened may be gone already.
DownloadManager::~DownloadManager()
{
    for (Transfer *transfer : std::as_const(transfers)) {
        transfer->ended = true;
        if (transfer->reply)
            transfer->reply->disconnect(this);
    }
}

void DownloadManager::execute(const QString &link)
{
    executeWith(link, DownloadOptions());
}

void DownloadManager::executeWith(const QString &link, const DownloadOptions &options)
{
    startDownload(urlForLink(link), options);
}

QUrl DownloadManager::urlForLink(const QString &link)
{
    if (link.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        return QUrl(link, QUrl::TolerantMode);
    return QUrl::fromEncoded(link.toLocal8Bit(), QUrl::TolerantMode);
}

void DownloadManager::startDownload(const QUrl &url, const DownloadOptions &options)
{
    auto *transfer = new Transfer(this);
    transfer->result.requested = url;
    transfer->result.options = options;
    transfer->result.path = targetPath(url);
    transfers.append(transfer);
    if (options.timeLimitMs > 0) {
        transfer->deadline.setSingleShot(true);
        connect(&transfer->deadline, &QTimer::timeout, this,
                [this, transfer] { fail(transfer, DownloadResult::Failure::TooSlow); });
        transfer->deadline.start(options.timeLimitMs);
    }
    if (url.isLocalFile())
        startLocalTransfer(transfer);
    else
        startNetworkTransfer(transfer);
}

void DownloadManager::startNetworkTransfer(Transfer *transfer)
{
    requestHop(transfer, transfer->result.requested);
}

void DownloadManager::requestHop(Transfer *transfer, const QUrl &url)
{
    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", kUserAgent);
    // Asked for as it is: a body Qt would inflate itself could grow far past
    // its bound (a small gzip of a gigabyte) before a byte of it is counted.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setTransferTimeout(stallLimitMs);
    // Otherwise Qt's default (never from https down to http): the maker's
    // server may move its files without breaking the update. A source the
    // owner chose is kept to its own server: each hop ends its reply and is
    // judged before the next is asked for (Qt's user-verified redirects lost
    // the last answer of a chain now and then on a busy machine).
    if (transfer->result.options.sameOriginOnly)
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = networkManager.get(request);
    transfer->reply = reply;
    reply->setReadBufferSize(kChunkBytes);
    connect(reply, &QNetworkReply::sslErrors, this, [this, transfer](const QList<QSslError> &errors) {
        for (const QSslError &error : errors) {
            transfer->tlsErrors << error.errorString();
            console(stderr, QStringLiteral("SSL error: %1").arg(error.errorString()));
        }
    });
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, transfer] { judgeAnnouncedLength(transfer); });
    connect(reply, &QNetworkReply::readyRead, this, [this, transfer] { takeArrivedBytes(transfer); });
    connect(reply, &QNetworkReply::finished, this, [this, transfer] { networkTransferEnded(transfer); });
}

// Queued, so that every download ends after execute() returned, as one over
// the network does.
void DownloadManager::startLocalTransfer(Transfer *transfer)
{
    QTimer::singleShot(0, transfer, [this, transfer] { copyLocalFile(transfer); });
}

void DownloadManager::copyLocalFile(Transfer *transfer)
{
    if (transfer->ended)
        return;
    using F = DownloadResult::Failure;
    QFile source;
    QString why;
    switch (regularfile::openForReading(transfer->result.requested.toLocalFile(), source, why)) {
    case regularfile::Opened::Missing:
        transfer->result.networkError = QNetworkReply::ContentNotFoundError;
        return fail(transfer, F::NotFound, why);
    case regularfile::Opened::NotRegular:
        transfer->result.networkError = QNetworkReply::ContentOperationNotPermittedError;
        return fail(transfer, F::NotRegularFile);
    case regularfile::Opened::Failed:
        transfer->result.networkError = QNetworkReply::ContentAccessDenied;
        return fail(transfer, F::ReadFailed, why);
    case regularfile::Opened::Ok: break;
    }
    const qint64 maxBytes = transfer->result.options.maxBytes;
    if (maxBytes > 0 && source.size() > maxBytes)
        return fail(transfer, F::TooLarge, QString::number(source.size()));
    for (;;) {
        const QByteArray bytes = source.read(kChunkBytes);
        if (bytes.isEmpty())
            break;
        if (!store(transfer, bytes))
            return;
    }
    if (source.error() != QFileDevice::NoError)
        return fail(transfer, F::ReadFailed, source.errorString());
    commit(transfer);
}

void DownloadManager::followOwnRedirect(Transfer *transfer)
{
    QNetworkReply *hop = transfer->reply;
    const QUrl location = hop->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    const QUrl resolved = hop->url().resolved(location);
    if (location.isEmpty() || !resolved.isValid())
        return fail(transfer, DownloadResult::Failure::Redirected, hop->rawHeader("Location"));
    if (!sameOrigin(resolved, transfer->result.requested))
        return fail(transfer, DownloadResult::Failure::Redirected, shownUrl(resolved));
    if (++transfer->redirectsFollowed > kMaxOwnRedirects)
        return fail(transfer, DownloadResult::Failure::TooManyRedirects, shownUrl(resolved));
    hop->disconnect(this);
    hop->deleteLater();
    transfer->reply = nullptr;
    requestHop(transfer, resolved);
}

// Qt follows the maker's server's redirects itself, and its status still
// shows a hop's while the last answer's body arrives; a chosen source's
// redirect is an answer of its own, whose body is no part of the file.
bool DownloadManager::isFileBody(const Transfer *transfer) const
{
    const int status = httpStatus(transfer->reply);
    if (transfer->result.options.sameOriginOnly && isRedirectStatus(status))
        return false;
    return status < 400;
}

// A length announced beyond the bound is refused before its body comes.
void DownloadManager::judgeAnnouncedLength(Transfer *transfer)
{
    const qint64 maxBytes = transfer->result.options.maxBytes;
    const QVariant length = transfer->reply->header(QNetworkRequest::ContentLengthHeader);
    if (maxBytes > 0 && length.isValid() && length.toLongLong() > maxBytes)
        fail(transfer, DownloadResult::Failure::TooLarge, length.toString());
}

void DownloadManager::takeArrivedBytes(Transfer *transfer)
{
    QNetworkReply *reply = transfer->reply;
    while (!transfer->ended && reply->bytesAvailable() > 0) {
        const QByteArray bytes = reply->read(kChunkBytes);
        // An error page's body is read and dropped, so that it takes no
        // memory; only the end judges the status.
        if (isFileBody(transfer) && !store(transfer, bytes))
            return;
    }
}

bool DownloadManager::store(Transfer *transfer, const QByteArray &bytes)
{
    transfer->received += bytes.size();
    const qint64 maxBytes = transfer->result.options.maxBytes;
    if (maxBytes > 0 && transfer->received > maxBytes) {
        fail(transfer, DownloadResult::Failure::TooLarge, QString::number(transfer->received));
        return false;
    }
    if (!transfer->target && !openTarget(transfer))
        return false;
    if (transfer->target->write(bytes) != bytes.size()) {
        console(stderr, QStringLiteral("Could not write %1: %2")
                            .arg(transfer->target->fileName(), transfer->target->errorString()));
        fail(transfer, DownloadResult::Failure::SaveFailed, transfer->target->errorString());
        return false;
    }
    return true;
}

// The file appears only whole: a failed write (a full disk) leaves no
// truncated file to be flashed later, and an older file of that name as it was.
bool DownloadManager::openTarget(Transfer *transfer)
{
    transfer->target = std::make_unique<QSaveFile>(transfer->result.path);
    if (transfer->target->open(QIODevice::WriteOnly))
        return true;
    console(stderr, QStringLiteral("Could not open %1 for writing: %2")
                        .arg(transfer->target->fileName(), transfer->target->errorString()));
    fail(transfer, DownloadResult::Failure::SaveFailed, transfer->target->errorString());
    return false;
}

void DownloadManager::networkTransferEnded(Transfer *transfer)
{
    // An abort of this class's own ends the transfer where it was asked.
    if (transfer->ended || !transfer->result.saved())
        return;
    takeArrivedBytes(transfer);
    if (transfer->ended)
        return;
    using F = DownloadResult::Failure;
    QNetworkReply *reply = transfer->reply;
    const int status = httpStatus(reply);
    switch (reply->error()) {
    case QNetworkReply::NoError:
        if (isRedirectStatus(status) && transfer->result.options.sameOriginOnly)
            return followOwnRedirect(transfer);
        if (isRedirectStatus(status))
            return fail(transfer, F::Redirected, reply->header(QNetworkRequest::LocationHeader).toString());
        // "204 No Content" and the like bring no file.
        if (status < 200 || status >= 300)
            return fail(transfer, F::Network, QStringLiteral("HTTP %1").arg(status));
        return commit(transfer);
    // Qt refuses a redirect from https down to http as an error; it is a
    // redirect the network layer did not follow all the same.
    case QNetworkReply::InsecureRedirectError:
        return fail(transfer, F::Redirected, reply->errorString());
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::ContentGoneError: return fail(transfer, F::NotFound, reply->errorString());
    case QNetworkReply::SslHandshakeFailedError:
        return fail(transfer, F::Tls,
                    transfer->tlsErrors.isEmpty() ? reply->errorString() : transfer->tlsErrors.join(QStringLiteral("; ")));
    // The transfer timeout is the only abort not of this class's own.
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError: return fail(transfer, F::Stalled, reply->errorString());
    default: return fail(transfer, F::Network, reply->errorString());
    }
}

void DownloadManager::commit(Transfer *transfer)
{
    if (!transfer->target && !openTarget(transfer))
        return;
    if (!transfer->target->commit()) {
        console(stderr, QStringLiteral("Could not write %1: %2")
                            .arg(transfer->target->fileName(), transfer->target->errorString()));
        return fail(transfer, DownloadResult::Failure::SaveFailed, transfer->target->errorString());
    }
    console(stdout, QStringLiteral("Download of %1 succeeded (saved to %2)")
                        .arg(QString::fromLatin1(transfer->result.requested.toEncoded(QUrl::RemoveUserInfo)),
                             transfer->result.path));
    finish(transfer);
}

// The first reason wins: the abort it causes reports an error of its own.
void DownloadManager::fail(Transfer *transfer, DownloadResult::Failure failure, const QString &detail)
{
    if (transfer->ended || transfer->result.failure != DownloadResult::Failure::None)
        return;
    transfer->result.failure = failure;
    transfer->result.detail = detail;
    reportFailure(transfer->result);
    if (transfer->reply && !transfer->reply->isFinished())
        transfer->reply->abort();
    finish(transfer);
}

void DownloadManager::reportFailure(const DownloadResult &result) const
{
    using F = DownloadResult::Failure;
    // The file's own line was written where the write failed.
    if (result.failure == F::SaveFailed)
        return;
    if (result.failure == F::Redirected && !result.options.sameOriginOnly) {
        console(stderr, QStringLiteral("Request was redirected."));
        return;
    }
    const QString why = result.detail.isEmpty() || result.failure == F::TooLarge ? failureInEnglish(result.failure)
                      : result.failure == F::Redirected ? QStringLiteral("redirected off its server, to %1").arg(result.detail)
                      : result.failure == F::TooManyRedirects
                          ? QStringLiteral("redirected more than %1 times, last to %2").arg(kMaxOwnRedirects).arg(result.detail)
                                                        : result.detail;
    console(stderr, QStringLiteral("Download of %1 failed: %2")
                        .arg(QString::fromLatin1(result.requested.toEncoded(QUrl::RemoveUserInfo)), why));
}

void DownloadManager::finish(Transfer *transfer)
{
    if (transfer->ended)
        return;
    transfer->ended = true;
    transfer->deadline.stop();
    if (transfer->target && !transfer->result.saved())
        transfer->target->cancelWriting();
    transfer->target.reset();
    DownloadResult &result = transfer->result;
    if (QNetworkReply *reply = transfer->reply) {
        result.httpStatus = httpStatus(reply);
        result.networkError = int(reply->error());
        reply->disconnect(this);
        reply->deleteLater();
    }
    transfers.removeAll(transfer);
    transfer->deleteLater();
    std::fflush(stdout);
    std::fflush(stderr);
    emit downloadEnded(result.requested, result.saved(), result.httpStatus, result.networkError);
    emit downloadResult(result);
}

void DownloadManager::abortAll()
{
    const QList<Transfer *> running = transfers;
    for (Transfer *transfer : running)
        fail(transfer, DownloadResult::Failure::Stopped);
}

QString DownloadManager::fileNameForUrl(const QUrl &url)
{
    const QString name = QFileInfo(url.path()).fileName();
    return name.isEmpty() ? QStringLiteral("download") : name;
}

QString DownloadManager::shownUrl(const QUrl &url)
{
    if (url.isLocalFile())
        return QDir::toNativeSeparators(url.toLocalFile());
    return url.toDisplayString(QUrl::RemoveUserInfo);
}

// Named as asked for: the caller looks for that name, wherever the server
// redirected the request.
QString DownloadManager::targetPath(const QUrl &requested) const
{
    const QString name = fileNameForUrl(requested);
    return directory.isEmpty() ? name : QDir(directory).filePath(name);
}

void DownloadManager::console(FILE *to, const QString &line) const
{
    if (consoleReports)
        std::fprintf(to, "%s\n", line.toLocal8Bit().constData());
}
