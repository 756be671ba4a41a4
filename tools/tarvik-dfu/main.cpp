// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik-dfu: the flashing engine on the command line, for technicians and
// measurements.
//
//   tarvik-dfu list
//   tarvik-dfu write FILE [--no-verify]
#include "firmwarefile.h"
#include "flashfailure.h"
#include "firmwarewrite.h"
#include "interruption.h"
#include "programmer.h"
#include "terminalprogress.h"
#include "usbids.h"

#include <QFile>
#include <QString>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

void printUsage(FILE *to)
{
    std::fprintf(to,
                 "Uso: tarvik-dfu list\n"
                 "  ou: tarvik-dfu write ARQUIVO [--no-verify]\n"
                 "Grava um arquivo Intel HEX (ou uma imagem .bin em 0x%08X) num aparelho\n"
                 "que espera no seu bootloader USB DFU (%04x:%04x), apagando só os setores\n"
                 "que o arquivo ocupa, e lê tudo de volta para conferir.\n"
                 "\n"
                 "Comandos:\n"
                 "  list          lista os aparelhos no modo de atualização\n"
                 "  write         grava o arquivo no primeiro deles\n"
                 "\n"
                 "Opções:\n"
                 "  --no-verify   grava sem ler de volta\n"
                 "  --help        mostra esta ajuda e sai\n"
                 "  --version     mostra a versão e sai\n"
                 "\n"
                 "Saída: 0 quando o firmware foi gravado e lido de volta idêntico (com\n"
                 "--no-verify: gravado, sem ler de volta); 1 quando não foi; 2 erro de uso;\n"
                 "130 ou 143 interrompido (Ctrl-C, SIGTERM) depois de a gravação terminar.\n",
                 k931::kFlashStart, k931::kUsbVendor, k931::kDfuProduct);
}

int usage()
{
    printUsage(stderr);
    return kExitUsage;
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

// Why a file could not be read, in the words a person would check it by.
QString unreadableReason(const std::string &path)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        return QStringLiteral("arquivo não encontrado");
    if (!S_ISREG(status.st_mode))
        return QStringLiteral("não é um arquivo comum");
    return QStringLiteral("sem permissão de leitura");
}

void say(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

// The file is judged before any device is looked for, and "invalid" comes
// with the line and the reason: a technician can fix the file.
bool fileIsFirmware(const std::string &path)
{
    flashing::FirmwareImage image;
    const int r = flashing::loadFirmwareFile(path, k931::kFlashStart, image);
    const QString name = QFile::decodeName(QByteArray::fromStdString(path));
    if (r == flashing::kFileNotFound)
        say(QStringLiteral("%1: %2").arg(name, unreadableReason(path)));
    else if (r != flashing::kOk)
        say(QStringLiteral("%1: %2").arg(name, flashFailureReason(r, name)));
    return r == flashing::kOk;
}

int write(const std::string &path, bool verify)
{
    if (!fileIsFirmware(path))
        return kExitFailed;
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
    terminalprogress::show(stderr, true);
    // A signal during the write only takes effect once the write is over:
    // the device is never left half-written by Ctrl-C.
    std::printf("Gravando %s em %s\n", path.c_str(), qPrintable(usbIndex));
    std::fflush(stdout);
    interruption::setWriting(true);
    const road::Outcome written = road::writeFirmware(QFile::decodeName(QByteArray::fromStdString(path)), verify);
    interruption::setWriting(false);
    terminalprogress::end();
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

} // namespace

int main(int argc, char **argv)
{
    flashing::setVerbosityLevel(1);
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("tarvik-dfu %s\n", TARVIK_VERSION);
        return kExitOk;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printUsage(stdout);
        return kExitOk;
    }
    if (argc >= 2 && std::strcmp(argv[1], "list") != 0 && std::strcmp(argv[1], "write") != 0) {
        std::fprintf(stderr, "tarvik-dfu: comando desconhecido \"%s\"\n", argv[1]);
        return usage();
    }
    if (argc == 2 && std::strcmp(argv[1], "list") == 0)
        return list();
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "write") == 0) {
        const bool verify = argc == 3;
        if (argc == 4 && std::strcmp(argv[3], "--no-verify") != 0)
            return usage();
        interruption::catchSignals("\nA gravação termina primeiro: não desconecte o aparelho.\n");
        return write(argv[2], verify);
    }
    return usage();
}
