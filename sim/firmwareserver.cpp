// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwareserver.h"

#include "firmwaredescription.h"
#include "simulateddevice.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

const QString kModel = QStringLiteral("K931");

// "OBD + Boost" is a firmware with Boost: the version text says so, as the
// real ones do ("K931 V1.6 Boost").
QByteArray versionText(const QString &version, const QString &type)
{
    QString text = QStringLiteral("K931 V") + version;
    if (type.contains(QLatin1String("Boost")))
        text += QStringLiteral(" Boost");
    if (type.contains(QLatin1String("Flex")))
        text += QStringLiteral(" Flex");
    return text.toUtf8();
}

} // namespace

FirmwareServer::FirmwareServer(const QString &servedFolder, QObject *parent)
    : QObject(parent)
    , folder(servedFolder)
    , server(std::make_unique<QTcpServer>())
{
    connect(server.get(), &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = server->nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

FirmwareServer::~FirmwareServer() = default;

bool FirmwareServer::listen()
{
    return server->listen(QHostAddress::LocalHost);
}

QUrl FirmwareServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server->serverPort()));
}

// One GET a connection, the file or 404; nothing outside the folder.
void FirmwareServer::serve(QTcpSocket *socket)
{
    const QByteArray request = socket->peek(8192);
    if (!request.contains("\r\n\r\n"))
        return;
    socket->readAll();
    const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
    const QString name = words.size() >= 2 ? QString::fromUtf8(QByteArray::fromPercentEncoding(words[1])).mid(1) : QString();
    QFile file(QDir(folder).filePath(name));
    const bool found = words.value(0) == "GET" && !name.isEmpty() && !name.contains(QLatin1Char('/'))
                    && !name.startsWith(QLatin1Char('.')) && file.open(QIODevice::ReadOnly);
    const QByteArray body = found ? file.readAll() : QByteArray("not found");
    socket->write((found ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n") + QByteArray("Content-Length: ")
                  + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}

bool FirmwareServer::writeRelease(const QString &folder, const QString &version)
{
    if (!QDir().mkpath(folder))
        return false;
    for (const QString &type : firmwareTypes()) {
        if (!SimulatedDevice::writeSampleFirmware(QDir(folder).filePath(firmwareFileFor(kModel, type)),
                                                  versionText(version, type)))
            return false;
    }
    const QJsonObject description{{QStringLiteral("Modelo"), QJsonArray{kModel}},
                                  {QStringLiteral("Version"), version}};
    QFile file(QDir(folder).filePath(kFirmwareDescriptionName));
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(description).toJson()) > 0;
}
