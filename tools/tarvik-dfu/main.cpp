// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik-dfu: the flashing engine on the command line, for technicians and
// measurements.
//
//   tarvik-dfu list
//   tarvik-dfu write FILE [--no-verify]
#include "datafolder.h"
#include "firmwarecopies.h"
#include "firmwarecheck.h"
#include "firmwarefile.h"
#include "memorylayout.h"
#include "firmwarewrite.h"
#include "interruption.h"
#include "programmer.h"
#include "platform.h"
#include "standardoutput.h"
#include "terminalprogress.h"
#include "textcodec.h"
#include "usbids.h"

#include <QString>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

void printUsage(FILE *to)
{
    std::fprintf(to,
                 "Uso: tarvik-dfu list\n"
                 "  ou: tarvik-dfu write ARQUIVO [--no-verify] [--no-backup]\n"
                 "  ou: tarvik-dfu backups\n"
                 "Grava um arquivo Intel HEX (ou uma imagem .bin em 0x%08X) num aparelho\n"
                 "que espera no seu bootloader USB DFU (%04x:%04x), apagando só os setores\n"
                 "que o arquivo ocupa, e lê tudo de volta para conferir. Antes de apagar,\n"
                 "guarda uma cópia do que esses setores tinham (as %d mais novas ficam).\n"
                 "\n"
                 "Comandos:\n"
                 "  list          lista os aparelhos no modo de atualização\n"
                 "  write         grava o arquivo no primeiro deles\n"
                 "  backups       lista as cópias do firmware anterior, a mais nova primeiro\n"
                 "\n"
                 "Opções:\n"
                 "  --no-verify   grava sem ler de volta\n"
                 "  --no-backup   grava sem guardar antes uma cópia (placas novas)\n"
                 "  --help        mostra esta ajuda e sai\n"
                 "  --version     mostra a versão e sai\n"
                 "\n"
                 "Saída: 0 quando o firmware foi gravado e lido de volta idêntico (com\n"
                 "--no-verify: gravado, sem ler de volta); 1 quando não foi; 2 erro de uso;\n"
                 "130 ou 143 interrompido (Ctrl-C, SIGTERM, terminal fechado): antes de apagar,\n"
                 "nada é gravado; depois, a gravação termina primeiro.\n",
                 k931::kFlashStart, k931::kUsbVendor, k931::kDfuProduct, road::kFirmwareCopiesKept);
}

int usage()
{
    printUsage(stderr);
    return kExitUsage;
}

// "0-4, 7": the sectors of the K931's flash a copy covers.
std::string sectorList(const flashing::FirmwareImage &image)
{
    flashing::MemoryLayout layout;
    flashing::parseMemoryLayout(k931::kFlashLayout, layout);
    std::vector<int> indexes;
    int index = 0;
    for (const flashing::SectorRun &run : layout.runs) {
        for (uint32_t i = 0; i < run.count; ++i, ++index) {
            const uint32_t start = run.start + i * run.size;
            for (const flashing::Segment &segment : image.segments) {
                if (segment.address < uint64_t(start) + run.size && segment.end() > start) {
                    indexes.push_back(index);
                    break;
                }
            }
        }
    }
    std::string text;
    for (size_t i = 0; i < indexes.size();) {
        size_t j = i;
        while (j + 1 < indexes.size() && indexes[j + 1] == indexes[j] + 1)
            ++j;
        text += (text.empty() ? "" : ", ") + std::to_string(indexes[i])
            + (j > i ? "-" + std::to_string(indexes[j]) : std::string());
        i = j + 1;
    }
    return text;
}

// Control characters from a folder's name would rewrite the terminal's
// lines; they are shown as \xNN.
std::string printable(const QString &text)
{
    QString shown;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        shown += u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) ? QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'))
                                                                    : QString(c);
    }
    return shown.toUtf8().toStdString();
}

int backups()
{
    const QString folder = road::backupFolder();
    const road::CopyListing listing = road::listFirmwareCopies(folder);
    if (!listing.note.isEmpty())
        std::printf("%s\n", printable(listing.note).c_str());
    if (listing.copies.isEmpty()) {
        std::printf("Nenhuma cópia de firmware em %s.\n", printable(folder).c_str());
        return kExitOk;
    }
    std::printf("arquivo\tbytes\tsetores\n");
    for (const road::FirmwareCopy &copy : listing.copies) {
        flashing::FirmwareImage image;
        const bool readable =
            flashing::loadFirmwareFile(copy.path.toUtf8().toStdString(), k931::kFlashStart, image) == flashing::kOk;
        std::printf("%s\t%lld\t%s\n", printable(copy.path).c_str(), static_cast<long long>(copy.bytes),
                    readable ? sectorList(image).c_str() : "ilegível");
    }
    return kExitOk;
}

int list()
{
    flashing::DfuDeviceInfo *devices = nullptr;
    const int count = flashing::getDfuDeviceList(&devices, k931::kDfuProduct, k931::kUsbVendor);
    if (count == 0) {
        std::printf("Nenhum aparelho no modo de atualização (USB %04x:%04x).\n", k931::kUsbVendor,
                    k931::kDfuProduct);
        return kExitOk;
    }
    std::printf("USB\tnúmero de série\tproduto\n");
    for (int i = 0; i < count; ++i)
        std::printf("%s\t%s\t%s\n", devices[i].usbIndex, devices[i].serialNumber, devices[i].product);
    return kExitOk;
}

void say(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toUtf8().constData());
}

// The file is judged before any device is looked for, and "invalid" comes
// with the line and the reason: a technician can fix the file. Any chip's
// flash may be written here; the engine checks the file against the
// device's own layout.
bool readFirmware(const QString &path, flashing::FirmwareImage &image)
{
    const FirmwareCheck check = readFirmwareFile(path, &image);
    if (!check.ok())
        say(QStringLiteral("%1: %2").arg(path, check.reason));
    return check.ok();
}

int stopped()
{
    say(QStringLiteral("Interrompido: nada foi gravado."));
    return interruption::exitStatus();
}

// A file the connected chip refused before anything was erased is the
// file's fault: running the command again would only fail again. The same
// codes after an erase began leave the device without its old firmware.
bool isFileProblem(const road::Outcome &written)
{
    return !written.flashChanged
        && (written.result == flashing::kAddressOutsideFlash || written.result == flashing::kInvalidFile
            || written.result == flashing::kFileNotFound);
}

int write(const QString &name, bool verify, bool backup)
{
    // Read once: what is written is what was read here, whatever happens to
    // the file on disk meanwhile.
    road::WriteRequest request;
    if (!readFirmware(name, request.image))
        return kExitFailed;
    if (const QString warning = startWarning(request.image); !warning.isEmpty())
        say(QStringLiteral("Aviso: %1: %2; o aparelho pode não iniciar com ele.").arg(name, warning));
    if (interruption::requested())
        return stopped();
    flashing::DfuDeviceInfo *devices = nullptr;
    if (flashing::getDfuDeviceList(&devices, k931::kDfuProduct, k931::kUsbVendor) == 0) {
        say(QStringLiteral("Nenhum aparelho no modo de atualização (USB %1:%2): coloque-o no modo de atualização "
                           "(\"tarvik-config update\" faz isso com um K931) e rode o comando de novo.")
                .arg(k931::kUsbVendor, 4, 16, QLatin1Char('0'))
                .arg(k931::kDfuProduct, 4, 16, QLatin1Char('0')));
        return kExitFailed;
    }
    const QString usbIndex = QString::fromLatin1(devices[0].usbIndex);
    const road::Outcome connected = road::connectBootloader(usbIndex);
    if (!connected.ok()) {
        say(QStringLiteral("Não foi possível conectar a %1: %2 (%3).").arg(usbIndex, connected.reason).arg(connected.result));
        return kExitFailed;
    }
    if (interruption::requested())
        return stopped();
    terminalprogress::show(stderr, true);
    std::printf("Gravando %s em %s\n", flashing::utf16ToUtf8(reinterpret_cast<const char16_t *>(name.utf16())).c_str(),
                qUtf8Printable(usbIndex));
    std::fflush(stdout);
    request.path = name;
    request.verify = verify;
    if (backup)
        request.copy.folder = road::backupFolder();
    // Before the first erase a signal stops the write; after it, the write
    // ends first: the device is never left half-written by Ctrl-C.
    request.stopRequested = [] { return interruption::requested(); };
    interruption::setWriting(true);
    const road::Outcome written = road::writeFirmware(request);
    interruption::setWriting(false);
    terminalprogress::end();
    if (!written.copyReport.isEmpty())
        std::printf("%s\n", written.copyReport.toUtf8().constData());
    if (written.result == flashing::kStopped)
        return stopped();
    if (isFileProblem(written)) {
        say(QStringLiteral("%1: %2 (%3). Nada foi gravado: confira se o arquivo é para este aparelho.")
                .arg(name, written.reason)
                .arg(written.result));
        return kExitFailed;
    }
    if (!written.ok()) {
        say(QStringLiteral("A gravação falhou: %1 (%2). O aparelho continua no modo de atualização: rode o "
                           "comando de novo.")
                .arg(written.reason)
                .arg(written.result));
        return interruption::requested() ? interruption::exitStatus() : kExitFailed;
    }
    std::printf(verify ? "Firmware gravado e conferido.\n" : "Firmware gravado (sem conferir).\n");
    if (interruption::requested()) {
        say(QStringLiteral("Interrompido depois da gravação: desconecte e reconecte o aparelho."));
        return interruption::exitStatus();
    }
    return kExitOk;
}

int run(const QStringList &args)
{
    const QString command = args.value(0);
    if (args.size() == 1 && command == QLatin1String("--version")) {
        std::printf("tarvik-dfu %s\n", TARVIK_VERSION);
        return kExitOk;
    }
    if (args.size() == 1 && (command == QLatin1String("--help") || command == QLatin1String("-h"))) {
        printUsage(stdout);
        return kExitOk;
    }
    if (!args.isEmpty() && command != QLatin1String("list") && command != QLatin1String("write")
        && command != QLatin1String("backups")) {
        std::fprintf(stderr, "tarvik-dfu: comando desconhecido \"%s\"\n", qUtf8Printable(command));
        return usage();
    }
    if (args.size() == 1 && command == QLatin1String("list"))
        return list();
    if (args.size() == 1 && command == QLatin1String("backups"))
        return backups();
    if (args.size() >= 2 && command == QLatin1String("write")) {
        bool verify = true;
        bool backup = true;
        for (const QString &option : args.mid(2)) {
            if (option == QLatin1String("--no-verify") && verify)
                verify = false;
            else if (option == QLatin1String("--no-backup") && backup)
                backup = false;
            else
                return usage();
        }
        interruption::catchSignals();
        return write(args[1], verify, backup);
    }
    return usage();
}

} // namespace

int main(int argc, char **argv)
{
    interruption::ignoreBrokenPipe();
    platform::useUtf8Console();
    flashing::setVerbosityLevel(1);
    const QStringList args = platform::arguments(argc, argv);
    const int status = run(args);
    // A listing is what its command makes; a write's line only reports.
    return standardoutput::finish(status, args.value(0) != QLatin1String("write"));
}
