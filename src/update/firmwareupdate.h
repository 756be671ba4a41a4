// SPDX-License-Identifier: GPL-3.0-or-later
// One firmware update, from the source's description to the settings put
// back, as one object both front ends run on their event loop: the window
// with its boxes, tarvik-config with its flags for answers. It holds no
// widget and says nothing itself: each step is announced, each question is
// put to the front end and waits for answer(), and the end comes once, in
// finished(), with the reason in Portuguese.
//
// The K931 on its serial port is reached through a K931Link the front end
// gives; the bootloader through the flashing programmer, whose progress
// goes to the display callbacks the program installed.
//
// The window's boxes fit between the steps: a box opened in a slot of
// stepChanged(Connect) or writeEnded() holds the update there until it is
// closed ("do not unplug" before the step delay, the result before the
// wait for the re-plug); questionAsked() is answered from its box.
#pragma once

#include "bootloaderwait.h"
#include "downloadmanager.h"
#include "firmwareimage.h"
#include "firmwarewrite.h"
#include "keptsettings.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

namespace road {

// The K931 on its serial port. Requests go out as calls, their ends come
// back as signals; a blocking link may emit them before its call returns
// (the update takes them queued). The window's link is its open port and
// its read-out; tarvik-config's opens the port when first asked.
class K931Link : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // A K931 runs its application on a serial port now. Asked before
    // "BOOT" (false: found in its bootloader) and, polled, after the write.
    virtual bool present() const = 0;
    // The device read, the port opened if need be; ends in
    // readOutCompleted() or linkLost(). Its values are read whole where
    // settings are kept or put back (a link that has them answers at once).
    virtual void readOut() = 0;
    // Of the device on the port: the USB serial number (empty when it has
    // none) and the port's name.
    virtual QString serialNumber() const = 0;
    virtual QString portName() const = 0;
    // What the last completed read-out gave.
    virtual QString version() const = 0;
    virtual bool lambda() const = 0;
    virtual SettingValues values() const = 0;
    // "BOOT"; the port is let go, the device leaves it for its bootloader.
    virtual bool sendBoot() = 0;
    // The values sent with the set-command pacing, then read back; ends in
    // uploadEnded() or linkLost(). values() then holds what was read back.
    virtual void upload(const SettingValues &values) = 0;
    // From "BOOT" to the update's end, the K931 present() and readOut()
    // count is the one with this USB serial number (see k931Ports()): with
    // two on the desk, the other is never read or restored into. Empty: any.
    void awaitDevice(const QString &serial) { awaited = serial; }
    QString awaitedDevice() const { return awaited; }

signals:
    void readOutCompleted();
    void linkLost(const QString &reason);
    // `held`: every value read back as it was sent; else `reason` says
    // which did not.
    void uploadEnded(bool held, const QString &reason);

private:
    QString awaited;
};

// Every delay and bound of an update, with the window's values.
struct UpdateConfiguration {
    // After "BOOT" and between connecting and writing: the window gives the
    // owner a moment to read its boxes (tarvik-config waits none).
    int stepDelayMs = 4000;
    int bootloaderWaitMs = kBootloaderWaitMs;
    int bootloaderPollMs = kBootloaderPollMs;
    int bootloaderSettleMs = kBootloaderSettleMs;
    // After the write the owner re-plugs the device.
    int returnWaitMs = 60000;
    int returnPollMs = 500;
    // The application opens its port a moment before it answers.
    int applicationStartMs = 1000;
    // A download that moves no byte for this long has failed.
    int downloadStallLimitMs = 30000;
};

// What to update with, and how much to keep.
struct UpdateOrder {
    QString server;     // the source's base URL, ends in "/"
    QString model;      // empty: the first model the source lists
    // The window's box already holds one of the listed models, or none when
    // the source lists none: its name is asked for as it stands.
    bool modelAsGiven = false;
    QString type;       // empty: the standard file
    QString file;       // a local HEX file instead of the source's
    QString workFolder; // where downloads go, and are removed from
    bool keepSettings = true;      // what the device holds, kept before "BOOT"
    bool settingsRequired = false; // no update when they cannot be kept
    bool copyFirmware = true;      // a copy of the firmware it replaces
    QString restore;               // a settings file the owner named
    // After a recovery (found in its bootloader), what was kept for the
    // device in an earlier run is looked for in the data folder.
    bool lookForKeptSettings = true;
    // Asked at each step and just before the flash is first changed.
    std::function<bool()> stopRequested;
};

class FirmwareUpdate : public QObject {
    Q_OBJECT
public:
    enum class Step {
        Idle,
        Description,      // the source's data.json
        Download,         // the model's file
        FileCheck,        // judged before "BOOT"
        ReadOut,          // the device read before "BOOT", for its settings
        KeepSettings,     // settings and firmware copy kept, or the owner asked
        Boot,             // "BOOT" sent, the step delay runs
        WaitForBootloader, // also its connection, and the chip's serial against a named file
        Connect,          // connected, the step delay runs
        Write,            // erase, write and read back (blocking)
        WaitForK931,      // the owner re-plugs it
        ReadOutAgain,     // the updated device read
        RestoreQuestion,  // kept settings fit: asked whether to put them back
        Restore,          // uploaded and read back
        Done,
    };
    Q_ENUM(Step)

    enum class Question {
        // What cannot be kept is in lostSettings()/lostFirmwareCopy(); yes:
        // "BOOT" all the same.
        ContinueWithoutCopy,
        // offer() is to go back into the device now read out.
        RestoreKeptSettings,
    };
    Q_ENUM(Question)

    enum class Failure {
        None,
        Stopped,             // stop() or stopRequested
        Download,            // outcome.download says how
        Description,         // not a description, or refused
        NoSuchModel,
        BadFile,             // the firmware file cannot go into the device
        ReadOut,             // the device could not be read
        SettingsNotKept,     // settingsRequired and nothing could be kept
        Declined,            // "continue without copy?" answered no
        KeptUnreadable,      // the settings file cannot be read
        OtherDevicesSettings,
        SettingsDoNotFit,
        NoBootloader,        // reason empty: none came up at all
        ConnectRefused,
        WriteFailed,
        NeverCameBack,
        DeviceSwapped,       // another device on the port at the restore
        NotHeld,             // the restored values did not read back
    };
    Q_ENUM(Failure)

    struct Outcome {
        Failure failure = Failure::None;
        Step step = Step::Idle; // where it ended
        QString reason;         // in Portuguese; empty where the front end words it
        int code = 0;           // the flashing result of a failed connection, write or file check
        DownloadResult download;
        QString fileProblem;    // a refused file: the check's words alone, without its path
        bool written = false;       // the new firmware went in and read back equal
        bool restored = false;      // the kept settings are in the device
        bool inBootloader = false;  // the device was left in its bootloader
        bool flashChanged = false;  // it may no longer hold a whole firmware
        QString keptSettings;       // the settings file of this update, where one is
        bool keptByProgram = false; // it is one the program kept or found itself, not one the owner named
        bool ok() const { return failure == Failure::None; }
    };

    struct Offer {
        KeptSettings kept;
        SettingsFit fit;
        DeviceMatch match = DeviceMatch::Unknown;
        SettingValues differing; // what the device does not hold now
    };

    FirmwareUpdate(K931Link *link, UpdateOrder order, UpdateConfiguration configuration = {},
                   QObject *parent = nullptr);
    ~FirmwareUpdate() override;

    void start();
    // To the question asked last; any other moment it is ignored.
    void answer(bool yes);
    // Ends the update at once, with Failure::Stopped, in any wait or
    // download; a write under way is stopped before it first changes the
    // flash (stopRequested is asked there), once it has, it finishes first.
    void stop();

    Step step() const { return current; }
    // The device as it was when the update began: its USB serial number,
    // or its port's name where it has none; empty when found in its bootloader.
    QString deviceIdentity() const;
    QString deviceVersion() const { return bootVersion; }
    bool startedInApplication() const { return inApplication; }
    QString firmwarePath() const { return firmware.path; }
    QString lostSettings() const { return lossOfSettings; }
    QString lostFirmwareCopy() const { return lossOfCopy; }
    // The text of the question put last, in the window's words.
    QString questionText() const { return asked; }
    const Offer &offer() const { return offered; }

signals:
    void stepChanged(road::FirmwareUpdate::Step step);
    void questionAsked(road::FirmwareUpdate::Question question, const QString &text);
    // The source's description named what will be fetched.
    void described(const QString &model, const QString &versionText);
    void settingsKept(const QString &path);
    void foreignBootloaderListed(const QString &usbIndex, const QString &flashLayout);
    // The write returned: its copy report, result and reason.
    void writeEnded(const road::Outcome &written);
    // The updated device answered on its port.
    void returned(const QString &version);
    void finished(const road::FirmwareUpdate::Outcome &outcome);

private:
    struct Firmware {
        QString path;
        flashing::FirmwareImage image;
    };

    void setStep(Step step);
    bool stopping();
    void finish(Failure failure, const QString &reason = QString());
    void fetch(const QString &url, qint64 maxBytes);
    void downloaded(const DownloadResult &result);
    void judgeDescription(const QString &path);
    void judgeFile(const QString &path, bool downloadedCopy);
    void prepare();
    void linkReadOut();
    void linkLost(const QString &reason);
    void uploadEnded(bool held, const QString &reason);
    bool restoreFitsBefore();
    bool restoreFitsChip(const QString &usbIndex);
    void keepWhatTheDeviceHolds();
    void boot();
    void waitForBootloader();
    void connectTo(const QString &usbIndex);
    void write();
    void waitForK931();
    void lookForK931();
    void readOutAgain();
    void offerKeptSettings();
    std::optional<KeptSettings> settingsToOffer();
    void restore();
    void forgetOwnKept(const QString &path);
    void after(int ms, void (FirmwareUpdate::*next)());

    QPointer<K931Link> link;
    UpdateOrder order;
    UpdateConfiguration configuration;
    Step current = Step::Idle;
    bool ended = false;
    bool stopAsked = false;
    bool inApplication = false;
    bool readOutValid = false;
    bool booted = false; // sent to its bootloader, or found there
    bool writing = false;
    bool writeStopped = false;
    bool written = false;
    bool restored = false;
    Firmware firmware;
    QString chosenModel;
    QString bootSerial;
    QString bootPort;
    QString bootVersion;
    QString keptPath; // kept by this update, or named by the owner
    // keptPath is the program's own: kept in this run or found for the
    // device after a recovery. Only such a file is marked or removed.
    bool keptOwn = false;
    QString lossOfSettings;
    QString lossOfCopy;
    QString asked;
    QString askedFor; // the identity of the device the restore was asked for
    Offer offered;
    DownloadResult failedDownload;
    int failedCode = 0;
    QString failedFile;
    std::unique_ptr<DownloadManager> downloads;
    std::unique_ptr<BootloaderWait> bootloaderWait;
    QTimer delay;
    QTimer returnPoll;
    QDeadlineTimer returnDeadline;
};

} // namespace road
