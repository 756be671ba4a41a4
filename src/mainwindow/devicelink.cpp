// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the K931's serial port, opening it, the connection animation, and
// going back to scanning when the device goes away.
#include "mainwindow.h"

#include "firmwarecheck.h"
#include "k931ports.h"
#include "programmer.h"
#include "usbids.h"

#include "progress.h"
#include "mainwindowstate.h"
#include "protocol.h"
#include "settings.h"
#include "settingslink.h"
#include "ui_mainwindow.h"
#include "windowlink.h"
#include "ledindicator.h"

#include <QDebug>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QTimer>

namespace {
constexpr float kAnimationEnd = 100.0f;

// A few words that fit under the progress bar.
QString openFailureText(const QSerialPort &port)
{
    switch (port.error()) {
    case QSerialPort::PermissionError:
        return QFileInfo(QSerialPortInfo(port).systemLocation()).isWritable()
            ? MainWindow::tr("Porta ocupada")
            : MainWindow::tr("Sem permissão");
    case QSerialPort::OpenError:
        return MainWindow::tr("Porta ocupada");
    case QSerialPort::DeviceNotFoundError:
        return MainWindow::tr("Aparelho saiu");
    default:
        return MainWindow::tr("Falha na porta");
    }
}

} // namespace

void MainWindow::scanForDevice()
{
    const QList<QSerialPortInfo> ports = road::k931Ports();
    for (const QSerialPortInfo &info : ports) {
        if (info.portName() == unopenablePort && !portOpensNow())
            return;
        portName = info.portName();
        bootloaderWaiting = false;
        ui->progressBar->setTextVisible(true);
        portScanTimer->stop();
        // Precise: a coarse timer may run this long delay a quarter second late.
        QTimer::singleShot(configuration.portOpenDelayMs, Qt::PreciseTimer, this, &MainWindow::openDevicePort);
        ui->progressBar->setValue(0);
        ui->ProgessText->setText(tr("Conectando"));
        progressAccumulator = 0.0f;
        connect(&progressTimer, &QTimer::timeout, this, &MainWindow::advanceConnectionProgress,
                Qt::UniqueConnection);
        progressTimer.start(configuration.progressTickMs);
        return;
    }
    // The port that could not be opened is gone: its reason with it.
    if (!unopenablePort.isEmpty()) {
        unopenablePort.clear();
        ui->ProgessText->clear();
    }
    lookForWaitingBootloader();
}

// An update cut short (cable pulled, program closed during the wait) leaves
// the K931 in its bootloader, without a serial port: the owner is told, and
// "Atualizar" writes the firmware as usual. One listing per scan, none while
// a write may hold the device.
void MainWindow::lookForWaitingBootloader()
{
    if (upgradeRunning || flashing::writeInProgress())
        return;
    flashing::DfuDeviceInfo *devices = nullptr;
    const int listed = flashing::getDfuDeviceList(&devices, k931::kDfuProduct, k931::kUsbVendor);
    const int k931 = k931BootloaderIn(devices, listed);
    // The one just written is not offered again before it has left USB.
    if (k931 < 0)
        writtenBootloaderListed = false;
    const bool waiting = k931 >= 0 && !writtenBootloaderListed;
    if (waiting == bootloaderWaiting)
        return;
    bootloaderWaiting = waiting;
    const QString notice = tr("Aparelho em modo de atualização");
    if (waiting)
        ui->ProgessText->setText(notice);
    else if (ui->ProgessText->text() == notice)
        ui->ProgessText->clear();
    // The bar's "0%" would sit in the middle of the notice.
    ui->progressBar->setTextVisible(!waiting);
    if (waiting && ui->ModelBox->count() > 0)
        offerUpgrade(true);
}

// Another board's STM32 in its bootloader must not get the K931's firmware:
// named once in the log, never offered or written.
int MainWindow::k931BootloaderIn(const flashing::DfuDeviceInfo *devices, int listed)
{
    int k931 = firstK931Bootloader(devices, listed);
    // One that cannot be read may be the K931's: "Atualizar" then says why
    // it cannot be opened, and on Windows offers the driver.
    if (k931 < 0)
        k931 = firstUnreadableBootloader(devices, listed);
    if (listed > 0 && k931 < 0)
        nameForeignBootloader(QString::fromLatin1(devices[0].usbIndex), QString::fromLatin1(devices[0].flashLayout));
    return k931;
}

void MainWindow::nameForeignBootloader(const QString &usbIndex, const QString &flashLayout)
{
    if (foreignBootloaderNamed == usbIndex)
        return;
    foreignBootloaderNamed = usbIndex;
    qDebug() << "Bootloader" << foreignBootloaderNamed << "is not a K931's, left alone:" << flashLayout.toLatin1().constData();
}

// Looked at again from scratch: the notice, the bar's text and the offer
// follow what is listed now.
void MainWindow::recheckWaitingBootloader()
{
    bootloaderWaiting = false;
    ui->progressBar->setTextVisible(true);
    lookForWaitingBootloader();
}

// A port that could not be opened is tried at once on each scan, without the
// connection animation, so that the reason stays on screen (with the bar at
// 0) while it keeps failing; once it opens, the connection starts over as
// for a device just plugged in.
bool MainWindow::portOpensNow()
{
    serialPort->setPortName(unopenablePort);
    if (!serialPort->open(QIODevice::ReadWrite)) {
        ui->ProgessText->setText(openFailureText(*serialPort));
        ui->progressBar->setValue(0);
        return false;
    }
    serialPort->close();
    unopenablePort.clear();
    return true;
}

void MainWindow::openDevicePort()
{
    serialPort->setPortName(portName);
    if (!serialPort->open(QIODevice::ReadWrite)) {
        unopenablePort = portName;
        abandonConnection(openFailureText(*serialPort));
        return;
    }
    if (!deviceAnswered)
        readOut->start();
}

// A port that could not be opened is not a connection: back to scanning,
// with the reason where the progress words go.
void MainWindow::abandonConnection(const QString &reason)
{
    progressTimer.stop();
    ui->progressBar->setValue(0);
    showLinkState(false);
    ui->ProgessText->setText(reason);
    portScanTimer->start(configuration.portScanIntervalMs);
}

// The lamp and the status label always tell the same thing.
void MainWindow::showLinkState(bool connected)
{
    deviceLed->setState(connected);
    ui->label_4->setText(connected ? tr("Conectado") : tr("Desconectado"));
}

void MainWindow::advanceConnectionProgress()
{
    ui->progressBar->setValue(truncatedProgress(progressAccumulator));
    progressAccumulator += 1.0f;
    if (progressAccumulator > kAnimationEnd) {
        progressTimer.stop();
        showLinkState(true);
        ui->ProgessText->clear();
        progressAccumulator = kAnimationEnd;
    }
}

void MainWindow::readData()
{
    readOut->take(serialPort->readAll());
    serialPort->flush();
}

// On Linux an unplugged device shows up as a burst of ReadError (reads of a
// hung-up tty return 0); ResourceError comes only with the next write.
// Closing the port ends the burst.
void MainWindow::handleError(QSerialPort::SerialPortError error)
{
    const bool lost = error == QSerialPort::ResourceError
                   || (error == QSerialPort::ReadError && serialPort->isOpen());
    if (error == QSerialPort::WriteError && commandTimer->isActive()) {
        reportUploadFailure();
        return;
    }
    if (!lost)
        return;
    serialPort->close();
    resetAfterLinkLoss();
}

void MainWindow::resetAfterLinkLoss()
{
    // The device got only part of the upload: that must not end in "Sucesso".
    const bool uploading = commandTimer->isActive();
    ui->VersionBox->clear();
    ui->RpmShiftLightVal->clear();
    ui->TurboPressureAlertVal->clear();
    ui->SetHallmeterPobreVal->clear();
    ui->SetHallmeterRicoVal->clear();
    ui->ZerarPicoTurbo->setChecked(false);
    ui->PiscaShiftLight->setChecked(false);
    ui->LabelHallmeterLean->setText(tr("Hallmeter Mistura Pobre"));
    ui->LabelHallmeterRich->setText(tr("Hallmeter Mistura Rica"));
    ui->RadioSensorType3Bar->setEnabled(false);
    ui->RadioSensorType5Bar->setEnabled(false);
    offerUpgrade(false);
    ui->progressBar->setValue(0);
    if (!upgradeInProgress) {
        // A link lost while the animation still runs must not end in "Conectado".
        progressTimer.stop();
        showLinkState(false);
        ui->ProgessText->clear();
    }
    portScanTimer->start(configuration.portScanIntervalMs);
    deviceAnswered = false;
    readOut->forget();
    // A verdict on a restore must not reach the next device, nor a read-out
    // the update waits for end with it.
    windowLink->lost(tr("o aparelho foi desconectado"));
    versionCheckTimer.start(configuration.versionCheckIntervalMs);
    if (uploading)
        reportUploadFailure();
}

void MainWindow::sendBoot()
{
    serialPort->write(protocol::bootCommand());
}
