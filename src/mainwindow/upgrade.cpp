// The firmware upgrade: download, "BOOT", wait for the DFU bootloader, write
// with progress, report, clean up.
#include "mainwindow.h"

#include "app/progress.h"
#include "download/downloadmanager.h"
#include "flashing/k931.h"
#include "flashing/programmer.h"
#include "mainwindowstate.h"
#include "ui_mainwindow.h"
#include "widgets/ledindicator.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

namespace {
constexpr int kStepDelayMs = 4000;
constexpr int kDfuPollIntervalMs = 250;

QString suffixForType(const QString &type)
{
    if (type == QLatin1String("OBD"))
        return QStringLiteral("_OBD");
    if (type == QLatin1String("OBD + Boost"))
        return QStringLiteral("_OBD_Boost");
    if (type == QLatin1String("OBD + Flex"))
        return QStringLiteral("_OBD_Flex");
    if (type == QLatin1String("OBD + Boost + Flex"))
        return QStringLiteral("_OBD_Boost_Flex");
    return QString();
}

// The model name comes from the server: only its last path part may name a
// local file, so that a name like "../x" cannot reach outside the folder.
QString localFirmwareName()
{
    return QFileInfo(firmwareFileName).fileName();
}

} // namespace

void MainWindow::deleteFirmwareFile()
{
    const QString name = localFirmwareName();
    if (!name.isEmpty() && QFile::exists(name))
        QFile::remove(name);
}

void MainWindow::on_UpgradeButton_clicked()
{
    firmwareFileName = ui->ModelBox->currentText() + suffixForType(ui->K931TypeBox->currentText())
                     + QStringLiteral(".hex");
    qDebug() << firmwareFileName;
    deleteFirmwareFile();
    ui->ProgessText->setText(tr("Baixando"));
    downloadManager->execute(firmwareBaseUrl + firmwareFileName);
    upgradeInProgress = true;
    sendBoot();
    QTimer::singleShot(kStepDelayMs, this, &MainWindow::ConnectDFUandSelectHEX);
}

// The bootloader is looked for every 250 ms with the window responsive, up
// to a limit: a device that never enters it must not freeze the window.
void MainWindow::ConnectDFUandSelectHEX()
{
    auto *poll = new QTimer(this);
    const QDeadlineTimer deadline(endpoints.dfuWaitLimitMs);
    auto attempt = [this, poll, deadline] {
        flashing::DfuDeviceInfo *devices = nullptr;
        if (flashing::getDfuDeviceList(&devices, k931::kDfuProduct, k931::kUsbVendor) > 0) {
            poll->stop();
            poll->deleteLater();
            flashing::connectDfuBootloader(devices[0].usbIndex);
            // Flashed from where it was downloaded, wherever the program started.
            firmwareFilePath = QDir::current().absoluteFilePath(localFirmwareName());
            QMessageBox::warning(this, tr("Importante"), tr("Não desconecte o aparelho"));
            QTimer::singleShot(kStepDelayMs, this, &MainWindow::DoUpgrade);
        } else if (deadline.hasExpired()) {
            poll->stop();
            poll->deleteLater();
            QMessageBox::warning(this, tr("Aviso"),
                                 tr("Aparelho não encontrado em modo de atualização.\n"
                                    "Desconecte e reconecte o aparelho e tente novamente."));
            finishUpgrade();
        }
    };
    connect(poll, &QTimer::timeout, this, attempt);
    poll->start(kDfuPollIntervalMs);
}

void MainWindow::DoUpgrade()
{
    QCoreApplication::processEvents();
    ui->progressBar->setValue(0);
    progressAccumulator = 0.0f;
    disconnect(&progressTimer, &QTimer::timeout, this, &MainWindow::advanceConnectionProgress);
    ui->ProgessText->setText(tr("Atualizando"));
    connect(&progressTimer, &QTimer::timeout, this, &MainWindow::UpdateProgressFlash, Qt::UniqueConnection);
    progressTimer.start(kProgressTickMs);

    const int result = flashing::downloadFile(reinterpret_cast<const char16_t *>(firmwareFilePath.utf16()),
                                              k931::kFlashStart, 0, 1, u"");
    if (result == 0) {
        ui->progressBar->setValue(100);
        QMessageBox::information(this, tr("Aviso"),
                                 tr("Aparelho atualizado com sucesso!\nFavor reconectar o aparelho"));
    } else if (result == flashing::kFileNotFound) {
        QMessageBox::information(this, tr("Erro"),
                                 tr("Impossivel Atualizar! Erro: ")
                                     + tr("Falta de atualização no servidor, entre em contato com a Brevanto via "
                                          "WhatsApp."));
    } else {
        QMessageBox::information(this, tr("Erro"), tr("Impossivel Atualizar! Erro: ") + QString::number(result));
    }
    finishUpgrade();
}

void MainWindow::finishUpgrade()
{
    upgradeInProgress = false;
    deviceLed->setState(false);
    ui->label_4->setText(tr("Desconectado"));
    deleteFirmwareFile();
    progressTimer.stop();
    disconnect(&progressTimer, &QTimer::timeout, this, &MainWindow::UpdateProgressFlash);
    ui->ProgessText->clear();
}

void MainWindow::UpdateProgressFlash()
{
    ui->progressBar->setValue(roundedProgress(progressAccumulator));
    QCoreApplication::processEvents();
}
