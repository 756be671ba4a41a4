// SPDX-License-Identifier: GPL-3.0-or-later
#include "update.h"

#include "device.h"
#include "downloadfailure.h"
#include "downloadmanager.h"
#include "firmwarecheck.h"
#include "firmwaredescription.h"
#include "firmwaresource.h"
#include "firmwareupdate.h"
#include "interruption.h"
#include "mirrorfolder.h"
#include "ownfile.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <optional>

namespace {

// Runs the loop until it is quit or Ctrl-C is pressed.
void runInterruptibly(QEventLoop &loop)
{
    QTimer interruptionPoll;
    QObject::connect(&interruptionPoll, &QTimer::timeout, &loop, [&loop] {
        if (interruption::requested())
            loop.quit();
    });
    interruptionPoll.start(interruption::kPollMs);
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
    manager.setStallLimit(road::UpdateConfiguration().downloadStallLimitMs);
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
    // A mirror copies every model and type: a file missing is the source's.
    const bool missing = result.failure == DownloadResult::Failure::NotFound;
    say(downloadFailureText(result)
        + (!missing                                   ? QString()
           : url.endsWith(kFirmwareDescriptionName) ? QStringLiteral(" Confira a fonte dada em --source.")
                                                    : QStringLiteral(" A fonte não tem todos os arquivos que o seu "
                                                                     "data.json lista: use outra fonte.")));
    return std::nullopt;
}

// An address as it may be printed: never with its password.
QString shown(const QString &url)
{
    return DownloadManager::shownUrl(DownloadManager::urlForLink(url));
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

} // namespace

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
