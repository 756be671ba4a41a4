// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwareupdate.h"

#include "chipserial.h"
#include "datafolder.h"
#include "downloadfailure.h"
#include "firmwarecheck.h"
#include "firmwaredescription.h"
#include "firmwaresource.h"
#include "ownfile.h"
#include "programmer.h"
#include "usbids.h"

#include <QDir>
#include <QFile>
#include <QUrl>

namespace road {

namespace {

// An address as it may be said: never with its password.
QString shown(const QString &url)
{
    return DownloadManager::shownUrl(DownloadManager::urlForLink(url));
}

QString otherDeviceText(const QString &path, const QString &kept, const QString &serial, const QString &what)
{
    return QStringLiteral("As configurações em %1 são de outro aparelho (número de série %2; este é %3): nada "
                          "foi %4.")
        .arg(path, kept, serial, what);
}

} // namespace

FirmwareUpdate::FirmwareUpdate(K931Link *link, UpdateOrder order, UpdateConfiguration configuration, QObject *parent)
    : QObject(parent), link(link), order(std::move(order)), configuration(configuration)
{
    delay.setSingleShot(true);
    connect(&returnPoll, &QTimer::timeout, this, &FirmwareUpdate::lookForK931);
    // Queued: a blocking link answers before its call has returned.
    connect(link, &K931Link::readOutCompleted, this, &FirmwareUpdate::linkReadOut, Qt::QueuedConnection);
    connect(link, &K931Link::linkLost, this, &FirmwareUpdate::linkLost, Qt::QueuedConnection);
    connect(link, &K931Link::uploadEnded, this, &FirmwareUpdate::uploadEnded, Qt::QueuedConnection);
}

FirmwareUpdate::~FirmwareUpdate() = default;

QString FirmwareUpdate::deviceIdentity() const
{
    return bootSerial.isEmpty() ? bootPort : bootSerial;
}

void FirmwareUpdate::setStep(Step step)
{
    current = step;
    emit stepChanged(step);
}

bool FirmwareUpdate::stopping()
{
    if (!stopAsked && order.stopRequested && order.stopRequested())
        stopAsked = true;
    // A front end that keeps its events going during the write (the
    // window's progress) may ask in the middle of it: the write ends first.
    if (stopAsked && !ended && !writing)
        finish(Failure::Stopped);
    return ended;
}

void FirmwareUpdate::stop()
{
    stopAsked = true;
    if (downloads)
        downloads->abortAll();
    stopping();
}

void FirmwareUpdate::after(int ms, void (FirmwareUpdate::*next)())
{
    delay.disconnect();
    connect(&delay, &QTimer::timeout, this, next);
    delay.start(ms);
}

void FirmwareUpdate::finish(Failure failure, const QString &reason)
{
    if (ended)
        return;
    ended = true;
    delay.stop();
    returnPoll.stop();
    bootloaderWait.reset();
    if (downloads)
        downloads->abortAll();
    if (link)
        link->awaitDevice(QString());
    Outcome outcome;
    outcome.failure = failure;
    outcome.step = current;
    outcome.reason = reason;
    outcome.code = failedCode;
    outcome.download = failedDownload;
    outcome.fileProblem = failedFile;
    // Ended before "BOOT", the device still holds what this run kept of it.
    if (!booted) {
        forgetOwnKept(keptPath);
        keptPath.clear();
    }
    outcome.written = written;
    outcome.restored = restored;
    // Between "BOOT" and a whole write the device waits in its bootloader.
    outcome.inBootloader = booted && !written;
    // Stopped before the erase, a device sent there by "BOOT" still holds
    // its firmware; one found there may not.
    outcome.flashChanged = outcome.inBootloader && (!inApplication || (current == Step::Write && !writeStopped));
    outcome.keptSettings = !keptPath.isEmpty() && QFile::exists(keptPath) ? keptPath : QString();
    outcome.keptByProgram = keptOwn && !outcome.keptSettings.isEmpty();
    current = Step::Done;
    emit finished(outcome);
}

void FirmwareUpdate::start()
{
    if (current != Step::Idle)
        return;
    if (stopping())
        return;
    if (!order.file.isEmpty()) {
        setStep(Step::FileCheck);
        judgeFile(order.file, false);
        return;
    }
    setStep(Step::Description);
    fetch(order.server + kFirmwareDescriptionName, kDescriptionMaxBytes);
}

// Bounded as against any source: each file by its size, every file by the
// same time; a source the owner chose keeps its redirects on its own server.
void FirmwareUpdate::fetch(const QString &url, qint64 maxBytes)
{
    if (!downloads) {
        downloads = std::make_unique<DownloadManager>();
        downloads->setDirectory(order.workFolder);
        downloads->setStallLimit(configuration.downloadStallLimitMs);
        downloads->setConsoleReports(false);
        connect(downloads.get(), &DownloadManager::downloadResult, this, &FirmwareUpdate::downloaded);
    }
    DownloadOptions options;
    options.maxBytes = maxBytes;
    options.timeLimitMs = kFileTimeLimitMs;
    options.sameOriginOnly = !isMakersServer(url);
    downloads->executeWith(url, options);
}

void FirmwareUpdate::downloaded(const DownloadResult &result)
{
    if (ended || stopping())
        return;
    if (!result.saved()) {
        failedDownload = result;
        finish(Failure::Download, downloadFailureText(result));
        return;
    }
    if (current == Step::Description)
        judgeDescription(result.path);
    else
        judgeFile(result.path, true);
}

// A model name that could not be a plain file name refuses the whole
// description before any file is fetched.
void FirmwareUpdate::judgeDescription(const QString &path)
{
    const QString where = shown(order.server + kFirmwareDescriptionName);
    QString why;
    const std::optional<QByteArray> bytes = readOwnFile(path, kDescriptionMaxBytes, why);
    removeOwnFile(path);
    if (!bytes) {
        finish(Failure::Description, QStringLiteral("%1: %2.").arg(where, why));
        return;
    }
    const FirmwareDescription description = parseFirmwareDescriptionJson(*bytes);
    if (!description.hasModels) {
        finish(Failure::Description,
               QStringLiteral("%1 não é uma descrição de firmware (não traz a lista \"Modelo\"). Nada foi baixado.")
                   .arg(where));
        return;
    }
    if (!description.ok()) {
        finish(Failure::Description,
               QStringLiteral("%1 foi recusado: %2. Nada foi baixado.").arg(where, description.problem));
        return;
    }
    chosenModel = order.model.isEmpty() && !description.models.isEmpty() && !order.modelAsGiven
        ? description.models.first()
        : order.model;
    if (!order.modelAsGiven && !description.models.contains(chosenModel)) {
        // A folder source is named as what it is.
        const QUrl source(order.server);
        const QString where = source.isLocalFile()
            ? QStringLiteral("A pasta %1").arg(QDir::toNativeSeparators(source.toLocalFile()))
            : QStringLiteral("O servidor");
        finish(Failure::NoSuchModel, QStringLiteral("%1 não tem o modelo \"%2\"; modelos: %3.")
                                         .arg(where, printableName(chosenModel),
                                              description.models.join(QStringLiteral(", "))));
        return;
    }
    emit described(chosenModel, description.versionText);
    setStep(Step::Download);
    fetch(order.server + firmwareFileFor(chosenModel, order.type), kFirmwareFileMaxBytes);
}

// Read once, judged before "BOOT" and then written from memory: a file the
// device cannot take would leave it in its bootloader, and a file replaced
// on disk after its check is never what goes in.
void FirmwareUpdate::judgeFile(const QString &path, bool downloadedCopy)
{
    setStep(Step::FileCheck);
    firmware = Firmware{path, {}};
    const FirmwareCheck check = checkFirmwareFile(path, &firmware.image);
    if (downloadedCopy)
        QFile::remove(path); // the working copy never lingers: the image is what is written
    if (!check.ok()) {
        firmware.image = {};
        failedCode = check.result;
        failedFile = check.reason;
        finish(Failure::BadFile, QStringLiteral("%1: %2 (nada foi enviado)").arg(path, check.reason));
        return;
    }
    prepare();
}

// A device left in its bootloader by an earlier update is written as it
// is: it has no port, no version and no settings to read.
void FirmwareUpdate::prepare()
{
    if (stopping())
        return;
    inApplication = link && link->present();
    if (!inApplication) {
        if (order.keepSettings && order.settingsRequired) {
            finish(Failure::SettingsNotKept,
                   QStringLiteral("O aparelho já está no modo de atualização: suas configurações não podem ser "
                                  "lidas agora; nada foi enviado."));
            return;
        }
        keptPath = order.restore;
        boot();
        return;
    }
    setStep(Step::ReadOut);
    readOutValid = false;
    link->readOut();
}

void FirmwareUpdate::linkReadOut()
{
    if (ended)
        return;
    readOutValid = true;
    if (current == Step::ReadOut) {
        if (restoreFitsBefore())
            keepWhatTheDeviceHolds();
    } else if (current == Step::ReadOutAgain) {
        emit returned(link->version());
        offerKeptSettings();
    }
}

void FirmwareUpdate::linkLost(const QString &reason)
{
    readOutValid = false;
    if (ended)
        return;
    // "BOOT" lets the port go; a question waits and is checked at the answer.
    if (current == Step::ReadOut || current == Step::ReadOutAgain || current == Step::Restore)
        finish(Failure::ReadOut, reason);
}

// A named file and the device it is to go into, before "BOOT": another
// device's settings, or settings in another unit, never go in.
bool FirmwareUpdate::restoreFitsBefore()
{
    if (order.restore.isEmpty())
        return true;
    QString why;
    const std::optional<KeptSettings> kept = readKeptSettings(order.restore, why);
    if (!kept) {
        finish(Failure::KeptUnreadable, QStringLiteral("%1: %2").arg(order.restore, why));
        return false;
    }
    if (matchDevice(*kept, link->serialNumber()) == DeviceMatch::Other) {
        finish(Failure::OtherDevicesSettings,
               otherDeviceText(order.restore, kept->serial, link->serialNumber(), QStringLiteral("restaurado")));
        return false;
    }
    const SettingsFit fit = fitSettings(kept->contents, link->version(), link->lambda());
    if (!fit.ok()) {
        finish(Failure::SettingsDoNotFit, QStringLiteral("%1: %2; nada foi enviado.").arg(order.restore, fit.problem));
        return false;
    }
    keptPath = order.restore;
    return true;
}

// What "BOOT" may lose: the settings (a new firmware may come back with its
// defaults) and the firmware itself. Where either cannot be kept the owner
// decides, before anything is sent.
void FirmwareUpdate::keepWhatTheDeviceHolds()
{
    setStep(Step::KeepSettings);
    bootSerial = link->serialNumber();
    bootPort = link->portName();
    bootVersion = link->version();
    QString why;
    if (order.copyFirmware && !copiesCanBeKept(backupFolder(), why))
        lossOfCopy = why;
    if (order.keepSettings && readOutValid) {
        const QString path = keepSettings(bootSerial, bootVersion, link->lambda(), link->values(), why);
        if (path.isEmpty())
            lossOfSettings = why;
        else {
            keptOwn = true;
            emit settingsKept(keptPath = path);
        }
    }
    if (lossOfSettings.isEmpty() && lossOfCopy.isEmpty()) {
        boot();
        return;
    }
    QStringList lost;
    if (!lossOfCopy.isEmpty())
        lost << QStringLiteral("a cópia do firmware atual (%1)").arg(lossOfCopy);
    if (!lossOfSettings.isEmpty())
        lost << QStringLiteral("as configurações do aparelho (%1)").arg(lossOfSettings);
    asked = QStringLiteral("Não foi possível guardar %1.\nContinuar sem cópia?").arg(lost.join(QStringLiteral(" nem ")));
    emit questionAsked(Question::ContinueWithoutCopy, asked);
}

void FirmwareUpdate::answer(bool yes)
{
    if (ended)
        return;
    if (current == Step::KeepSettings) {
        if (!yes) {
            finish(Failure::Declined, lossOfSettings.isEmpty() ? lossOfCopy : lossOfSettings);
            return;
        }
        boot();
    } else if (current == Step::RestoreQuestion) {
        // Offered once, and only once answered: a question that never got
        // its answer (the program ended, the device went) is asked again.
        if (keptOwn)
            markKeptSettingsOffered(offered.kept);
        if (yes)
            restore();
        else
            finish(Failure::None); // the file stays for an import
    }
}

void FirmwareUpdate::boot()
{
    if (stopping())
        return;
    setStep(Step::Boot);
    booted = true;
    if (inApplication) {
        link->awaitDevice(bootSerial);
        link->sendBoot();
    }
    after(configuration.stepDelayMs, &FirmwareUpdate::waitForBootloader);
}

// Only a bootloader of the K931's chip, and with more than one K931 on the
// desk the one whose serial number "BOOT" went to.
void FirmwareUpdate::waitForBootloader()
{
    if (stopping())
        return;
    setStep(Step::WaitForBootloader);
    bootloaderWait = std::make_unique<BootloaderWait>(configuration.bootloaderWaitMs, configuration.bootloaderPollMs);
    bootloaderWait->setSettleMs(configuration.bootloaderSettleMs);
    connect(bootloaderWait.get(), &BootloaderWait::foreignBootloaderListed, this,
            &FirmwareUpdate::foreignBootloaderListed);
    connect(bootloaderWait.get(), &BootloaderWait::bootloaderFound, this, [this](const QString &usbIndex) {
        bootloaderWait.release()->deleteLater();
        connectTo(usbIndex);
    });
    connect(bootloaderWait.get(), &BootloaderWait::waitExpired, this, [this](const QString &, const QString &reason) {
        bootloaderWait.release()->deleteLater();
        finish(Failure::NoBootloader, reason);
    });
    bootloaderWait->start(inApplication ? bootSerial : QString());
}

// Found in its bootloader, the device is known by the chip's serial number
// there, which its application reports too: another device's settings are
// refused before the erase.
bool FirmwareUpdate::restoreFitsChip(const QString &usbIndex)
{
    if (inApplication || order.restore.isEmpty())
        return true;
    QString why;
    const std::optional<KeptSettings> kept = readKeptSettings(order.restore, why);
    if (!kept) {
        finish(Failure::KeptUnreadable, QStringLiteral("%1: %2 (nada foi enviado)").arg(order.restore, why));
        return false;
    }
    flashing::DfuDeviceInfo *devices = nullptr;
    const int listed = flashing::getDfuDeviceList(&devices, k931::kDfuProduct, k931::kUsbVendor);
    for (int i = 0; i < listed; ++i) {
        const QString serial = QString::fromLatin1(devices[i].serialNumber);
        if (QString::fromLatin1(devices[i].usbIndex) != usbIndex || kept->serial.isEmpty() || serial.isEmpty()
            || k931::sameChipSerial(kept->serial, serial))
            continue;
        finish(Failure::OtherDevicesSettings,
               otherDeviceText(order.restore, kept->serial, serial, QStringLiteral("gravado")));
        return false;
    }
    return true;
}

void FirmwareUpdate::connectTo(const QString &usbIndex)
{
    if (stopping() || !restoreFitsChip(usbIndex))
        return;
    const road::Outcome connected = connectBootloader(usbIndex);
    if (!connected.ok()) {
        failedCode = connected.result;
        finish(Failure::ConnectRefused, connected.reason);
        return;
    }
    // Announced once connected: the window's "do not unplug" box stands
    // before the delay.
    setStep(Step::Connect);
    after(configuration.stepDelayMs, &FirmwareUpdate::write);
}

void FirmwareUpdate::write()
{
    if (stopping())
        return;
    setStep(Step::Write);
    WriteRequest request;
    request.image = firmware.image;
    request.path = firmware.path;
    if (order.copyFirmware)
        request.copy.folder = backupFolder();
    request.copy.version = bootVersion;
    request.copy.origin = inApplication ? CopyOrigin::RunningFirmware : CopyOrigin::FoundInBootloader;
    request.stopRequested = [this] {
        return stopAsked || (order.stopRequested && order.stopRequested());
    };
    writing = true;
    const road::Outcome done = writeFirmware(request);
    writing = false;
    writeStopped = done.result == flashing::kStopped;
    written = done.ok();
    emit writeEnded(done);
    if (stopping())
        return;
    if (!done.ok()) {
        failedCode = done.result;
        finish(Failure::WriteFailed, done.reason);
        return;
    }
    waitForK931();
}

void FirmwareUpdate::waitForK931()
{
    setStep(Step::WaitForK931);
    returnDeadline = QDeadlineTimer(configuration.returnWaitMs);
    returnPoll.start(configuration.returnPollMs);
    lookForK931();
}

void FirmwareUpdate::readOutAgain()
{
    if (stopping())
        return;
    setStep(Step::ReadOutAgain);
    readOutValid = false;
    link->readOut();
}

void FirmwareUpdate::lookForK931()
{
    if (stopping() || current != Step::WaitForK931 || !returnPoll.isActive())
        return;
    if (link && link->present()) {
        returnPoll.stop();
        after(configuration.applicationStartMs, &FirmwareUpdate::readOutAgain);
        return;
    }
    if (returnDeadline.hasExpired())
        finish(Failure::NeverCameBack, QStringLiteral("O aparelho não voltou."));
}

// Only this update's own file, or the owner's, goes back; after a recovery
// in a run that kept nothing itself, what was kept for this device then is
// found in the data folder. Never an earlier update's file otherwise.
std::optional<KeptSettings> FirmwareUpdate::settingsToOffer()
{
    if (!keptPath.isEmpty()) {
        QString why;
        std::optional<KeptSettings> kept = readKeptSettings(keptPath, why);
        if (!kept)
            finish(Failure::KeptUnreadable, QStringLiteral("%1: %2").arg(keptPath, why));
        return kept;
    }
    if (!inApplication && order.lookForKeptSettings) {
        std::optional<KeptSettings> found = keptSettingsToOffer(link->serialNumber());
        keptOwn = found.has_value();
        return found;
    }
    return std::nullopt;
}

void FirmwareUpdate::offerKeptSettings()
{
    if (stopping())
        return;
    const std::optional<KeptSettings> kept = settingsToOffer();
    if (ended)
        return;
    if (!kept) {
        current = Step::Done;
        finish(Failure::None);
        return;
    }
    keptPath = kept->path;
    offered = Offer{*kept, fitSettings(kept->contents, link->version(), link->lambda()),
                    matchDevice(*kept, link->serialNumber()), {}};
    if (offered.match == DeviceMatch::Other) {
        finish(Failure::OtherDevicesSettings,
               otherDeviceText(kept->path, kept->serial, link->serialNumber(), QStringLiteral("restaurado")));
        return;
    }
    if (!offered.fit.ok()) {
        finish(Failure::SettingsDoNotFit, QStringLiteral("%1: %2; nada foi enviado.").arg(kept->path, offered.fit.problem));
        return;
    }
    const SettingValues now = link->values();
    for (const auto &pair : offered.fit.values) {
        if (!now.contains(pair))
            offered.differing.append(pair);
    }
    setStep(Step::RestoreQuestion);
    if (offered.differing.isEmpty()) {
        // The new firmware kept them: nothing to restore, nothing to keep.
        forgetOwnKept(kept->path);
        restored = true;
        current = Step::Done;
        finish(Failure::None);
        return;
    }
    askedFor = link->serialNumber().isEmpty() ? link->portName() : link->serialNumber();
    asked = QStringLiteral("A atualização mudou as configurações do aparelho.\nRestaurar as configurações anteriores?");
    emit questionAsked(Question::RestoreKeptSettings, asked);
}

// The K931 may have been pulled out and another plugged in while the
// question was open: the settings go only into the device they were
// offered for, read again, and otherwise the file stays.
void FirmwareUpdate::restore()
{
    const QString now = link && link->present() ? (link->serialNumber().isEmpty() ? link->portName()
                                                                                  : link->serialNumber())
                                                : QString();
    if (!readOutValid || now.isEmpty() || now != askedFor
        || matchDevice(offered.kept, link->serialNumber()) == DeviceMatch::Other) {
        finish(Failure::DeviceSwapped, QStringLiteral("Aparelho trocado durante a pergunta: as configurações "
                                                      "continuam em %1.")
                                           .arg(offered.kept.path));
        return;
    }
    setStep(Step::Restore);
    link->upload(offered.differing);
}

// A file the owner named stays where it is, whatever its name: only the
// program's own file has done its work once the device holds its values.
void FirmwareUpdate::forgetOwnKept(const QString &path)
{
    if (keptOwn && !path.isEmpty())
        forgetKeptSettings(path);
    keptOwn = false;
}

// Only what reads back equal counts: the file goes once the device holds it.
void FirmwareUpdate::uploadEnded(bool held, const QString &reason)
{
    if (ended || current != Step::Restore)
        return;
    if (!held) {
        finish(Failure::NotHeld, reason);
        return;
    }
    forgetOwnKept(offered.kept.path);
    restored = true;
    current = Step::Done;
    finish(Failure::None);
}

} // namespace road
