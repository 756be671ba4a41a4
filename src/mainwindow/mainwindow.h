// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: the device's settings, the update check and the firmware
// upgrade. Its member functions are split over one source file per concern:
// mainwindow.cpp (wiring), devicelink.cpp, replyparser.cpp,
// calibrationupload.cpp, updatecheck.cpp, upgrade.cpp and settingsrestore.cpp.
// The update itself is road::FirmwareUpdate's, reaching the device through
// the WindowLink of windowlink.h.
#pragma once

#include "firmwareupdate.h"
#include "windowconfiguration.h"

#include <QByteArray>
#include <QHash>
#include <QPair>
#include <QList>
#include <QMainWindow>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

QT_BEGIN_NAMESPACE
class Ui_MainWindow;
namespace settings {
struct Key;
struct FileContents;
}
QT_END_NAMESPACE

namespace flashing {
struct DfuDeviceInfo;
}

namespace road {
class ReadOut;
class PacedUpload;
}

class AboutWindow;
class WindowLink;
class DownloadManager;
class FlashWindow;
class LedIndicator;
class QCloseEvent;
class QTimer;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr,
                        const MainWindowConfiguration &configuration = MainWindowConfiguration());
    ~MainWindow() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_UpgradeButton_clicked();
    void on_SetAllCalibrations_clicked();
    void readData();
    void handleError(QSerialPort::SerialPortError error);
    void Sobre();
    void ConnectDFUandSelectHEX();
    void DoUpgrade();
    void UpdateProgressFlash();
    void sendNextCommand();

private:
    // Device link
    void scanForDevice();
    void openDevicePort();
    void advanceConnectionProgress();
    void showLinkState(bool connected);
    void sendBoot();
    void resetAfterLinkLoss();
    void abandonConnection(const QString &reason);
    bool portOpensNow();
    void lookForWaitingBootloader();
    void recheckWaitingBootloader();
    int k931BootloaderIn(const flashing::DfuDeviceInfo *devices, int listed);
    void nameForeignBootloader(const QString &usbIndex, const QString &flashLayout);
    // Reply parser
    void parseReply(QByteArray chunk);
    void readOutFinished();
    // Calibration upload
    bool validateCalibrationFields();
    void reportUploadFailure();
    // Update check
    void checkInternet();
    void fetchFirmwareDescription();
    void parseFirmwareDescription();
    void compareVersions();
    void deleteDescriptionFile();
    // Upgrade
    void deleteFirmwareFile();
    void finishUpgrade();
    void startUpdate();
    void showUpdateStep(road::FirmwareUpdate::Step step);
    void askForUpdate(road::FirmwareUpdate::Question question, const QString &text);
    void showWriteResult(const road::Outcome &written);
    void updateFinished(const road::FirmwareUpdate::Outcome &outcome);
    void reportNoBootloader(const QString &reason);
    void reportRefusedConnection(const road::FirmwareUpdate::Outcome &outcome);
    // Settings across an update
    QString formName(const settings::Key &key) const;
    void showKeptInForm(const road::SettingValues &values);
    void readOutCompleted();
    bool askToRestore();
    void reportRestore(const road::FirmwareUpdate::Outcome &outcome);
    void endSettingsRestore();
    void abandonUpgrade(const QString &reason);
    void endUpgrade();
    void showLinkAsItIs();
    void stopWaitingForBootloader();
    void offerUpgrade(bool offered);
    QString workFilePath(const QString &name) const;
    // Hidden technician path
    void bootAndOpenFlashWindow();
    void keepSettingsBeforeServiceBoot();
    bool updateHoldsTheDevice() const;

    QTimer *commandTimer;
    Ui_MainWindow *ui;
    FlashWindow *flashWindow;
    AboutWindow *aboutWindow;
    QSerialPort *serialPort;
    LedIndicator *deviceLed;
    LedIndicator *internetLed;
    DownloadManager *downloadManager;
    MainWindowConfiguration configuration;
    // The program's own files (the description, the firmware) live here,
    // never among the user's files in the working directory; null when no
    // private folder could be made (then nothing is downloaded).
    std::unique_ptr<QTemporaryDir> workFolder;
    // From the click on "Atualizar" to the end of the upgrade, whatever ends it.
    bool upgradeRunning = false;
    // Whether the rules of the update check would have the button enabled.
    bool upgradeOffered = false;
    // The device's port whose last open failed, while it stays listed.
    QString unopenablePort;
    // A bootloader is listed while no K931 port is: an update was cut short.
    bool bootloaderWaiting = false;
    // The bootloader just written stays listed until the owner re-plugs the
    // device: it is not offered for a second write meanwhile.
    bool writtenBootloaderListed = false;
    // A bootloader of another chip, named once in the log.
    QString foreignBootloaderNamed;
    // The query chain; what this connection's read-out replied, by
    // mnemonic, is the settings the device held, whatever the fields show since.
    road::ReadOut *readOut;
    // The set commands, one per turn of commandTimer.
    road::PacedUpload *upload;
    // The device on the port as the update reaches it.
    WindowLink *windowLink;
    // From the click on "Atualizar" until its settings are back, or it ended.
    road::FirmwareUpdate *update = nullptr;
    // Another chip's bootloader seen during the wait, named in its box.
    QString foreignBootloader;
    // The owner said yes to the restore: its verdict is shown.
    bool restoreAnswered = false;
};
