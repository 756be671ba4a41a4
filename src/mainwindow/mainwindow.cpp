#include "mainwindow.h"

#include "firmwaredescription.h"

#include "downloadmanager.h"
#include "programmer.h"
#include "mainwindowstate.h"
#include "ui_mainwindow.h"
#include "ledindicator.h"
#include "aboutwindow.h"
#include "flashwindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QMessageBox>
#include <QTimer>

namespace {
constexpr int kLampDiameter = 10;
} // namespace

MainWindow::MainWindow(QWidget *parent, const MainWindowConfiguration &configurationToUse)
    : QMainWindow(parent)
    , commandIndex(0)
    , commandQueue()
    , commandTimer(new QTimer(this))
    , ui(new Ui_MainWindow)
    , flashWindow(new FlashWindow(nullptr, configurationToUse.flashWindow))
    , aboutWindow(new AboutWindow)
    , serialPort(new QSerialPort(this))
    , deviceLed(nullptr)
    , internetLed(nullptr)
    , downloadManager(new DownloadManager)
    , configuration(configurationToUse)
    , workFolder(QDir::tempPath() + QStringLiteral("/tarvik-connect-XXXXXX"))
{
    firmwareBaseUrl = configuration.firmwareBaseUrl;
    downloadManager->setDirectory(workFilePath(QString()));
    downloadManager->setStallLimit(configuration.downloadStallLimitMs);
    connect(downloadManager, &DownloadManager::downloadEnded, this, &MainWindow::firmwareDownloadEnded);
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
    if (!flashing::writeInProgress()) {
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
    // Without a folder of its own the program saves nothing rather than
    // fall back to the user's files.
    const QString folder = workFolder.isValid() ? workFolder.path()
                                                : QDir::tempPath() + QStringLiteral("/tarvik-connect-unavailable");
    return name.isEmpty() ? folder : QDir(folder).filePath(name);
}

void MainWindow::Sobre()
{
    aboutWindow->show();
    connect(aboutWindow, &AboutWindow::hiddenUpgradeButtonClicked, this, &MainWindow::bootAndOpenFlashWindow,
            Qt::UniqueConnection);
}

void MainWindow::bootAndOpenFlashWindow()
{
    sendBoot();
    flashWindow->show();
}
