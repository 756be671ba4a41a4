#include "update.h"

#include "device.h"
#include "downloadmanager.h"
#include "firmwaredescription.h"
#include "firmwarefile.h"
#include "flashfailure.h"
#include "programmer.h"
#include "usbids.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

#include <cstdio>
#include <optional>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// A download that moves no byte for this long has failed.
constexpr int kDownloadStallLimitMs = 30000;
// After "BOOT" the chip resets into its ROM within a second or two; the
// window waits as long.
constexpr int kBootloaderWaitMs = 30000;
constexpr int kBootloaderPollMs = 250;
// After the write the owner re-plugs the device.
constexpr int kReturnWaitMs = 60000;
constexpr int kReturnPollMs = 500;
// The application opens its port a moment before it answers.
constexpr int kApplicationStartMs = 1000;
constexpr int kBarWidth = 40;

bool progressOnTerminal()
{
#ifdef _WIN32
    return false;
#else
    return isatty(STDOUT_FILENO) != 0;
#endif
}

struct Progress {
    int percent = 0;
    int lastPrinted = -1;
    bool terminal = false;
} progress;

void drawProgress()
{
    if (progress.terminal && progress.percent != progress.lastPrinted) {
        progress.lastPrinted = progress.percent;
        const int filled = progress.percent * kBarWidth / 100;
        std::printf("\r[%s%s] %3d%%", std::string(size_t(filled), '#').c_str(),
                    std::string(size_t(kBarWidth - filled), ' ').c_str(), progress.percent);
        std::fflush(stdout);
    } else if (!progress.terminal && progress.percent / 10 != progress.lastPrinted / 10) {
        std::printf("%d%%\n", progress.percent);
        progress.lastPrinted = progress.percent;
    }
}

const flashing::DisplayCallbacks kProgressCallbacks{
    [] { progress.percent = 0; },
    [](int, const char16_t *) {},
    [](int increment, int) {
        progress.percent = std::min(100, progress.percent + increment);
        drawProgress();
    }};

QString workFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(folder);
    return folder;
}

// Fetches one file into the work folder with the window's download code.
std::optional<QString> download(const QString &url)
{
    DownloadManager manager;
    manager.setDirectory(workFolder());
    manager.setStallLimit(kDownloadStallLimitMs);
    QEventLoop loop;
    bool saved = false;
    int status = 0;
    int error = 0;
    QObject::connect(&manager, &DownloadManager::downloadEnded, &loop, [&](const QUrl &, bool ok, int s, int e) {
        saved = ok;
        status = s;
        error = e;
        loop.quit();
    });
    manager.execute(url);
    loop.exec();
    if (saved)
        return QDir(workFolder()).filePath(DownloadManager::fileNameForUrl(QUrl(url)));
    say(status == 404 ? QStringLiteral("%1 não existe no servidor: confira --model e --type.").arg(url)
                      : QStringLiteral("Falha ao baixar %1 (HTTP %2, erro de rede %3): verifique a conexão "
                                       "com a internet.")
                            .arg(url)
                            .arg(status)
                            .arg(error));
    return std::nullopt;
}

bool isFirmwareFile(const QString &path)
{
    flashing::FirmwareImage image;
    const int r = flashing::loadFirmwareFile(QFile::encodeName(path).toStdString(), k931::kFlashStart, image);
    if (r != flashing::kOk)
        say(QStringLiteral("%1: %2 (nada foi enviado)").arg(path, flashFailureReason(r, path)));
    return r == flashing::kOk;
}

// The server's file for the chosen model, or the user's own file.
std::optional<QString> firmwareFile(const UpdateRequest &request, bool &downloaded)
{
    downloaded = false;
    if (!request.file.isEmpty())
        return isFirmwareFile(request.file) ? std::optional<QString>(request.file) : std::nullopt;
    const auto descriptionPath = download(request.server + kFirmwareDescriptionName);
    if (!descriptionPath)
        return std::nullopt;
    QFile descriptionFile(*descriptionPath);
    descriptionFile.open(QIODevice::ReadOnly);
    const FirmwareDescription description = parseFirmwareDescriptionJson(descriptionFile.readAll());
    descriptionFile.remove();
    const QString model = request.model.isEmpty() && !description.models.isEmpty() ? description.models.first()
                                                                                   : request.model;
    if (!description.models.contains(model)) {
        say(QStringLiteral("O servidor não tem o modelo \"%1\"; modelos: %2.")
                .arg(model, description.models.join(QStringLiteral(", "))));
        return std::nullopt;
    }
    std::printf("Firmware %s (%s) versão %s\n", qPrintable(model), qPrintable(request.type),
                qPrintable(description.versionText));
    const auto path = download(request.server + firmwareFileFor(model, request.type));
    downloaded = path.has_value();
    if (path && !isFirmwareFile(*path)) {
        QFile::remove(*path);
        return std::nullopt;
    }
    return path;
}

std::optional<QString> waitForBootloader()
{
    const QDeadlineTimer deadline(kBootloaderWaitMs);
    while (!deadline.hasExpired()) {
        flashing::DfuDeviceInfo *list = nullptr;
        if (flashing::getDfuDeviceList(&list, k931::kDfuProduct, k931::kUsbVendor) > 0)
            return QString::fromLatin1(list[0].usbIndex);
        QThread::msleep(kBootloaderPollMs);
    }
    return std::nullopt;
}

int writeFirmware(const QString &usbIndex, const QString &path)
{
    int r = flashing::connectDfuBootloader(usbIndex.toLatin1().constData());
    if (r != flashing::kOk) {
        say(QStringLiteral("Erro ao conectar ao bootloader: %1. Rode o comando de novo depois de corrigir.")
                .arg(flashFailureReason(r, QString())));
        return kExitFailed;
    }
    progress = Progress{};
    progress.terminal = progressOnTerminal();
    flashing::setDisplayCallbacks(kProgressCallbacks);
    std::printf("Gravando %s\n", qPrintable(path));
    r = flashing::downloadFile(reinterpret_cast<const char16_t *>(path.utf16()), k931::kFlashStart, 0, 1, u"");
    if (progress.terminal)
        std::printf("\n");
    if (r != flashing::kOk) {
        say(QStringLiteral("A gravação falhou: %1 (%2). O aparelho continua no modo de atualização: "
                           "rode o comando de novo.")
                .arg(flashFailureReason(r, path))
                .arg(r));
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
    while (firstK931Port().isEmpty()) {
        if (deadline.hasExpired()) {
            say(QStringLiteral("O aparelho não voltou: reconecte-o e confira com \"tarvik-config read\"."));
            return kExitFailed;
        }
        QThread::msleep(kReturnPollMs);
    }
    QThread::msleep(kApplicationStartMs);
    const int r = openAndRead(QString(), device, readout);
    if (r == kExitOk)
        std::printf("Nova versão: %s\n", qPrintable(readout.version));
    return r;
}

QString settingsFilePath(const QString &firmwarePath)
{
    return firmwarePath + QStringLiteral(".configuracoes.json");
}

// What the new firmware does not already hold, written and read back.
int restoreSettings(Device &device, const Readout &now, const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const settings::FileContents kept = settings::fromFile(file.readAll());
    Values missing;
    for (const auto &pair : kept.values) {
        const bool sensorWithoutBoost =
            pair.first->kind == settings::Kind::Sensor && !settings::versionHasBoost(now.version);
        if (!now.values.contains(pair) && !sensorWithoutBoost)
            missing.append(pair);
    }
    const int r = missing.isEmpty() ? kExitOk : writeAndCheck(device, now.version, missing);
    if (r != kExitOk)
        return r;
    std::printf("Configurações restauradas.\n");
    file.remove();
    return kExitOk;
}

} // namespace

int updateCommand(const UpdateRequest &request)
{
    if (!request.type.isEmpty() && !firmwareTypes().contains(request.type)) {
        say(QStringLiteral("Tipo desconhecido \"%1\"; tipos: %2.")
                .arg(request.type, firmwareTypes().join(QStringLiteral(", "))));
        return kExitUsage;
    }
    bool downloaded = false;
    const auto firmware = firmwareFile(request, downloaded);
    if (!firmware)
        return request.file.isEmpty() ? kExitFailed : kExitUsage;

    // A device left in its bootloader by an earlier update is written as it
    // is; its settings cannot be read there.
    Device device;
    const bool inApplication = !request.port.isEmpty() || !firstK931Port().isEmpty();
    QString keptSettings;
    if (inApplication) {
        int r = device.open(request.port);
        Readout before;
        if (r == kExitOk && request.keepSettings) {
            keptSettings = settingsFilePath(*firmware);
            r = readAll(device, before);
            if (r == kExitOk && !saveSettingsFile(before, keptSettings))
                r = kExitFailed;
        }
        if (r != kExitOk)
            return r;
        std::printf("Enviando \"BOOT\"\n");
        device.send(QByteArrayLiteral("BOOT"));
        device.close();
    } else if (request.keepSettings) {
        say(QStringLiteral("O aparelho já está no modo de atualização: suas configurações não podem ser lidas. "
                           "Rode o comando sem --keep-settings."));
        return kExitFailed;
    }

    const auto usbIndex = waitForBootloader();
    if (!usbIndex) {
        say(QStringLiteral("O bootloader não apareceu: desconecte e reconecte o aparelho e rode o comando de novo."));
        if (!keptSettings.isEmpty())
            say(QStringLiteral("As configurações antigas continuam em %1.").arg(keptSettings));
        return kExitFailed;
    }
    int r = writeFirmware(*usbIndex, *firmware);
    if (r == kExitOk && downloaded)
        QFile::remove(*firmware);
    Readout after;
    if (r == kExitOk)
        r = waitForApplication(device, after);
    if (r == kExitOk && !keptSettings.isEmpty())
        r = restoreSettings(device, after, keptSettings);
    if (r != kExitOk && QFile::exists(keptSettings))
        say(QStringLiteral("As configurações antigas continuam em %1: restaure com \"tarvik-config import %1\".")
                .arg(keptSettings));
    return r;
}
