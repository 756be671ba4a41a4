// SPDX-License-Identifier: GPL-3.0-or-later
// Fetches files over HTTP(S) into a folder (the current working directory
// unless told otherwise), named after the last segment of the URL's path.
// Reports on the console, and tells whoever waits for a file how its download
// ended, so that nothing has to guess from a fixed delay.
#pragma once

#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSslError>

#include <cstdio>

class QIODevice;
class QNetworkReply;
class QUrl;

class DownloadManager : public QObject {
    Q_OBJECT
public:
    explicit DownloadManager(QObject *parent = nullptr);

    void startDownload(const QUrl &url);
    static QString fileNameForUrl(const QUrl &url);
    bool saveToFile(const QString &fileName, QIODevice *data);
    static bool isRedirect(QNetworkReply *reply);

    // Where files are saved; empty means the current working directory.
    void setDirectory(const QString &path) { directory = path; }
    // A transfer that moves no byte for this long is abandoned (0: never).
    void setStallLimit(int ms) { stallLimitMs = ms; }
    // The console lines (on by default); a caller that tells the user in
    // its own words turns them off.
    void setConsoleReports(bool on) { consoleReports = on; }

signals:
    // Once per download, with the URL as it was asked for. `saved` is false
    // when nothing was saved; then the HTTP status (0 without a reply) and
    // the network error say why.
    void downloadEnded(const QUrl &requested, bool saved, int httpStatus, int networkError);

public slots:
    void execute(const QString &link);
    void downloadFinished(QNetworkReply *reply);
    void sslErrors(const QList<QSslError> &errors);

private:
    QNetworkAccessManager networkManager;
    QList<QNetworkReply *> activeReplies;
    QString directory;
    int stallLimitMs = 0;
    bool consoleReports = true;

    void console(FILE *to, const QString &line) const;
};
