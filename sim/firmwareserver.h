// SPDX-License-Identifier: GPL-3.0-or-later
// The maker's firmware server in miniature, on 127.0.0.1 over plain HTTP:
// it serves the files of one folder (data.json and the HEX files beside it),
// so that the simulated K931 can be updated through the whole road.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

class QTcpServer;
class QTcpSocket;

class FirmwareServer : public QObject {
    Q_OBJECT
public:
    explicit FirmwareServer(const QString &folder, QObject *parent = nullptr);
    ~FirmwareServer() override;

    bool listen();
    // The base address the program takes as its firmware source.
    QUrl url() const;

    // Fills `folder` as the server lays it out: data.json announcing
    // `version` for the model K931, and one firmware file per type, each an
    // image of the simulated K931 that reports "K931 V<version>" and its
    // type's features once written.
    static bool writeRelease(const QString &folder, const QString &version);

private:
    void serve(QTcpSocket *socket);

    QString folder;
    std::unique_ptr<QTcpServer> server;
};
