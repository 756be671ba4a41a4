// SPDX-License-Identifier: GPL-3.0-or-later
#include "flashwindow.h"

#include "datafolder.h"
#include "firmwarecheck.h"
#include "flashfailure.h"
#include "firmwarewrite.h"
#include "progress.h"
#include "usbids.h"
#include "programmer.h"
#include "ui_flashwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

namespace {
// Outlive the window object's own state: one window per run shares them.
QTimer flashProgressTimer;
QTimer deviceRemovalTimer;
// The path chosen with "Arquivo"; kept for the whole run.
QString flashFilePath;
} // namespace

FlashWindow::FlashWindow(QWidget *parent, const FlashWindowConfiguration &configurationToUse)
    : QMainWindow(parent)
    , ui(new Ui_FlashWindow)
    , configuration(configurationToUse)
{
    ui->setupUi(this);
}

FlashWindow::~FlashWindow()
{
    delete ui;
}

void FlashWindow::on_ConnectButton_clicked()
{
    ui->textEdit->append(tr("Procurando aparelho\n"));
    flashing::DfuDeviceInfo *devices = nullptr;
    if (flashing::getDfuDeviceList(&devices, k931::kDfuProduct, k931::kUsbVendor) == 0) {
        ui->textEdit->append(tr("Nenhum aparelho encontrado\n"));
        return;
    }
    const road::Outcome connected = road::connectBootloader(QString::fromLatin1(devices[0].usbIndex));
    if (!connected.ok()) {
        ui->textEdit->append(tr("Erro ao conectar\n"));
        // Permission and a program holding the device are the user's to fix.
        if (connected.result == flashing::kAccessDenied || connected.result == flashing::kInterfaceBusy)
            ui->textEdit->append(connected.reason);
        return;
    }
    ui->textEdit->append(tr("Conectado\n"));
    ui->SelectFileButton->setEnabled(true);
    // Connected again after a failed write: the file chosen before still stands.
    ui->FlashButton->setEnabled(!flashFilePath.isEmpty());
}

void FlashWindow::on_SelectFileButton_clicked()
{
    QFileDialog dialog(this, QString(), QString(), QString());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setWindowTitle(tr("Open Files"));
    dialog.setNameFilter(tr("Tarvik (*.hex)"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedUrls().isEmpty())
        return;
    // The local path, not the text after the URL's third "/": that rule cuts
    // the leading "/" of every absolute path outside Windows.
    flashFilePath = dialog.selectedUrls().constFirst().toLocalFile();
    ui->FlashButton->setEnabled(true);
}

void FlashWindow::on_FlashButton_clicked()
{
    ui->ConnectButton->setEnabled(false);
    ui->SelectFileButton->setEnabled(false);
    ui->FlashButton->setEnabled(false);
    QCoreApplication::processEvents();

    road::WriteRequest request;
    // Read once: a file replaced after this moment is not what goes in. A
    // file that cannot go in needs no warning about the cable.
    const FirmwareCheck read = readFirmwareFile(flashFilePath, &request.image);
    if (!read.ok())
        return writeNotDone(flashFailureReason(read.result, flashFilePath));

    // The connection animation leaves the accumulator at 100: a bar that
    // starts full would tell the user nothing.
    progressAccumulator = 0.0f;
    ui->progressBar->setValue(0);
    connect(&flashProgressTimer, &QTimer::timeout, this, &FlashWindow::updateFlashProgress, Qt::UniqueConnection);
    flashProgressTimer.start(configuration.progressTickMs);
    QMessageBox::warning(this, tr("Importante"), tr("Não desconecte o aparelho"));

    request.path = flashFilePath;
    // Which firmware the device holds is not known here.
    request.copy.folder = road::backupFolder();
    const road::Outcome written = road::writeFirmware(request);
    if (!written.copyReport.isEmpty())
        ui->textEdit->append(written.copyReport);
    if (!written.ok())
        return writeNotDone(written.reason);
    ui->textEdit->append(tr("Atualizado"));
    connect(&deviceRemovalTimer, &QTimer::timeout, this, &FlashWindow::checkDeviceRemoved, Qt::UniqueConnection);
    deviceRemovalTimer.start(configuration.removalPollMs);
    ui->progressBar->setValue(100);
    disconnect(&flashProgressTimer, &QTimer::timeout, this, &FlashWindow::updateFlashProgress);
    QMessageBox::information(this, tr("Sucesso"), tr("Desconecte o aparelho"));
}

// The technician may connect again and write again, this file or another:
// the window lives for the whole run and would otherwise stay dead.
void FlashWindow::writeNotDone(const QString &reason)
{
    flashProgressTimer.stop();
    disconnect(&flashProgressTimer, &QTimer::timeout, this, &FlashWindow::updateFlashProgress);
    ui->textEdit->append(tr("Impossivel Atualizar"));
    ui->textEdit->append(reason);
    ui->ConnectButton->setEnabled(true);
}

// Closed during a write, the window would vanish with the write going on.
void FlashWindow::closeEvent(QCloseEvent *event)
{
    if (!flashing::writeInProgress()) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    ui->textEdit->append(tr("Aguarde o fim da atualização"));
}

void FlashWindow::updateFlashProgress()
{
    ui->progressBar->setValue(roundedProgress(progressAccumulator));
    QCoreApplication::processEvents();
}

void FlashWindow::checkDeviceRemoved()
{
    flashing::DfuDeviceInfo *devices = nullptr;
    if (flashing::getDfuDeviceList(&devices, k931::kDfuProduct, k931::kUsbVendor) == 0)
        close();
}
