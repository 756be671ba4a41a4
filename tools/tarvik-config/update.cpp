// SPDX-License-Identifier: GPL-3.0-or-later
#include "update.h"

#include "bootloaderwait.h"
#include "chipserial.h"
#include "datafolder.h"
#include "keptsettings.h"
#include "mirrorfolder.h"
#include "programmer.h"
#include "settings.h"
#include "device.h"
#include "downloadfailure.h"
#include "downloadmanager.h"
#include "firmwaredescription.h"
#include "firmwarefile.h"
#include "firmwarecheck.h"
#include "firmwaresource.h"
#include "firmwarewrite.h"
#include "interruption.h"
#include "k931ports.h"
#include "ownfile.h"
#include "protocol.h"
#include "terminalprogress.h"
#include "usbids.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QNetworkReply>
#include <QUrl>

#include <cstdio>
#include <optional>

namespace {

// A download that moves no byte for this long has failed.
constexpr int kDownloadStallLimitMs = 30000;
// After the write the owner re-plugs the device.
constexpr int kReturnWaitMs = 60000;
constexpr int kReturnPollMs = 500;
// The application opens its port a moment before it answers.
constexpr int kApplicationStartMs = 1000;
// How often a wait looks whether Ctrl-C was pressed.
constexpr int kInterruptionPollMs = 100;

// Each run downloads into a folder of its own, gone when the run ends: two
// runs at once (a mirror beside an update, two cars) never take each
// other's files, and nothing is left behind.
QString workFolder()
{
    static QTemporaryDir folder(QDir(QDir::tempPath()).filePath(QStringLiteral("tarvik-config-XXXXXX")));
    return folder.isValid() ? folder.path() : QString();
}

// Runs the loop until it is quit or Ctrl-C is pressed.
void runInterruptibly(QEventLoop &loop)
{
    QTimer interruptionPoll;
    QObject::connect(&interruptionPoll, &QTimer::timeout, &loop, [&loop] {
        if (interruption::requested())
            loop.quit();
    });
    interruptionPoll.start(kInterruptionPollMs);
    loop.exec();
}

// Fetches one file into the work folder with the window's download code,
// bounded as against any source: the description and a firmware file each
// by its size, every file by the same time; a source the owner chose keeps
// its redirects on its own server.
std::optional<QString> download(const QString &url)
{
    if (workFolder().isEmpty()) {
        say(QStringLiteral("Não foi possível criar uma pasta de trabalho em %1: nada foi baixado.").arg(QDir::tempPath()));
        return std::nullopt;
    }
    DownloadManager manager;
    manager.setDirectory(workFolder());
    manager.setStallLimit(kDownloadStallLimitMs);
    // The failure is said once, below, in the user's words.
    manager.setConsoleReports(false);
    DownloadOptions options;
    options.maxBytes = url.endsWith(kFirmwareDescriptionName) ? road::kDescriptionMaxBytes : road::kFirmwareFileMaxBytes;
    options.timeLimitMs = road::kFileTimeLimitMs;
    options.sameOriginOnly = !road::isMakersServer(url);
    QEventLoop loop;
    DownloadResult result;
    QObject::connect(&manager, &DownloadManager::downloadResult, &loop, [&](const DownloadResult &ended) {
        result = ended;
        loop.quit();
    });
    manager.executeWith(url, options);
    runInterruptibly(loop);
    if (interruption::requested()) {
        manager.abortAll();
        return std::nullopt;
    }
    if (result.saved())
        return result.path;
    if (result.failure == DownloadResult::Failure::NotFound)
        say(QStringLiteral("%1 não existe %2: confira --model e --type.")
                .arg(DownloadManager::shownUrl(result.requested),
                     result.requested.isLocalFile() ? QStringLiteral("na pasta") : QStringLiteral("no servidor")));
    else
        say(downloadFailureText(result));
    return std::nullopt;
}

// A firmware file read once, judged and then written from memory: a file
// replaced on disk after its check (a sync client, a second download) is
// never what goes into the device.
struct Firmware {
    QString path;
    flashing::FirmwareImage image;
};

// Judged before "BOOT": a file the device cannot take would leave it in its
// bootloader, refusing the same write at every try.
std::optional<Firmware> readFirmware(const QString &path)
{
    Firmware firmware{path, {}};
    const FirmwareCheck check = checkFirmwareFile(path, &firmware.image);
    if (!check.ok()) {
        say(QStringLiteral("%1: %2 (nada foi enviado)").arg(path, check.reason));
        return std::nullopt;
    }
    return firmware;
}

// An address as it may be printed: never with its password.
QString shown(const QString &url)
{
    return DownloadManager::shownUrl(DownloadManager::urlForLink(url));
}

// A version as a source gave it, fit for one line of a terminal.
QString shownVersion(const QString &text)
{
    constexpr int kShownLength = 32;
    return printableName(text.left(kShownLength)) + (text.size() > kShownLength ? QStringLiteral("…") : QString());
}

struct FetchedDescription {
    FirmwareDescription description;
    QByteArray bytes;
};

// The source's data.json, judged: a model name that could not be a plain
// file name refuses the whole description before any file is fetched.
std::optional<FetchedDescription> fetchDescription(const QString &server)
{
    const auto path = download(server + kFirmwareDescriptionName);
    if (!path)
        return std::nullopt;
    QString why;
    const std::optional<QByteArray> bytes = road::readOwnFile(*path, road::kDescriptionMaxBytes, why);
    road::removeOwnFile(*path);
    if (!bytes) {
        say(QStringLiteral("%1: %2.").arg(shown(server + kFirmwareDescriptionName), why));
        return std::nullopt;
    }
    FetchedDescription fetched{parseFirmwareDescriptionJson(*bytes), *bytes};
    if (!fetched.description.hasModels) {
        say(QStringLiteral("%1 não é uma descrição de firmware (não traz a lista \"Modelo\"). Nada foi baixado.")
                .arg(shown(server + kFirmwareDescriptionName)));
        return std::nullopt;
    }
    if (!fetched.description.ok()) {
        say(QStringLiteral("%1 foi recusado: %2. Nada foi baixado.")
                .arg(shown(server + kFirmwareDescriptionName), fetched.description.problem));
        return std::nullopt;
    }
    return fetched;
}

// The server's file for the chosen model, or the user's own file.
std::optional<Firmware> firmwareFile(const UpdateRequest &request)
{
    if (!request.file.isEmpty())
        return readFirmware(request.file);
    const std::optional<FetchedDescription> fetched = fetchDescription(request.server);
    if (!fetched)
        return std::nullopt;
    const FirmwareDescription &description = fetched->description;
    const QString model = request.model.isEmpty() && !description.models.isEmpty() ? description.models.first()
                                                                                   : request.model;
    if (!description.models.contains(model)) {
        say(QStringLiteral("O servidor não tem o modelo \"%1\"; modelos: %2.")
                .arg(printableName(model), description.models.join(QStringLiteral(", "))));
        return std::nullopt;
    }
    std::printf("Firmware %s (%s) versão %s\n", qUtf8Printable(model), qUtf8Printable(request.type),
                qUtf8Printable(shownVersion(description.versionText)));
    const auto path = download(request.server + firmwareFileFor(model, request.type));
    if (!path)
        return std::nullopt;
    std::optional<Firmware> firmware = readFirmware(*path);
    // The working copy never lingers: the image is what is written.
    QFile::remove(*path);
    return firmware;
}

// Sleeps in short slices so that Ctrl-C is answered within a moment.
void pause(int ms)
{
    const QDeadlineTimer until(ms);
    while (!until.hasExpired() && !interruption::requested())
        QThread::msleep(std::min<qint64>(kInterruptionPollMs, std::max<qint64>(1, until.remainingTime())));
}

// Only a bootloader of the K931's chip: another STM32 board on the same desk
// is named once and left alone, another K931's bootloader is told apart by
// its serial number.
std::optional<QString> waitForBootloader(const QString &bootSerial)
{
    road::BootloaderWait wait;
    QEventLoop loop;
    std::optional<QString> found;
    QObject::connect(&wait, &road::BootloaderWait::bootloaderFound, &loop, [&](const QString &usbIndex) {
        found = usbIndex;
        loop.quit();
    });
    QObject::connect(&wait, &road::BootloaderWait::foreignBootloaderListed, &loop,
                     [](const QString &usbIndex, const QString &flashLayout) {
                         say(QStringLiteral("O bootloader em %1 não é de um K931 (memória \"%2\"): ele não será "
                                            "gravado.")
                                 .arg(usbIndex, flashLayout));
                     });
    QObject::connect(&wait, &road::BootloaderWait::waitExpired, &loop, [&](const QString &, const QString &reason) {
        say(reason.isEmpty() ? QStringLiteral("O bootloader não apareceu: desconecte e reconecte o aparelho e rode o "
                                              "comando de novo.")
                             : reason);
        loop.quit();
    });
    wait.start(bootSerial);
    runInterruptibly(loop);
    return found;
}

int writeFirmware(const QString &usbIndex, const Firmware &firmware, const road::CopyRequest &copy, bool &stopped)
{
    stopped = false;
    const road::Outcome connected = road::connectBootloader(usbIndex);
    if (!connected.ok()) {
        say(QStringLiteral("Erro ao conectar ao bootloader: %1. Rode o comando de novo depois de corrigir.")
                .arg(connected.reason));
        return kExitFailed;
    }
    terminalprogress::show(stdout, false);
    std::printf("Gravando %s\n", qUtf8Printable(firmware.path));
    std::fflush(stdout);
    road::WriteRequest request;
    request.image = firmware.image;
    request.path = firmware.path;
    request.copy = copy;
    request.stopRequested = [] { return interruption::requested(); };
    interruption::setWriting(true);
    const road::Outcome written = road::writeFirmware(request);
    interruption::setWriting(false);
    terminalprogress::end();
    if (!written.copyReport.isEmpty())
        std::printf("%s\n", qUtf8Printable(written.copyReport));
    stopped = written.result == flashing::kStopped;
    if (stopped)
        return kExitFailed; // said by the caller, which knows where the device is
    if (!written.ok()) {
        say(QStringLiteral("A gravação falhou: %1 (%2). O aparelho continua no modo de atualização: "
                           "rode o comando de novo.")
                .arg(written.reason)
                .arg(written.result));
        return kExitFailed;
    }
    std::printf("Firmware gravado e conferido.\n");
    return kExitOk;
}

// The K931 starts again once the owner re-plugs it.
int waitForApplication(Device &device, Readout &readout)
{
    std::printf("Desconecte e reconecte o aparelho (aguardando até %d s).\n", kReturnWaitMs / 1000);
    std::fflush(stdout);
    const QDeadlineTimer deadline(kReturnWaitMs);
    while (road::firstK931Port().isEmpty()) {
        if (interruption::requested())
            return kExitFailed;
        if (deadline.hasExpired()) {
            say(QStringLiteral("O aparelho não voltou: reconecte-o e confira com \"tarvik-config read\"."));
            return kExitFailed;
        }
        pause(kReturnPollMs);
    }
    pause(kApplicationStartMs);
    if (interruption::requested())
        return kExitFailed;
    const int r = openAndRead(QString(), device, readout);
    if (r == kExitOk)
        std::printf("Nova versão: %s\n", qUtf8Printable(readout.version));
    return r;
}

// A kept file and the device it is to go into: another device's settings,
// or settings in another unit, never go in. Asked before "BOOT" with what
// the device holds then, and again with what it holds after the update.
std::optional<road::KeptSettings> keptSettingsFor(Device &device, const QString &path)
{
    QString why;
    std::optional<road::KeptSettings> kept = road::readKeptSettings(path, why);
    if (!kept) {
        say(QStringLiteral("%1: %2").arg(path, why));
        return std::nullopt;
    }
    if (road::matchDevice(*kept, device.serialNumber()) == road::DeviceMatch::Other) {
        say(QStringLiteral("As configurações em %1 são de outro aparelho (número de série %2; este é %3): nada "
                           "foi restaurado.")
                .arg(path, kept->serial, device.serialNumber()));
        return std::nullopt;
    }
    return kept;
}

bool restoreFits(Device &device, const Readout &before, const QString &path)
{
    const std::optional<road::KeptSettings> kept = keptSettingsFor(device, path);
    if (!kept)
        return false;
    const road::SettingsFit fit = road::fitSettings(kept->contents, before.version, before.lambda);
    if (!fit.ok())
        say(QStringLiteral("%1: %2; nada foi enviado.").arg(path, fit.problem));
    return fit.ok();
}

// The kept file against the bootloader's own serial number, which the
// chip's application reports too.
bool restoreFitsChip(const QString &usbIndex, const QString &path)
{
    QString why;
    const std::optional<road::KeptSettings> kept = road::readKeptSettings(path, why);
    if (!kept) {
        say(QStringLiteral("%1: %2 (nada foi enviado)").arg(path, why));
        return false;
    }
    flashing::DfuDeviceInfo *devices = nullptr;
    const int listed = flashing::getDfuDeviceList(&devices, k931::kDfuProduct, k931::kUsbVendor);
    for (int i = 0; i < listed; ++i) {
        const QString serial = QString::fromLatin1(devices[i].serialNumber);
        if (QString::fromLatin1(devices[i].usbIndex) != usbIndex || kept->serial.isEmpty() || serial.isEmpty()
            || k931::sameChipSerial(kept->serial, serial))
            continue;
        say(QStringLiteral("As configurações em %1 são de outro aparelho (número de série %2; este é %3): nada "
                           "foi gravado.")
                .arg(path, kept->serial, serial));
        return false;
    }
    return true;
}

// What the new firmware does not already hold, written and read back; a
// setting it has no place for is named and left out. The file goes only
// when the program kept it itself and the device now holds its values.
int restoreSettings(Device &device, const Readout &now, const QString &path)
{
    const std::optional<road::KeptSettings> kept = keptSettingsFor(device, path);
    if (!kept)
        return kExitFailed;
    const std::optional<Values> importable = importableValues(kept->contents, path, now);
    if (!importable)
        return kExitFailed;
    Values missing;
    for (const auto &pair : *importable) {
        if (!now.values.contains(pair))
            missing.append(pair);
    }
    const int r = missing.isEmpty() ? kExitOk : writeAndCheck(device, now.version, missing);
    if (r != kExitOk)
        return r;
    std::printf("Configurações restauradas.\n");
    road::forgetKeptSettings(path);
    return kExitOk;
}

// Settings kept by an earlier run that did not finish are older than what
// the device holds now: they are named, never restored by themselves.
void nameEarlierKeptSettings(const QString &serial)
{
    const QList<road::KeptSettings> earlier = road::keptSettingsOf(serial);
    if (earlier.isEmpty())
        return;
    std::printf("Há configurações deste aparelho guardadas antes (%s): %s. Elas não são usadas agora; para "
                "voltar a elas: tarvik-config import \"%s\".\n",
                qUtf8Printable(road::describeKept(earlier.first())), qUtf8Printable(earlier.first().path),
                qUtf8Printable(earlier.first().path));
}

// A device in its bootloader cannot be read: which kept files there are is
// said, and the owner chooses one.
void nameKeptSettingsForRestore()
{
    QList<road::KeptSettings> all;
    const QDir dir(road::keptSettingsFolder());
    for (const QString &name : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name | QDir::Reversed)) {
        QString why;
        if (const auto kept = road::readKeptSettings(dir.filePath(name), why))
            all.append(*kept);
    }
    if (all.isEmpty())
        return;
    say(QStringLiteral("Configurações guardadas antes, a mais nova primeiro:"));
    for (const road::KeptSettings &kept : all.mid(0, 5))
        say(QStringLiteral("  %1 (%2%3)")
                .arg(kept.path, road::describeKept(kept),
                     kept.serial.isEmpty() ? QString() : QStringLiteral(", número de série %1").arg(kept.serial)));
    say(QStringLiteral("Para restaurar uma delas depois da atualização: --restore ARQUIVO em vez de --keep-settings."));
}

// One line on where a stopped update leaves the device and the settings.
int reportInterruption(bool deviceInBootloader, const QString &keptSettings, bool flashChanged = true)
{
    say(!deviceInBootloader ? QStringLiteral("Interrompido.")
        : flashChanged      ? QStringLiteral("Interrompido: o aparelho está no modo de atualização: rode o comando "
                                             "de novo.")
                            : QStringLiteral("Interrompido antes de apagar: nada foi gravado. Desconecte e "
                                             "reconecte o aparelho: ele volta com o firmware que tinha."));
    if (!keptSettings.isEmpty() && QFile::exists(keptSettings))
        say(QStringLiteral("As configurações antigas continuam em %1: restaure com \"tarvik-config import %1\".")
                .arg(keptSettings));
    return interruption::exitStatus();
}

} // namespace

int updateCommand(const UpdateRequest &request)
{
    if (!request.type.isEmpty() && !firmwareTypes().contains(request.type)) {
        say(QStringLiteral("Tipo desconhecido \"%1\"; tipos: %2.")
                .arg(request.type, firmwareTypes().join(QStringLiteral(", "))));
        return kExitUsage;
    }
    if (request.keepSettings && !request.restore.isEmpty()) {
        say(QStringLiteral("--keep-settings e --restore não vão juntos: escolha um."));
        return kExitUsage;
    }
    if (!request.restore.isEmpty()) {
        QString why;
        if (!road::readKeptSettings(request.restore, why)) {
            say(QStringLiteral("%1: %2 (nada foi enviado)").arg(request.restore, why));
            return kExitUsage;
        }
    }
    interruption::catchSignals();
    const auto firmware = firmwareFile(request);
    if (interruption::requested())
        return reportInterruption(false, QString());
    if (!firmware)
        return request.file.isEmpty() ? kExitFailed : kExitUsage;

    // A device left in its bootloader by an earlier update is written as it
    // is; its settings cannot be read there.
    Device device;
    const bool inApplication = !request.port.isEmpty() || !road::firstK931Port().isEmpty();
    QString keptSettings = request.restore;
    road::CopyRequest copy;
    QString bootSerial; // which bootloader is this device's
    if (request.backup)
        copy.folder = road::backupFolder();
    copy.origin = inApplication ? road::CopyOrigin::RunningFirmware : road::CopyOrigin::FoundInBootloader;
    if (inApplication) {
        int r = device.open(request.port);
        Readout before;
        if (r == kExitOk && !request.restore.isEmpty()) {
            r = readAll(device, before);
            if (r == kExitOk && !restoreFits(device, before, request.restore))
                r = kExitUsage;
        }
        if (r == kExitOk && request.keepSettings) {
            nameEarlierKeptSettings(device.serialNumber());
            r = readAll(device, before);
            QString why;
            if (r == kExitOk) {
                keptSettings =
                    road::keepSettings(device.serialNumber(), before.version, before.lambda, before.values, why);
                if (keptSettings.isEmpty()) {
                    say(QStringLiteral("Não foi possível guardar as configurações (%1): nada foi enviado. Rode sem "
                                       "--keep-settings para atualizar sem guardá-las.")
                            .arg(why));
                    r = kExitFailed;
                } else {
                    std::printf("Configurações guardadas em %s\n", qUtf8Printable(keptSettings));
                }
            }
        }
        if (r != kExitOk)
            return r;
        if (interruption::requested())
            return reportInterruption(false, keptSettings);
        // The copy of the firmware this update replaces is named after it.
        const std::optional<QString> version =
            before.version.isEmpty() ? device.query(settings::firstInChain()) : std::optional<QString>(before.version);
        copy.version = version.value_or(QString());
        bootSerial = device.serialNumber();
        std::printf("Enviando \"BOOT\"\n");
        device.send(protocol::bootCommand());
        device.close();
    } else if (request.keepSettings) {
        say(QStringLiteral("O aparelho já está no modo de atualização: suas configurações não podem ser lidas "
                           "agora; nada foi enviado."));
        nameKeptSettingsForRestore();
        return kExitFailed;
    }

    const auto usbIndex = waitForBootloader(bootSerial);
    if (interruption::requested())
        return reportInterruption(true, keptSettings, !inApplication);
    if (!usbIndex) {
        if (!keptSettings.isEmpty())
            say(QStringLiteral("As configurações antigas continuam em %1.").arg(keptSettings));
        return kExitFailed;
    }
    // Found in its bootloader, the device is known by the chip's serial
    // number there: another device's settings are refused before the erase.
    if (!inApplication && !request.restore.isEmpty() && !restoreFitsChip(*usbIndex, request.restore))
        return kExitUsage;
    bool stopped = false;
    int r = writeFirmware(*usbIndex, *firmware, copy, stopped);
    if (interruption::requested()) {
        if (r == kExitOk)
            say(QStringLiteral("Interrompido depois da gravação: desconecte e reconecte o aparelho."));
        // Stopped before the erase, a device sent there by "BOOT" still
        // holds its firmware; one found there may not.
        return reportInterruption(r != kExitOk, keptSettings, !stopped || !inApplication);
    }
    Readout after;
    if (r == kExitOk)
        r = waitForApplication(device, after);
    if (interruption::requested())
        return reportInterruption(false, keptSettings);
    if (r == kExitOk && !keptSettings.isEmpty())
        r = restoreSettings(device, after, keptSettings);
    // Only the program's own file is pointed to: a file the owner named is
    // where the owner put it, and may be another device's.
    if (r != kExitOk && road::isOwnKeptSettings(keptSettings) && QFile::exists(keptSettings))
        say(QStringLiteral("As configurações antigas continuam em %1: restaure com \"tarvik-config import %1\".")
                .arg(keptSettings));
    return r;
}

namespace {

// One file of the copy, fetched and checked, in its place in the new folder.
bool gatherFirmwareFile(const QString &server, const QString &name, const road::MirrorFolder &mirror)
{
    const auto path = download(server + name);
    if (!path)
        return false;
    const FirmwareCheck check = checkFirmwareFile(*path);
    if (!check.ok()) {
        QFile::remove(*path);
        say(QStringLiteral("%1: %2.").arg(shown(server + name), check.reason));
        return false;
    }
    // A rename where the work folder shares the disk, a copy where not.
    if (!QFile::rename(*path, mirror.pathFor(name))) {
        QFile::remove(*path);
        say(QStringLiteral("Não foi possível gravar %1 na pasta nova: %2.").arg(name, road::lastFileError()));
        return false;
    }
    return true;
}

int mirrorFailed(const QString &folder)
{
    if (interruption::requested()) {
        say(QStringLiteral("Interrompido: nada foi mudado em %1.").arg(folder));
        return interruption::exitStatus();
    }
    say(QStringLiteral("Nada foi mudado em %1.").arg(folder));
    return kExitFailed;
}

} // namespace

int mirrorCommand(const QString &folder, const QString &server)
{
    if (folder.isEmpty()) {
        say(QStringLiteral("mirror precisa de uma PASTA: nada foi copiado."));
        return kExitUsage;
    }
    interruption::catchSignals();
    road::MirrorFolder mirror(folder);
    QString why;
    if (!mirror.begin(why)) {
        say(QStringLiteral("Nada foi copiado: %1.").arg(why));
        return kExitFailed;
    }
    const std::optional<FetchedDescription> fetched = fetchDescription(server);
    if (!fetched)
        return mirrorFailed(folder);
    const FirmwareDescription &description = fetched->description;
    if (description.models.isEmpty()) {
        say(QStringLiteral("%1 não lista nenhum modelo.").arg(shown(server + kFirmwareDescriptionName)));
        return mirrorFailed(folder);
    }
    // Every file is fetched and judged into the new folder, one at a time;
    // the folder changes only once all of them are there.
    QStringList names;
    for (const QString &model : description.models) {
        for (const QString &type : firmwareTypes())
            names << firmwareFileFor(model, type);
    }
    for (int i = 0; i < names.size(); ++i) {
        std::printf("Baixando %s (%d de %lld)\n", qUtf8Printable(names[i]), i + 1,
                    static_cast<long long>(names.size()));
        std::fflush(stdout);
        if (interruption::requested() || !gatherFirmwareFile(server, names[i], mirror))
            return mirrorFailed(folder);
    }
    if (!road::writeOwnFile(mirror.pathFor(kFirmwareDescriptionName), fetched->bytes, why)) {
        say(QStringLiteral("Não foi possível gravar %1 na pasta nova: %2.").arg(kFirmwareDescriptionName, why));
        return mirrorFailed(folder);
    }
    QString note;
    if (interruption::requested() || !mirror.commit(names + QStringList{kFirmwareDescriptionName}, why, note)) {
        if (!why.isEmpty())
            say(why + QLatin1Char('.'));
        return mirrorFailed(folder);
    }
    if (!note.isEmpty())
        say(note);
    std::printf("Cópia da fonte em %s: %lld arquivos de firmware, versão %s. Para usá-la: tarvik-config update "
                "--source \"%s\"\n",
                qUtf8Printable(folder), static_cast<long long>(names.size()),
                qUtf8Printable(shownVersion(description.versionText)), qUtf8Printable(folder));
    return kExitOk;
}
