// SPDX-License-Identifier: GPL-3.0-or-later
// A small HTTP/1.1 server on 127.0.0.1 for tests: fixed answers per path,
// plain or TLS with a self-signed certificate, and the misbehaviours a real
// server can show (never answering, cutting the body short). It runs on the
// test's own event loop.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <memory>

class QTcpServer;
class QTcpSocket;

class LocalHttpServer : public QObject {
    Q_OBJECT
public:
    enum class Scheme { Http, Https };
    enum class Behaviour { Answer, Hang, CutBody };

    struct Response {
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        Behaviour behaviour = Behaviour::Answer;
        int trickleMs = 0; // the body spread over this long, as a slow server sends it
        qint64 announcedLength = kBodyLength; // the Content-Length sent
    };
    static constexpr qint64 kBodyLength = -1; // the body's own
    static constexpr qint64 kNoLength = -2;   // none: the body ends with the connection

    struct Request {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // names in lower case
    };

    explicit LocalHttpServer(Scheme scheme = Scheme::Http, QObject *parent = nullptr);
    ~LocalHttpServer() override;

    // Any address of this machine's loopback (127.0.0.2 is another host for
    // a client), on a port of its own unless told.
    bool listen(const QHostAddress &address = QHostAddress(QHostAddress::LocalHost), quint16 port = 0);
    // Stops listening: new connections are refused, as by a server gone down.
    void close();
    quint16 port() const;
    QUrl url(const QString &path) const;

    void setResponse(const QByteArray &path, const Response &response);
    void setDefault(const Response &response) { fallback = response; }
    void removeResponse(const QByteArray &path) { responses.remove(path); }

    QList<Request> requests;

private:
    void accept();
    void serve(QTcpSocket *socket);
    void trickle(QTcpSocket *socket, const QByteArray &body, int overMs);

    Scheme scheme;
    std::unique_ptr<QTcpServer> server;
    QHash<QByteArray, Response> responses;
    Response fallback{404, "not found", {}, Behaviour::Answer};
    QHash<QTcpSocket *, QByteArray> pending;
    QList<QTcpSocket *> hanging;
};

// The certificate the HTTPS servers present (for "localhost"), for a test
// that makes a client trust it.
QByteArray localServerCertificate();

// An address on this machine where nothing listens.
QUrl closedLocalUrl(const QString &path);
