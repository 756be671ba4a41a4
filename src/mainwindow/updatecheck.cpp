// SPDX-License-Identifier: GPL-3.0-or-later
// The internet lamp, the one-time fetch of the firmware description and the
// comparison of the server's version with the device's.
#include "mainwindow.h"

#include "downloadmanager.h"
#include "firmwaredescription.h"
#include "firmwaresource.h"
#include "mainwindowstate.h"
#include "ui_mainwindow.h"
#include "ledindicator.h"

#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace {
const QString kDescriptionFile = QStringLiteral("data.json");
} // namespace

void MainWindow::checkInternet()
{
    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(configuration.probeUrl)};
    // A server that accepts and never answers must not hold the lamp forever.
    request.setTransferTimeout(configuration.probeTimeoutMs);
    QNetworkReply *reply = manager.get(request);
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    if (reply->bytesAvailable() > 0) {
        internetLed->setState(true);
        if (!updateCheckStarted && !workFilePath(QString()).isEmpty()) {
            fetchFirmwareDescription();
            updateCheckStarted = true;
        }
    } else {
        internetLed->setState(false);
    }
    delete reply;
}

void MainWindow::deleteDescriptionFile()
{
    const QString path = workFilePath(kDescriptionFile);
    if (!path.isEmpty() && QFile::exists(path))
        QFile::remove(path);
}

void MainWindow::fetchFirmwareDescription()
{
    deleteDescriptionFile();
    DownloadOptions bounds{road::kDescriptionMaxBytes, road::kFileTimeLimitMs,
                           !road::isMakersServer(configuration.firmwareBaseUrl)};
    downloadManager->executeWith(configuration.descriptionUrl(), bounds);
    QTimer::singleShot(configuration.descriptionParseDelayMs, this, &MainWindow::parseFirmwareDescription);
}

void MainWindow::parseFirmwareDescription()
{
    QByteArray bytes;
    QFile file(workFilePath(kDescriptionFile));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        bytes = file.readAll();
        file.close();
    }
    deleteDescriptionFile();
    const FirmwareDescription description = parseFirmwareDescriptionJson(bytes);
    if (!description.ok()) {
        // Nothing of a description that would name a file outside the
        // folder: no model to choose, no version to announce.
        qWarning().noquote() << "data.json recusado:" << description.problem;
        QMessageBox::warning(this, tr("Aviso"),
                             tr("A descrição do firmware recebida foi recusada: %1.\nNenhuma atualização pode ser "
                                "oferecida agora; entre em contato com a Brevanto via WhatsApp.")
                                 .arg(description.problem));
        return;
    }
    if (description.hasModels) {
        ui->ModelBox->addItems(description.models);
        if (deviceLed->isEnabled() || bootloaderWaiting)
            offerUpgrade(true);
    }
    if (description.hasVersion) {
        serverVersionText = description.versionText;
        serverVersion = serverVersionText.toFloat();
        compareVersions();
    }
}

void MainWindow::compareVersions()
{
    const float deviceVersion = versionNumberAfterV(ui->VersionBox->text());
    if (!(deviceVersion > 0.0f) || !internetLed->isEnabled() || !deviceLed->isEnabled())
        return;
    versionCheckTimer.stop();
    if (serverVersion > deviceVersion) {
        QMessageBox::information(this, tr("Informacao"),
                                 tr("Atualizacao v") + serverVersionText + tr(" disponivel"));
        if (internetLed->isEnabled())
            offerUpgrade(true);
    }
}
