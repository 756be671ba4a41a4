// SPDX-License-Identifier: GPL-3.0-or-later
#include "update.h"

#include "datafolder.h"
#include "device.h"
#include "downloadmanager.h"
#include "firmwaredescription.h"
#include "bootloaderwait.h"
#include "firmwareupdate.h"
#include "interruption.h"
#include "k931ports.h"
#include "programmer.h"
#include "keptsettings.h"
#include "protocol.h"
#include "settings.h"
#include "terminalprogress.h"

#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <optional>

namespace {

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

// A device in its bootloader cannot be read: which kept files there are for
// it is said, and the owner chooses one.
void nameKeptSettingsForRestore()
{
    const QList<road::KeptSettings> all = road::keptSettingsOfChip(road::listedK931BootloaderSerial());
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

namespace {

using Update = road::FirmwareUpdate;
using Step = Update::Step;
using Failure = Update::Failure;

// The K931 as the command line reaches it: the port named (or the first
// K931's) opened when the update first asks, read whole only for the
// settings the owner asked to keep or put back, let go with "BOOT", and
// once back, the port of the K931 the update awaits (the one sent "BOOT")
// opened again, never another one on the desk.
class TerminalLink : public road::K931Link {
public:
    explicit TerminalLink(const UpdateRequest &request)
        : port(request.port), settingsWanted(request.keepSettings || !request.restore.isEmpty()),
          keeping(request.keepSettings)
    {
    }
    // What the last request gave, as an exit status; its message was said.
    int lastCode() const { return code; }
    const Readout &lastReadout() const { return readout; }

    bool present() const override
    {
        return opened || (!booted && !port.isEmpty()) || !road::firstK931Port(awaitedDevice()).isEmpty();
    }
    void readOut() override
    {
        code = booted ? openReturned() : opened ? readAll(device, readout) : openFirst();
        opened = code == kExitOk;
        if (opened)
            emit readOutCompleted();
        else
            emit linkLost(QString());
    }
    QString serialNumber() const override { return device.serialNumber(); }
    QString portName() const override
    {
        return booted || port.isEmpty() ? road::firstK931Port(awaitedDevice()) : port;
    }
    // Without a read-out, asked for alone: the copy of the firmware this
    // update replaces is named after it.
    QString version() const override
    {
        if (readout.version.isEmpty() && opened)
            readout.version = device.query(settings::firstInChain()).value_or(QString());
        return readout.version;
    }
    bool lambda() const override { return readout.lambda; }
    road::SettingValues values() const override { return readout.values; }
    bool sendBoot() override
    {
        const bool sent = device.send(protocol::bootCommand());
        device.close();
        opened = false;
        booted = true;
        return sent;
    }
    void upload(const road::SettingValues &values) override
    {
        code = writeAndCheck(device, readout.version, values);
        emit uploadEnded(code == kExitOk, QString());
    }

private:
    // An empty name would take the first K931, whichever it is.
    int openReturned()
    {
        const QString returned = road::firstK931Port(awaitedDevice());
        if (returned.isEmpty() && !awaitedDevice().isEmpty()) {
            say(QStringLiteral("O K931 atualizado (número de série %1) saiu da porta serial: reconecte-o e confira "
                               "com \"tarvik-config read\".")
                    .arg(awaitedDevice()));
            return kExitNoDevice;
        }
        return openAndRead(returned, device, readout);
    }
    int openFirst()
    {
        const int r = device.open(port);
        if (r != kExitOk || !settingsWanted)
            return r;
        if (keeping)
            nameEarlierKeptSettings(device.serialNumber());
        return readAll(device, readout);
    }

    mutable Device device;
    mutable Readout readout;
    const QString port;
    const bool settingsWanted;
    const bool keeping;
    bool opened = false;
    bool booted = false;
    int code = kExitOk;
};

// The update run in this process's event loop: the flags answer its
// questions, the terminal shows its steps, Ctrl-C stops it.
class TerminalUpdate {
public:
    TerminalUpdate(const UpdateRequest &request, TerminalLink &link) : request(request), link(link) {}
    int run();

private:
    road::UpdateOrder order() const;
    void showStep(Step step);
    void ask(Update::Question question);
    void showWrite(const road::Outcome &written);
    int exitStatus(const Update::Outcome &outcome) const;
    int stopped(const Update::Outcome &outcome) const;
    int failed(const Update::Outcome &outcome) const;
    int settingsRefused(const Update::Outcome &outcome) const;
    void showFit(const road::SettingsFit &fit, const QString &path) const;

    const UpdateRequest &request;
    TerminalLink &link;
    Update *update = nullptr;
};

road::UpdateOrder TerminalUpdate::order() const
{
    road::UpdateOrder order;
    order.server = request.server;
    order.model = request.model;
    order.type = request.type;
    order.file = request.file;
    order.workFolder = workFolder();
    order.keepSettings = request.keepSettings;
    // The owner asked for them: without them nothing is sent.
    order.settingsRequired = true;
    order.copyFirmware = request.backup;
    order.restore = request.restore;
    // A device found in its bootloader is restored only from a file named.
    order.lookForKeptSettings = false;
    order.stopRequested = [] { return interruption::requested(); };
    return order;
}

int TerminalUpdate::run()
{
    road::UpdateConfiguration configuration;
    // Nobody reads a box between the steps here.
    configuration.stepDelayMs = 0;
    Update running(&link, order(), configuration);
    update = &running;
    std::optional<Update::Outcome> outcome;
    QEventLoop loop;
    QObject::connect(&running, &Update::stepChanged, &loop, [this](Step step) { showStep(step); });
    QObject::connect(&running, &Update::questionAsked, &loop,
                     [this](Update::Question question, const QString &) { ask(question); });
    QObject::connect(&running, &Update::described, &loop, [this](const QString &model, const QString &version) {
        std::printf("Firmware %s (%s) versão %s\n", qUtf8Printable(model), qUtf8Printable(request.type),
                    qUtf8Printable(shownVersion(version)));
    });
    QObject::connect(&running, &Update::settingsKept, &loop, [](const QString &path) {
        std::printf("Configurações guardadas em %s\n", qUtf8Printable(path));
    });
    QObject::connect(&running, &Update::foreignBootloaderListed, &loop,
                     [](const QString &usbIndex, const QString &flashLayout) {
                         say(QStringLiteral("O bootloader em %1 não é de um K931 (memória \"%2\"): ele não será "
                                            "gravado.")
                                 .arg(usbIndex, flashLayout));
                     });
    QObject::connect(&running, &Update::writeEnded, &loop, [this](const road::Outcome &written) { showWrite(written); });
    QObject::connect(&running, &Update::returned, &loop, [](const QString &version) {
        std::printf("Nova versão: %s\n", qUtf8Printable(version));
    });
    QObject::connect(&running, &Update::finished, &loop, [&](const Update::Outcome &ended) {
        outcome = ended;
        loop.quit();
    });
    QTimer interruptionPoll;
    QObject::connect(&interruptionPoll, &QTimer::timeout, &running, [&running] {
        if (interruption::requested())
            running.stop();
    });
    interruptionPoll.start(interruption::kPollMs);
    running.start();
    if (!outcome)
        loop.exec();
    return exitStatus(*outcome);
}

void TerminalUpdate::showStep(Step step)
{
    switch (step) {
    case Step::Boot:
        if (update->startedInApplication())
            std::printf("Enviando \"BOOT\"\n");
        break;
    case Step::Write:
        terminalprogress::show(stdout, false);
        std::printf("Gravando %s\n", qUtf8Printable(update->firmwarePath()));
        std::fflush(stdout);
        interruption::setWriting(true);
        break;
    case Step::WaitForK931:
        std::printf("Desconecte e reconecte o aparelho (aguardando até %d s).\n",
                    road::UpdateConfiguration().returnWaitMs / 1000);
        std::fflush(stdout);
        break;
    case Step::RestoreQuestion:
        showFit(update->offer().fit, update->offer().kept.path);
        break;
    default:
        break;
    }
}

// What of the kept file stays out, as an import says it.
void TerminalUpdate::showFit(const road::SettingsFit &fit, const QString &path) const
{
    if (!fit.skipped.isEmpty())
        std::printf("Este aparelho (%s) não tem lugar para %s de %s: fica de fora.\n",
                    qUtf8Printable(link.lastReadout().version), qUtf8Printable(fit.skipped.join(QStringLiteral(", "))),
                    qUtf8Printable(path));
    if (!fit.leftAsIs.isEmpty())
        std::printf("Não estão em %s e ficam como estão: %s.\n", qUtf8Printable(path),
                    qUtf8Printable(fit.leftAsIs.join(QStringLiteral(", "))));
}

// The flags are the answers: without the settings --keep-settings asked
// for nothing is sent, a firmware copy that cannot be made is said before
// "BOOT" (and tried again at the write); kept or named settings go back.
void TerminalUpdate::ask(Update::Question question)
{
    const bool yes = question == Update::Question::RestoreKeptSettings || update->lostSettings().isEmpty();
    if (question == Update::Question::ContinueWithoutCopy && yes)
        say(QStringLiteral("Não foi possível guardar a cópia do firmware atual (%1): a atualização continua sem "
                           "ela.")
                .arg(update->lostFirmwareCopy()));
    QTimer::singleShot(0, update, [this, yes] { update->answer(yes); });
}

void TerminalUpdate::showWrite(const road::Outcome &written)
{
    interruption::setWriting(false);
    terminalprogress::end();
    if (!written.copyReport.isEmpty())
        std::printf("%s\n", qUtf8Printable(written.copyReport));
    if (written.ok())
        std::printf("Firmware gravado e conferido.\n");
    else if (written.result != flashing::kStopped) // said below, which knows where the device is
        say(QStringLiteral("A gravação falhou: %1 (%2). O aparelho continua no modo de atualização: "
                           "rode o comando de novo.")
                .arg(written.reason)
                .arg(written.result));
}

int TerminalUpdate::exitStatus(const Update::Outcome &outcome) const
{
    if (outcome.failure == Failure::Stopped)
        return stopped(outcome);
    const int r = outcome.ok() ? kExitOk : failed(outcome);
    if (r == kExitOk && outcome.restored)
        std::printf("Configurações restauradas.\n");
    // Only the program's own file is pointed to: a file the owner named is
    // where the owner put it, and may be another device's.
    if (r != kExitOk && outcome.failure != Failure::NoBootloader && outcome.keptByProgram)
        say(QStringLiteral("As configurações antigas continuam em %1: restaure com \"tarvik-config import %1\".")
                .arg(outcome.keptSettings));
    return r;
}

// Where a stopped update leaves the device and the settings.
int TerminalUpdate::stopped(const Update::Outcome &outcome) const
{
    if (outcome.written && outcome.step == Step::Write)
        say(QStringLiteral("Interrompido depois da gravação: desconecte e reconecte o aparelho."));
    return reportInterruption(outcome.inBootloader, outcome.keptSettings, outcome.flashChanged);
}

int TerminalUpdate::failed(const Update::Outcome &outcome) const
{
    switch (outcome.failure) {
    case Failure::Download:
        if (outcome.download.failure == DownloadResult::Failure::NotFound)
            say(QStringLiteral("%1 não existe %2: confira --model e --type.")
                    .arg(DownloadManager::shownUrl(outcome.download.requested),
                         outcome.download.requested.isLocalFile() ? QStringLiteral("na pasta")
                                                                  : QStringLiteral("no servidor")));
        else
            say(outcome.reason);
        return request.file.isEmpty() ? kExitFailed : kExitUsage;
    case Failure::Description:
    case Failure::NoSuchModel:
    case Failure::BadFile:
        say(outcome.reason);
        return request.file.isEmpty() ? kExitFailed : kExitUsage;
    case Failure::ReadOut:
    case Failure::NotHeld:
        return link.lastCode() == kExitOk ? kExitFailed : link.lastCode(); // said by the link
    case Failure::SettingsNotKept:
        say(outcome.reason);
        nameKeptSettingsForRestore();
        return kExitFailed;
    case Failure::Declined:
        say(QStringLiteral("Não foi possível guardar as configurações (%1): nada foi enviado. Rode sem "
                           "--keep-settings para atualizar sem guardá-las.")
                .arg(outcome.reason));
        return kExitFailed;
    case Failure::KeptUnreadable:
    case Failure::OtherDevicesSettings:
    case Failure::SettingsDoNotFit:
        return settingsRefused(outcome);
    case Failure::NoBootloader:
        say(outcome.reason.isEmpty() ? QStringLiteral("O bootloader não apareceu: desconecte e reconecte o aparelho e "
                                                      "rode o comando de novo.")
                                     : outcome.reason);
        if (!outcome.keptSettings.isEmpty())
            say(QStringLiteral("As configurações antigas continuam em %1.").arg(outcome.keptSettings));
        return kExitFailed;
    case Failure::ConnectRefused:
        say(QStringLiteral("Erro ao conectar ao bootloader: %1. Rode o comando de novo depois de corrigir.")
                .arg(outcome.reason));
        return kExitFailed;
    case Failure::WriteFailed:
        return kExitFailed; // said when the write ended
    case Failure::NeverCameBack:
        say(QStringLiteral("O aparelho não voltou: reconecte-o e confira com \"tarvik-config read\"."));
        return kExitFailed;
    default:
        say(outcome.reason);
        return kExitFailed;
    }
}

// Refused before "BOOT" or the erase, a settings file is a usage error;
// after the update it is a failure of the restore.
int TerminalUpdate::settingsRefused(const Update::Outcome &outcome) const
{
    say(outcome.reason);
    return outcome.written ? kExitFailed : kExitUsage;
}

} // namespace

namespace {

QString typesText()
{
    QStringList quoted;
    for (const QString &type : firmwareTypes())
        quoted << QLatin1Char('"') + type + QLatin1Char('"');
    return quoted.join(QStringLiteral(", "));
}

} // namespace

int updateCommand(const UpdateRequest &request)
{
    // The server keeps one file a type and none without it.
    if (request.file.isEmpty() && request.type.isEmpty()) {
        say(QStringLiteral("update precisa de --type TIPO (ou de --file ARQUIVO.hex); TIPO é um de: %1 (nada foi "
                           "baixado).")
                .arg(typesText()));
        return kExitUsage;
    }
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
    if (request.file.isEmpty() && workFolder().isEmpty()) {
        say(QStringLiteral("Não foi possível criar uma pasta de trabalho em %1: nada foi baixado.").arg(QDir::tempPath()));
        return kExitFailed;
    }
    TerminalLink link(request);
    TerminalUpdate update(request, link);
    return update.run();
}

QString workFolder()
{
    static QTemporaryDir folder(QDir(QDir::tempPath()).filePath(QStringLiteral("tarvik-config-XXXXXX")));
    return folder.isValid() ? folder.path() : QString();
}

QString shownVersion(const QString &text)
{
    constexpr int kShownLength = 32;
    return printableName(text.left(kShownLength)) + (text.size() > kShownLength ? QStringLiteral("…") : QString());
}
