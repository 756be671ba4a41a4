// Fetches files over HTTP(S) into the current working directory, named after
// the last segment of the URL's path. Reports only on the console: callers
// look for the file on disk.
#pragma once

#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSslError>

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

public slots:
    void execute(const QString &link);
    void downloadFinished(QNetworkReply *reply);
    void sslErrors(const QList<QSslError> &errors);

private:
    QNetworkAccessManager networkManager;
    QList<QNetworkReply *> activeReplies;
};
