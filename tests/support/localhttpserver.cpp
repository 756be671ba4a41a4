// SPDX-License-Identifier: GPL-3.0-or-later
#include "localhttpserver.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

LocalHttpServer::LocalHttpServer(Scheme s, QObject *parent)
    : QObject(parent)
    , scheme(s)
{
    if (scheme == Scheme::Https) {
        auto *tls = new QSslServer;
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(QSslCertificate(readFile(QStringLiteral(TARVIK_TEST_CERT_DIR "/localhost.crt"))));
        config.setPrivateKey(QSslKey(readFile(QStringLiteral(TARVIK_TEST_CERT_DIR "/localhost.key")), QSsl::Rsa));
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
        tls->setSslConfiguration(config);
        server.reset(tls);
    } else {
        server = std::make_unique<QTcpServer>();
    }
    connect(server.get(), &QTcpServer::pendingConnectionAvailable, this, &LocalHttpServer::accept);
}

LocalHttpServer::~LocalHttpServer()
{
    for (QTcpSocket *s : hanging)
        s->abort();
    // Its sockets go with it and tell this object, whose lists must still be there.
    server.reset();
}

bool LocalHttpServer::listen(const QHostAddress &address, quint16 port)
{
    return address.isLoopback() && server->listen(address, port);
}

void LocalHttpServer::close()
{
    server->close();
}

quint16 LocalHttpServer::port() const
{
    return server->serverPort();
}

QUrl LocalHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("%1://%2:%3%4")
                    .arg(scheme == Scheme::Https ? QStringLiteral("https") : QStringLiteral("http"))
                    .arg(server->serverAddress().toString())
                    .arg(port())
                    .arg(path));
}

void LocalHttpServer::setResponse(const QByteArray &path, const Response &response)
{
    responses.insert(path, response);
}

void LocalHttpServer::accept()
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, socket] {
            pending.remove(socket);
            hanging.removeAll(socket);
        });
    }
}

void LocalHttpServer::serve(QTcpSocket *socket)
{
    QByteArray &buffer = pending[socket];
    buffer += socket->readAll();
    const int end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    buffer.clear();
    Request request;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.path = first.value(1);
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    requests.append(request);

    const Response response = responses.value(request.path, fallback);
    if (response.behaviour == Behaviour::Hang) {
        hanging.append(socket);
        return;
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    if (response.announcedLength != kNoLength) {
        const qint64 length = response.announcedLength == kBodyLength ? response.body.size() : response.announcedLength;
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    }
    head += "Connection: close\r\n";
    for (const auto &h : response.headers)
        head += h.first + ": " + h.second + "\r\n";
    head += "\r\n";
    socket->write(head);
    if (response.behaviour == Behaviour::CutBody) {
        socket->write(response.body.left(response.body.size() / 2));
        socket->flush();
        socket->disconnectFromHost();
        return;
    }
    if (response.trickleMs > 0) {
        trickle(socket, response.body, response.trickleMs);
        return;
    }
    socket->write(response.body);
    socket->disconnectFromHost();
}

void LocalHttpServer::trickle(QTcpSocket *socket, const QByteArray &body, int overMs)
{
    constexpr int kPieces = 10;
    const qsizetype piece = (body.size() + kPieces - 1) / kPieces;
    QPointer<QTcpSocket> guarded(socket);
    for (int i = 0; i < kPieces; ++i) {
        QTimer::singleShot(overMs * (i + 1) / kPieces, this, [guarded, body, piece, i] {
            if (!guarded)
                return;
            guarded->write(body.mid(i * piece, piece));
            if (i == kPieces - 1)
                guarded->disconnectFromHost();
        });
    }
}

QByteArray localServerCertificate()
{
    return readFile(QStringLiteral(TARVIK_TEST_CERT_DIR "/localhost.crt"));
}

QUrl closedLocalUrl(const QString &path)
{
    // Bind a port, then free it: nothing listens there afterwards.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path));
}
