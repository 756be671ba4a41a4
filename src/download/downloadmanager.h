// SPDX-License-Identifier: GPL-3.0-or-later
// Fetches files over HTTP(S), or copies them from a local folder given as
// file:// URLs, into a folder (the current working directory unless told
// otherwise), named after the last segment of the URL's path. A body goes
// to disk as it arrives, under a temporary name until it is whole, so a
// hostile source costs neither memory nor a half-written file; each
// download can be bounded in size and time and kept to its own server.
// Reports on the console, and tells whoever waits for a file how its
// download ended, so that nothing has to guess from a fixed delay.
#pragma once

#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSslError>
#include <QUrl>

#include <cstdio>
#include <memory>

class QFile;

struct DownloadOptions {
    qint64 maxBytes = 0;         // a longer body is refused as soon as it shows; 0: no bound
    int timeLimitMs = 0;         // the whole transfer, however steadily bytes come; 0: no bound
    bool sameOriginOnly = false; // redirects only to the same scheme, host and port
};

struct DownloadResult {
    enum class Failure {
        None,
        NotFound,       // no such file on the server or in the folder
        Network,        // the network's own error (detail), or an HTTP status
        Stalled,        // no byte moved for the stall limit
        TooSlow,        // not whole within options.timeLimitMs
        TooLarge,       // longer, or announced longer, than options.maxBytes
        Tls,            // the server's certificate or handshake refused (detail)
        Redirected,     // sent elsewhere and not followed (detail: where to)
        TooManyRedirects, // a chosen source's own redirects past the hop limit (detail: the last hop)
        NotRegularFile, // a folder source's pipe, device or folder
        ReadFailed,     // a folder source's file could not be read (detail)
        SaveFailed,     // the local folder did not take the file (detail)
        Stopped,        // abortAll()
    };
    QUrl requested;
    DownloadOptions options;
    Failure failure = Failure::None;
    QString detail;    // the system's, the network's or the TLS layer's words
    QString path;      // where the file is saved, or was to be
    int httpStatus = 0;
    int networkError = 0;
    bool saved() const { return failure == Failure::None; }
};

class DownloadManager : public QObject {
    Q_OBJECT
public:
    explicit DownloadManager(QObject *parent = nullptr);
    ~DownloadManager() override;

    void startDownload(const QUrl &url, const DownloadOptions &options = {});
    // The URL a link names, as startDownload() is given it by execute(): a
    // file URL is read as text, never through the local 8-bit encoding, so
    // a folder named "João" is found on every system.
    static QUrl urlForLink(const QString &link);
    static QString fileNameForUrl(const QUrl &url);
    // A URL as it may be shown: no password or user name, a local path as
    // the system writes it.
    static QString shownUrl(const QUrl &url);

    // Where files are saved; empty means the current working directory.
    void setDirectory(const QString &path) { directory = path; }
    // A transfer that moves no byte for this long is abandoned (0: never).
    void setStallLimit(int ms) { stallLimitMs = ms; }
    // The console lines (on by default); a caller that tells the user in
    // its own words turns them off.
    void setConsoleReports(bool on) { consoleReports = on; }
    // Ends every download under way; each reports Failure::Stopped and
    // leaves no file behind.
    void abortAll();

signals:
    // Once per download, with the URL as it was asked for. `saved` is false
    // when nothing was saved; then the HTTP status (0 without a reply) and
    // the network error say why.
    void downloadEnded(const QUrl &requested, bool saved, int httpStatus, int networkError);
    // Right after downloadEnded, the whole account of the same download.
    void downloadResult(const DownloadResult &result);

public slots:
    void execute(const QString &link);
    void executeWith(const QString &link, const DownloadOptions &options);

private:
    struct Transfer;

    QNetworkAccessManager networkManager;
    QList<Transfer *> transfers;
    QString directory;
    int stallLimitMs = 0;
    bool consoleReports = true;

    void startNetworkTransfer(Transfer *transfer);
    void startLocalTransfer(Transfer *transfer);
    void copyLocalFile(Transfer *transfer);
    void requestHop(Transfer *transfer, const QUrl &url);
    void followOwnRedirect(Transfer *transfer);
    bool isFileBody(const Transfer *transfer) const;
    void judgeAnnouncedLength(Transfer *transfer);
    void takeArrivedBytes(Transfer *transfer);
    bool store(Transfer *transfer, const QByteArray &bytes);
    bool openTarget(Transfer *transfer);
    void fail(Transfer *transfer, DownloadResult::Failure failure, const QString &detail = QString());
    void networkTransferEnded(Transfer *transfer);
    void commit(Transfer *transfer);
    void reportFailure(const DownloadResult &result) const;
    void finish(Transfer *transfer);
    QString targetPath(const QUrl &requested) const;
    void console(FILE *to, const QString &line) const;
};

Q_DECLARE_METATYPE(DownloadResult)
