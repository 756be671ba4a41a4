// SPDX-License-Identifier: GPL-3.0-or-later
// The firmware upgrade as the window shows it: road::FirmwareUpdate runs it
// (download, what is kept, "BOOT", the bootloader, the write, the settings
// put back); the window words each step and asks its questions in boxes.
#include "mainwindow.h"

#include "progress.h"
#include "downloadmanager.h"
#include "driveroffer.h"
#include "flashwindow.h"
#include "firmwaredescription.h"
#include "firmwaresource.h"
#include "programmer.h"
#include "mainwindowstate.h"
#include "ui_mainwindow.h"
#include "ledindicator.h"
#include "windowlink.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QNetworkReply>
#include <QTimer>

namespace {

using Update = road::FirmwareUpdate;
using Step = Update::Step;
using Failure = Update::Failure;

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
    if (!firmwareFilePath.isEmpty())
        QFile::remove(firmwareFilePath);
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
    // Two writers on one bootloader: the technicians' window goes first.
    if (flashWindow->isVisible()) {
        QMessageBox::information(this, tr("Aviso"), tr("Feche a janela de gravação manual e tente novamente."));
        return;
    }
    if (firmwareFileFor(ui->ModelBox->currentText(), ui->K931TypeBox->currentText()).isEmpty()) {
        QMessageBox::information(this, tr("Erro"), tr("Impossivel Atualizar! Erro: ")
                                     + tr("o modelo \"%1\" %2").arg(printableName(ui->ModelBox->currentText()),
                                                                  modelNameProblem(ui->ModelBox->currentText())));
        return;
    }
    deleteFirmwareFile();
    ui->ProgessText->setText(tr("Baixando"));
    upgradeRunning = true;
    ui->UpgradeButton->setEnabled(false);
    startUpdate();
}

// An update still waiting for the re-plug of an earlier write gives way.
void MainWindow::startUpdate()
{
    if (update) {
        update->disconnect(this);
        update->stop();
        update->deleteLater();
    }
    road::UpdateOrder order;
    order.server = firmwareBaseUrl;
    order.model = ui->ModelBox->currentText();
    order.modelAsGiven = true;
    order.type = ui->K931TypeBox->currentText();
    order.workFolder = workFilePath(QString());
    road::UpdateConfiguration road;
    road.stepDelayMs = configuration.upgradeStepDelayMs;
    road.bootloaderWaitMs = configuration.dfuWaitLimitMs;
    road.bootloaderPollMs = configuration.dfuPollIntervalMs;
    road.downloadStallLimitMs = configuration.downloadStallLimitMs;
    // The window's scan waits for the application before it reads the device,
    // and the link counts a device only once read.
    road.applicationStartMs = 0;
    update = new Update(windowLink, order, road, this);
    foreignBootloader.clear();
    restoreAnswered = false;
    connect(update, &Update::stepChanged, this, &MainWindow::showUpdateStep);
    connect(update, &Update::questionAsked, this, &MainWindow::askForUpdate, Qt::QueuedConnection);
    connect(update, &Update::foreignBootloaderListed, this, [this](const QString &usbIndex, const QString &layout) {
        foreignBootloader = usbIndex;
        nameForeignBootloader(usbIndex, layout);
    });
    connect(update, &Update::settingsKept, this,
            [](const QString &path) { qDebug().noquote() << "Configurações guardadas em " + path; });
    connect(update, &Update::writeEnded, this, &MainWindow::showWriteResult);
    connect(update, &Update::finished, this, &MainWindow::updateFinished);
    update->start();
}

void MainWindow::showUpdateStep(road::FirmwareUpdate::Step step)
{
    switch (step) {
    case Step::Boot:
        upgradeInProgress = true;
        bootloaderWaiting = false;
        ui->progressBar->setTextVisible(true);
        break;
    case Step::Connect:
        ConnectDFUandSelectHEX();
        break;
    case Step::Write:
        DoUpgrade();
        break;
    case Step::Restore:
        // The owner sees what goes back in.
        showKeptInForm(update->offer().differing);
        break;
    default:
        break;
    }
}

void MainWindow::askForUpdate(road::FirmwareUpdate::Question question, const QString &text)
{
    if (!update)
        return;
    if (question == Update::Question::ContinueWithoutCopy) {
        QMessageBox box(QMessageBox::Warning, tr("Atenção"), text, QMessageBox::NoButton, this);
        QPushButton *go = box.addButton(tr("Sim"), QMessageBox::YesRole);
        QPushButton *stop = box.addButton(tr("Não"), QMessageBox::NoRole);
        box.setDefaultButton(stop);
        box.exec();
        if (update)
            update->answer(box.clickedButton() == go);
        return;
    }
    restoreAnswered = askToRestore();
    if (update)
        update->answer(restoreAnswered);
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
    ui->UpgradeButton->setEnabled(upgradeOffered);
}

// The bootloader is connected: the owner is warned before the write begins.
void MainWindow::ConnectDFUandSelectHEX()
{
    firmwareFilePath = update->firmwarePath();
    QMessageBox::warning(this, tr("Importante"), tr("Não desconecte o aparelho"));
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

// The write itself is the update's; the bar follows its progress.
void MainWindow::DoUpgrade()
{
    QCoreApplication::processEvents();
    ui->progressBar->setValue(0);
    progressAccumulator = 0.0f;
    disconnect(&progressTimer, &QTimer::timeout, this, &MainWindow::advanceConnectionProgress);
    ui->ProgessText->setText(tr("Atualizando"));
    connect(&progressTimer, &QTimer::timeout, this, &MainWindow::UpdateProgressFlash, Qt::UniqueConnection);
    progressTimer.start(configuration.progressTickMs);
}

// The result box holds the update until it is closed: only then is the
// re-plugged device waited for.
void MainWindow::showWriteResult(const road::Outcome &written)
{
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
}

void MainWindow::updateFinished(const road::FirmwareUpdate::Outcome &outcome)
{
    update->deleteLater();
    update = nullptr;
    if (outcome.step == Step::Write || outcome.written || outcome.failure == Failure::WriteFailed) {
        reportRestore(outcome);
        return;
    }
    switch (outcome.failure) {
    case Failure::None:
    case Failure::Stopped:
    case Failure::Declined:
        abandonUpgrade(QString());
        return;
    case Failure::Download:
        abandonUpgrade(downloadFailureText(outcome.download.httpStatus, outcome.download.networkError));
        return;
    case Failure::BadFile:
        // A page of HTML from a misconfigured server is not worded as a file.
        abandonUpgrade(outcome.code == flashing::kAddressOutsideFlash
                           ? outcome.fileProblem
                           : tr("o arquivo recebido do servidor não é um firmware válido"));
        return;
    case Failure::NoBootloader:
        reportNoBootloader(outcome.reason);
        return;
    case Failure::ConnectRefused:
        reportRefusedConnection(outcome);
        return;
    default:
        if (outcome.inBootloader) {
            QMessageBox::information(this, tr("Erro"), tr("Impossivel Atualizar! Erro: ") + outcome.reason);
            stopWaitingForBootloader();
            return;
        }
        abandonUpgrade(outcome.reason);
        return;
    }
}

void MainWindow::reportNoBootloader(const QString &reason)
{
    const QString foreign = foreignBootloader.isEmpty()
        ? QString()
        : tr("\nO aparelho em modo de atualização em %1 não é um K931 e não foi gravado.").arg(foreignBootloader);
    QMessageBox::warning(this, tr("Aviso"),
                         (reason.isEmpty() ? tr("Aparelho não encontrado em modo de atualização.\n"
                                                "Desconecte e reconecte o aparelho e tente novamente.")
                                           : reason)
                             + foreign);
    stopWaitingForBootloader();
}

// Where the program can install the missing driver it asks; with it in
// place the device, now waiting in its bootloader, is updated anew.
void MainWindow::reportRefusedConnection(const road::FirmwareUpdate::Outcome &outcome)
{
    QString reason = outcome.reason;
    if (outcome.code == flashing::kAccessDenied && offerBootloaderDriver(this, reason) == DriverAnswer::Installed) {
        startUpdate();
        return;
    }
    QMessageBox::information(this, tr("Erro"), tr("Impossivel Atualizar! Erro: ") + reason);
    stopWaitingForBootloader();
}

void MainWindow::UpdateProgressFlash()
{
    ui->progressBar->setValue(roundedProgress(progressAccumulator));
    QCoreApplication::processEvents();
}
