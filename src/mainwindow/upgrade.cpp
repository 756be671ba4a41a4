// SPDX-License-Identifier: GPL-3.0-or-later
// The firmware upgrade: download, "BOOT", wait for the DFU bootloader, write
// with progress, report, clean up.
#include "mainwindow.h"

#include "progress.h"
#include "downloadmanager.h"
#include "firmwarecheck.h"
#include "flashfailure.h"
#include "firmwaredescription.h"
#include "usbids.h"
#include "programmer.h"
#include "bootloaderwait.h"
#include "firmwarewrite.h"
#include "datafolder.h"
#include "backupfolder.h"
#include "settings.h"
#include "mainwindowstate.h"
#include "ui_mainwindow.h"
#include "ledindicator.h"

#include <QCoreApplication>
#include <ctime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QNetworkReply>
#include <QTimer>

namespace {

// The model name comes from the server: only its last path part may name a
// local file, so that a name like "../x" cannot reach outside the folder.
QString localFirmwareName()
{
    return QFileInfo(firmwareFileName).fileName();
}

QString missingOnServerText()
{
    return MainWindow::tr("Falta de atualização no servidor, entre em contato com a Brevanto via WhatsApp.");
}

// Why a firmware download saved nothing, in a few words for the error box.
QString downloadFailureText(int httpStatus, int networkError)
{
    if (httpStatus == 404 || httpStatus == 410 || networkError == QNetworkReply::ContentNotFoundError
        || networkError == QNetworkReply::ContentGoneError)
        return missingOnServerText();
    switch (networkError) {
    case QNetworkReply::InsecureRedirectError: return MainWindow::tr("o servidor redirecionou o pedido");
    case QNetworkReply::NoError:
        return httpStatus >= 300 && httpStatus < 400 ? MainWindow::tr("o servidor redirecionou o pedido")
                                                     : MainWindow::tr("não foi possível salvar o arquivo");
    case QNetworkReply::HostNotFoundError: return MainWindow::tr("servidor não encontrado");
    case QNetworkReply::ConnectionRefusedError: return MainWindow::tr("o servidor recusou a conexão");
    case QNetworkReply::RemoteHostClosedError: return MainWindow::tr("o servidor encerrou a conexão");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError: return MainWindow::tr("o servidor parou de responder");
    case QNetworkReply::SslHandshakeFailedError: return MainWindow::tr("falha na conexão segura com o servidor");
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError: return MainWindow::tr("sem conexão com a internet");
    default:
        return httpStatus > 0 ? MainWindow::tr("o servidor respondeu com o código %1").arg(httpStatus)
                              : MainWindow::tr("falha de rede");
    }
}

} // namespace

void MainWindow::deleteFirmwareFile()
{
    const QString name = localFirmwareName();
    if (!name.isEmpty() && QFile::exists(workFilePath(name)))
        QFile::remove(workFilePath(name));
}

void MainWindow::offerUpgrade(bool offered)
{
    upgradeOffered = offered;
    ui->UpgradeButton->setEnabled(offered && !upgradeRunning);
}

void MainWindow::on_UpgradeButton_clicked()
{
    if (upgradeRunning || workFilePath(QString()).isEmpty())
        return;
    // "BOOT" between two set commands would lose the rest of the upload.
    if (commandTimer->isActive()) {
        QMessageBox::information(this, tr("Aviso"), tr("Aguarde o fim do envio das configurações e tente novamente."));
        return;
    }
    firmwareFileName = firmwareFileFor(ui->ModelBox->currentText(), ui->K931TypeBox->currentText());
    // The copy of the firmware this update replaces is named after it (no
    // version is known for a device found in its bootloader).
    flashing::setBackupLabel(ui->VersionBox->text().toUtf8().constData());
    qDebug() << firmwareFileName;
    deleteFirmwareFile();
    ui->ProgessText->setText(tr("Baixando"));
    upgradeRunning = true;
    ui->UpgradeButton->setEnabled(false);
    const QString link = firmwareBaseUrl + firmwareFileName;
    // As the download manager reads it, so that its report can be matched.
    pendingFirmwareUrl = QUrl::fromEncoded(link.toLocal8Bit(), QUrl::TolerantMode);
    downloadManager->execute(link);
}

// "BOOT" waits for the file: a device sent into its bootloader without
// firmware to write must be re-plugged by hand.
void MainWindow::firmwareDownloadEnded(const QUrl &requested, bool saved, int httpStatus, int networkError)
{
    if (!upgradeRunning || pendingFirmwareUrl.isEmpty() || requested != pendingFirmwareUrl)
        return;
    pendingFirmwareUrl.clear();
    if (!saved) {
        abandonUpgrade(downloadFailureText(httpStatus, networkError));
        return;
    }
    // A page of HTML from a misconfigured server, or an image that does not
    // fit the flash, is caught here, while the device still runs its
    // firmware, not after it was sent to its bootloader.
    const FirmwareCheck check = checkFirmwareFile(workFilePath(localFirmwareName()));
    if (check.result == flashing::kAddressOutsideFlash) {
        abandonUpgrade(check.reason);
        return;
    }
    if (!check.ok()) {
        abandonUpgrade(tr("o arquivo recebido do servidor não é um firmware válido"));
        return;
    }
    bootIntoBootloader();
}

void MainWindow::bootIntoBootloader()
{
    upgradeInProgress = true;
    settingsKeptPath.clear(); // only this update's own file is offered after it
    // A device already waiting in its bootloader has no port to send to.
    if (serialPort->isOpen()) {
        keepSettingsBeforeBoot();
        sendBoot();
    }
    bootloaderWaiting = false;
    ui->progressBar->setTextVisible(true);
    QTimer::singleShot(configuration.upgradeStepDelayMs, this, &MainWindow::ConnectDFUandSelectHEX);
}

// A new firmware may come back with its defaults: what the device held is
// kept in the data folder first, in the settings file format, so that
// "tarvik-config import" puts it back. Only a completed read-out is kept.
void MainWindow::keepSettingsBeforeBoot()
{
    if (!deviceAnswered)
        return;
    const QString version = readOutVersion();
    const bool boost = settings::versionHasBoost(version);
    QList<QPair<const settings::Key *, quint32>> values;
    for (const settings::Key *key : settings::keys()) {
        if (key->kind == settings::Kind::Sensor && !boost)
            continue;
        if (const std::optional<quint32> word = settings::wordOfReply(*key, readOutReplies.value(key->mnemonic())))
            values.append({key, *word});
    }
    const QString folder = QDir(road::dataFolder()).filePath(QStringLiteral("configuracoes"));
    const QString path = QDir(folder).filePath(QString::fromStdString(
        flashing::keptFileName(std::time(nullptr), version.toUtf8().toStdString(), ".json")));
    QString error;
    if (!QDir().mkpath(folder))
        error = tr("a pasta não pôde ser criada");
    if (error.isEmpty() && settings::saveFile(path, version, readOutInLambda(), values, error)) {
        settingsKeptPath = path;
        qDebug().noquote() << "Configurações guardadas em" << path;
    } else
        qDebug().noquote() << "Configurações não guardadas em" << folder << "(" + error + ")";
}

// Nothing was sent to the device: it stays connected as it was.
void MainWindow::abandonUpgrade(const QString &reason)
{
    qDebug() << "Upgrade abandoned:" << reason;
    QMessageBox::information(this, tr("Erro"), tr("Impossivel Atualizar! Erro: ") + reason);
    deleteFirmwareFile();
    ui->ProgessText->clear();
    endUpgrade();
    // A device waiting in its bootloader still waits: its notice comes back.
    if (bootloaderWaiting)
        recheckWaitingBootloader();
}

void MainWindow::endUpgrade()
{
    upgradeRunning = false;
    pendingFirmwareUrl.clear();
    ui->UpgradeButton->setEnabled(upgradeOffered);
}

// The bootloader is looked for every 250 ms with the window responsive, up
// to a limit: a device that never enters it must not freeze the window.
void MainWindow::ConnectDFUandSelectHEX()
{
    auto *wait = new road::BootloaderWait(configuration.dfuWaitLimitMs, configuration.dfuPollIntervalMs, this);
    connect(wait, &road::BootloaderWait::foreignBootloaderListed, this, &MainWindow::nameForeignBootloader);
    connect(wait, &road::BootloaderWait::bootloaderFound, this, [this, wait](const QString &usbIndex) {
        wait->deleteLater();
        const road::Outcome connected = road::connectBootloader(usbIndex);
        // Refusals the user can act on are said; the write would only
        // fail as "not connected".
        if (connected.result == flashing::kAccessDenied || connected.result == flashing::kInterfaceBusy) {
            QMessageBox::information(this, tr("Erro"), tr("Impossivel Atualizar! Erro: ") + connected.reason);
            stopWaitingForBootloader();
            return;
        }
        firmwareFilePath = workFilePath(localFirmwareName());
        QMessageBox::warning(this, tr("Importante"), tr("Não desconecte o aparelho"));
        QTimer::singleShot(configuration.upgradeStepDelayMs, this, &MainWindow::DoUpgrade);
    });
    connect(wait, &road::BootloaderWait::waitExpired, this, [this, wait](const QString &foreignUsbIndex) {
        wait->deleteLater();
        const QString foreign = foreignUsbIndex.isEmpty()
            ? QString()
            : tr("\nO aparelho em modo de atualização em %1 não é um K931 e não foi gravado.").arg(foreignUsbIndex);
        QMessageBox::warning(this, tr("Aviso"),
                             tr("Aparelho não encontrado em modo de atualização.\n"
                                "Desconecte e reconecte o aparelho e tente novamente.")
                                 + foreign);
        stopWaitingForBootloader();
    });
    wait->start();
}

void MainWindow::stopWaitingForBootloader()
{
    upgradeInProgress = false;
    deleteFirmwareFile();
    ui->ProgessText->clear();
    showLinkAsItIs();
    endUpgrade();
}

// After a wait that found no bootloader the K931 may have ignored "BOOT" or
// restarted into its firmware: the window shows what the port scan knows.
void MainWindow::showLinkAsItIs()
{
    const bool connecting = progressTimer.isActive(); // found again: the animation ends in "Conectado"
    if (connecting)
        return;
    const bool connected = serialPort->isOpen();
    showLinkState(connected);
    if (!connected && !portScanTimer->isActive())
        portScanTimer->start(configuration.portScanIntervalMs);
}

void MainWindow::DoUpgrade()
{
    QCoreApplication::processEvents();
    ui->progressBar->setValue(0);
    progressAccumulator = 0.0f;
    disconnect(&progressTimer, &QTimer::timeout, this, &MainWindow::advanceConnectionProgress);
    ui->ProgessText->setText(tr("Atualizando"));
    connect(&progressTimer, &QTimer::timeout, this, &MainWindow::UpdateProgressFlash, Qt::UniqueConnection);
    progressTimer.start(configuration.progressTickMs);

    const int result = road::writeFirmware(firmwareFilePath).result;
    if (result == 0) {
        writtenBootloaderListed = true;
        settingsToOffer = settingsKeptPath;
        ui->progressBar->setValue(100);
        QMessageBox::information(this, tr("Aviso"),
                                 tr("Aparelho atualizado com sucesso!\nFavor reconectar o aparelho"));
    } else if (result == flashing::kFileNotFound) {
        QMessageBox::information(this, tr("Erro"),
                                 tr("Impossivel Atualizar! Erro: ") + missingOnServerText());
    } else {
        QMessageBox::information(this, tr("Erro"), tr("Impossivel Atualizar! Erro: ") + QString::number(result));
    }
    finishUpgrade();
}

void MainWindow::finishUpgrade()
{
    upgradeInProgress = false;
    deleteFirmwareFile();
    disconnect(&progressTimer, &QTimer::timeout, this, &MainWindow::UpdateProgressFlash);
    // The owner may have re-plugged the device while the result box was
    // open: the scan then found it and its connection runs, or is made.
    const bool cameBack = !portScanTimer->isActive();
    if (!cameBack) {
        showLinkState(false);
        progressTimer.stop();
        ui->ProgessText->clear();
    }
    endUpgrade();
}

void MainWindow::UpdateProgressFlash()
{
    ui->progressBar->setValue(roundedProgress(progressAccumulator));
    QCoreApplication::processEvents();
}
