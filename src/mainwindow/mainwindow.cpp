// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow.h"

#include "keptsettings.h"

#include "settingslink.h"

#include "firmwaredescription.h"

#include "downloadmanager.h"
#include "programmer.h"
#include "mainwindowstate.h"
#include "ui_mainwindow.h"
#include "ledindicator.h"
#include "aboutwindow.h"
#include "flashwindow.h"
#include "windowlink.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>

namespace {
constexpr int kLampDiameter = 10;

// Private, with a name nobody can guess or prepare beforehand: in the
// temporary folder, or in the user's own cache when that cannot be used.
std::unique_ptr<QTemporaryDir> makeWorkFolder()
{
    // Qt gives an empty temporary path for a TMPDIR that does not exist;
    // "/tarvik-connect-…" at the root is no private folder.
    const QString temporary = QDir::tempPath();
    std::unique_ptr<QTemporaryDir> folder;
    if (!temporary.isEmpty() && QFileInfo(temporary).isDir()) {
        folder = std::make_unique<QTemporaryDir>(temporary + QStringLiteral("/tarvik-connect-XXXXXX"));
        if (folder->isValid())
            return folder;
    }
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (!cache.isEmpty() && QDir().mkpath(cache)) {
        folder = std::make_unique<QTemporaryDir>(cache + QStringLiteral("/work-XXXXXX"));
        if (folder->isValid())
            return folder;
    }
    std::fprintf(stderr, "No private folder for downloads could be made in %s or the cache folder: the update "
                         "check is skipped.\n",
                 qPrintable(QDir::tempPath()));
    return nullptr;
}
} // namespace

MainWindow::MainWindow(QWidget *parent, const MainWindowConfiguration &configurationToUse)
    : QMainWindow(parent)
    , commandTimer(new QTimer(this))
    , ui(new Ui_MainWindow)
    , flashWindow(new FlashWindow(nullptr, configurationToUse.flashWindow))
    , aboutWindow(new AboutWindow)
    , serialPort(new QSerialPort(this))
    , deviceLed(nullptr)
    , internetLed(nullptr)
    , downloadManager(new DownloadManager)
    , configuration(configurationToUse)
    , workFolder(makeWorkFolder())
    , readOut(new road::ReadOut(serialPort, road::Framing(), this))
    , upload(new road::PacedUpload(serialPort, commandTimer, configurationToUse.commandIntervalMs, this))
    , windowLink(new WindowLink(serialPort, readOut, upload, [this](const settings::Key &key) { return formName(key); },
                                this))
{
    firmwareBaseUrl = configuration.firmwareBaseUrl;
    downloadManager->setDirectory(workFilePath(QString()));
    downloadManager->setStallLimit(configuration.downloadStallLimitMs);
    ui->setupUi(this);

    deviceLed = new LedIndicator;
    deviceLed->setObjectName(QStringLiteral("deviceLamp"));
    ui->gridLayout->addWidget(deviceLed, 1, 0);
    deviceLed->setLedSize(kLampDiameter);
    deviceLed->setState(false);

    internetLed = new LedIndicator;
    internetLed->setObjectName(QStringLiteral("internetLamp"));
    ui->gridLayout_3->addWidget(internetLed, 1, 0);
    internetLed->setLedSize(kLampDiameter);
    internetLed->setState(false);

    ui->UpgradeButton->setEnabled(false);

    connect(commandTimer, &QTimer::timeout, this, &MainWindow::sendNextCommand);
    connect(ui->actionSobre, &QAction::triggered, this, &MainWindow::Sobre);
    connect(serialPort, &QSerialPort::errorOccurred, this, &MainWindow::handleError);
    connect(serialPort, &QSerialPort::readyRead, this, &MainWindow::readData);
    connect(readOut, &road::ReadOut::replied, this,
            [this](const settings::Key &, const QByteArray &chunk) { parseReply(chunk); });
    connect(readOut, &road::ReadOut::finished, this, &MainWindow::readOutFinished);
    connect(&progressTimer, &QTimer::timeout, this, &MainWindow::advanceConnectionProgress);

    portScanTimer = new QTimer(this);
    connect(portScanTimer, &QTimer::timeout, this, &MainWindow::scanForDevice);
    portScanTimer->start(configuration.portScanIntervalMs);
    connect(&internetCheckTimer, &QTimer::timeout, this, &MainWindow::checkInternet);
    internetCheckTimer.start(configuration.internetCheckIntervalMs);
    connect(&versionCheckTimer, &QTimer::timeout, this, &MainWindow::compareVersions);
    versionCheckTimer.start(configuration.versionCheckIntervalMs);

    ui->K931TypeBox->addItems(firmwareTypes());

    ui->RadioSensorType3Bar->setEnabled(false);
    ui->RadioSensorType5Bar->setEnabled(false);
}

MainWindow::~MainWindow()
{
    delete ui;
    // The process-wide timers would otherwise keep running with nothing left
    // to drive, and be torn down after the event dispatcher is gone.
    progressTimer.stop();
    internetCheckTimer.stop();
    versionCheckTimer.stop();
    if (portScanTimer && portScanTimer->parent() == this)
        portScanTimer = nullptr;
    delete flashWindow;
    delete aboutWindow;
    delete downloadManager;
}

// A window closed while a write runs would vanish with the write going on
// unseen; the user would take it as over and unplug the device.
void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!flashing::writeInProgress() && !updateHoldsTheDevice()) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    auto *box = new QMessageBox(QMessageBox::Information, tr("Aviso"), tr("Aguarde o fim da atualização"),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Not modal in the blocking sense: the write's progress keeps moving.
    box->open();
}

QString MainWindow::workFilePath(const QString &name) const
{
    // Without a folder of its own the program downloads nothing (the update
    // check does not start), rather than fall back to a shared place.
    if (!workFolder)
        return QString();
    return name.isEmpty() ? workFolder->path() : QDir(workFolder->path()).filePath(name);
}

void MainWindow::Sobre()
{
    aboutWindow->show();
    connect(aboutWindow, &AboutWindow::hiddenUpgradeButtonClicked, this, &MainWindow::bootAndOpenFlashWindow,
            Qt::UniqueConnection);
}

// From "BOOT" until the update ends the device is the update's: in its
// bootloader, being written, coming back or getting its settings again.
bool MainWindow::updateHoldsTheDevice() const
{
    return update && update->step() >= road::FirmwareUpdate::Step::Boot;
}

void MainWindow::bootAndOpenFlashWindow()
{
    // A second writer on the bootloader an update is writing.
    if (upgradeRunning || update) {
        QMessageBox::information(this, tr("Aviso"), tr("Aguarde o fim da atualização"));
        return;
    }
    // "BOOT" between two set commands would lose the rest of the upload.
    if (commandTimer->isActive()) {
        QMessageBox::information(this, tr("Aviso"), tr("Aguarde o fim do envio das configurações e tente novamente."));
        return;
    }
    keepSettingsBeforeServiceBoot();
    sendBoot();
    flashWindow->show();
}

// A firmware written from the flash window comes back with its defaults, as
// an update's does: what the device held is kept first, where the recovery
// from its bootloader finds it and offers it back.
void MainWindow::keepSettingsBeforeServiceBoot()
{
    if (!serialPort->isOpen() || !deviceAnswered)
        return;
    QString why;
    const QString path = road::keepSettings(windowLink->serialNumber(), windowLink->version(), windowLink->lambda(),
                                            windowLink->values(), why);
    qDebug().noquote() << (path.isEmpty() ? QStringLiteral("Configurações não guardadas: ") + why
                                          : QStringLiteral("Configurações guardadas em ") + path);
}
