// SPDX-License-Identifier: GPL-3.0-or-later
// The firmware upgrade: download, "BOOT", wait for the DFU bootloader, write
// with progress, report, clean up.
#include "mainwindow.h"

#include "settingslink.h"

#include "progress.h"
#include "downloadmanager.h"
#include "driveroffer.h"
#include "firmwarecheck.h"
#include "flashfailure.h"
#include "firmwaredescription.h"
#include "firmwaresource.h"
#include "usbids.h"
#include "programmer.h"
#include "bootloaderwait.h"
#include "firmwarewrite.h"
#include "datafolder.h"
#include "keptsettings.h"
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
#include <QPushButton>
#include <QSerialPortInfo>
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
    firmwareImage = {};
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
    qDebug() << firmwareFileName;
    if (firmwareFileName.isEmpty()) {
        QMessageBox::information(this, tr("Erro"), tr("Impossivel Atualizar! Erro: ")
                                     + tr("o modelo \"%1\" %2").arg(printableName(ui->ModelBox->currentText()),
                                                                  modelNameProblem(ui->ModelBox->currentText())));
        return;
    }
    deleteFirmwareFile();
    ui->ProgessText->setText(tr("Baixando"));
    upgradeRunning = true;
    ui->UpgradeButton->setEnabled(false);
    const QString link = firmwareBaseUrl + firmwareFileName;
    // As the download manager reads it, so that its report can be matched.
    pendingFirmwareUrl = DownloadManager::urlForLink(link);
    DownloadOptions bounds{road::kFirmwareFileMaxBytes, road::kFileTimeLimitMs, !road::isMakersServer(firmwareBaseUrl)};
    downloadManager->executeWith(link, bounds);
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
    const FirmwareCheck check = checkFirmwareFile(workFilePath(localFirmwareName()), &firmwareImage);
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
    // A device already waiting in its bootloader has no port to send to, no
    // version and no settings: those kept before the attempt that left it
    // there are still the ones to offer.
    const bool running = serialPort->isOpen();
    if (running && !keepWhatTheDeviceHolds())
        return;
    upgradeInProgress = true;
    bootSerial = running ? QSerialPortInfo(*serialPort).serialNumber() : QString();
    if (running)
        sendBoot();
    else {
        copyVersion.clear();
        copyOfRunningFirmware = false;
    }
    bootloaderWaiting = false;
    ui->progressBar->setTextVisible(true);
    QTimer::singleShot(configuration.upgradeStepDelayMs, this, &MainWindow::ConnectDFUandSelectHEX);
}

// What "BOOT" may lose: the settings (a new firmware may come back with its
// defaults) and the firmware itself. Where either cannot be kept the owner
// decides, before anything is sent.
bool MainWindow::keepWhatTheDeviceHolds()
{
    copyVersion = readOutVersion();
    copyOfRunningFirmware = true;
    QStringList lost;
    QString why;
    if (!road::copiesCanBeKept(road::backupFolder(), why))
        lost << tr("a cópia do firmware atual (%1)").arg(why);
    const QString keptPath = keepSettingsBeforeBoot(why);
    if (deviceAnswered && keptPath.isEmpty())
        lost << tr("as configurações do aparelho (%1)").arg(why);
    if (!lost.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, tr("Atenção"),
                        tr("Não foi possível guardar %1.\nContinuar sem cópia?").arg(lost.join(tr(" nem "))),
                        QMessageBox::NoButton, this);
        QPushButton *go = box.addButton(tr("Sim"), QMessageBox::YesRole);
        QPushButton *stop = box.addButton(tr("Não"), QMessageBox::NoRole);
        box.setDefaultButton(stop);
        box.exec();
        if (box.clickedButton() != go) {
            road::forgetKeptSettings(keptPath);
            abandonUpgrade(QString());
            return false;
        }
    }
    // Only this update's own file is offered after it: none when none was
    // kept now, never an earlier update's.
    settingsKeptPath = keptPath;
    return true;
}

// The settings file format, so that "tarvik-config import" also puts it
// back; what the device replied, never what the fields show since. Only a
// completed read-out is kept.
QString MainWindow::keepSettingsBeforeBoot(QString &why)
{
    if (!deviceAnswered)
        return QString();
    const QString version = readOutVersion();
    QList<QPair<const settings::Key *, quint32>> values;
    for (const settings::Key *key : settings::keys()) {
        if (!settings::heldBy(*key, version))
            continue;
        if (const std::optional<quint32> word = settings::wordOfReply(*key, readOut->replies().value(key->mnemonic())))
            values.append({key, *word});
    }
    const QString path =
        road::keepSettings(QSerialPortInfo(*serialPort).serialNumber(), version, readOutInLambda(), values, why);
    qDebug().noquote() << (path.isEmpty() ? "Configurações não guardadas: " + why : "Configurações guardadas em " + path);
    return path;
}

// Nothing was sent to the device: it stays connected as it was. Without a
// reason the owner chose to stop, and needs no box saying so.
void MainWindow::abandonUpgrade(const QString &reason)
{
    qDebug() << "Upgrade abandoned:" << reason;
    if (!reason.isEmpty())
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
            // Where the program can install the missing driver it asks; with
            // it in place the bootloader is looked for anew.
            QString reason = connected.reason;
            if (connected.result == flashing::kAccessDenied
                && offerBootloaderDriver(this, reason) == DriverAnswer::Installed) {
                ConnectDFUandSelectHEX();
                return;
            }
            QMessageBox::information(this, tr("Erro"), tr("Impossivel Atualizar! Erro: ") + reason);
            stopWaitingForBootloader();
            return;
        }
        firmwareFilePath = workFilePath(localFirmwareName());
        QMessageBox::warning(this, tr("Importante"), tr("Não desconecte o aparelho"));
        QTimer::singleShot(configuration.upgradeStepDelayMs, this, &MainWindow::DoUpgrade);
    });
    connect(wait, &road::BootloaderWait::waitExpired, this,
            [this, wait](const QString &foreignUsbIndex, const QString &reason) {
        wait->deleteLater();
        const QString foreign = foreignUsbIndex.isEmpty()
            ? QString()
            : tr("\nO aparelho em modo de atualização em %1 não é um K931 e não foi gravado.").arg(foreignUsbIndex);
        QMessageBox::warning(this, tr("Aviso"),
                             (reason.isEmpty() ? tr("Aparelho não encontrado em modo de atualização.\n"
                                                    "Desconecte e reconecte o aparelho e tente novamente.")
                                               : reason)
                                 + foreign);
        stopWaitingForBootloader();
    });
    wait->start(bootSerial);
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

    road::WriteRequest request;
    request.image = firmwareImage;
    request.path = firmwareFilePath;
    request.copy.folder = road::backupFolder();
    request.copy.version = copyVersion;
    request.copy.origin = copyOfRunningFirmware ? road::CopyOrigin::RunningFirmware
                                                : road::CopyOrigin::FoundInBootloader;
    const road::Outcome written = road::writeFirmware(request);
    const int result = written.result;
    qDebug().noquote() << written.copyReport;
    QMessageBox box(QMessageBox::Information, tr("Erro"), QString(), QMessageBox::Ok, this);
    // Where the replaced firmware went, under the result, and why a write
    // failed in words, beside its number.
    QStringList details{written.copyReport};
    if (!written.ok())
        details << written.reason;
    details.removeAll(QString());
    box.setInformativeText(details.join(QLatin1Char('\n')));
    if (result == 0) {
        writtenBootloaderListed = true;
        settingsToOffer = settingsKeptPath;
        lookForKeptSettings = !copyOfRunningFirmware && settingsKeptPath.isEmpty();
        ui->progressBar->setValue(100);
        box.setWindowTitle(tr("Aviso"));
        box.setText(tr("Aparelho atualizado com sucesso!\nFavor reconectar o aparelho"));
    } else if (result == flashing::kFileNotFound) {
        box.setText(tr("Impossivel Atualizar! Erro: ") + missingOnServerText());
    } else {
        box.setText(tr("Impossivel Atualizar! Erro: ") + QString::number(result));
    }
    box.exec();
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
    // A device re-plugged while the result box was open has been read:
    // only now may its settings be offered.
    offerKeptSettings();
}

void MainWindow::UpdateProgressFlash()
{
    ui->progressBar->setValue(roundedProgress(progressAccumulator));
    QCoreApplication::processEvents();
}
