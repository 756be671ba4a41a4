// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik-config: the K931's settings from the command line, for installers
// and support: read what the device holds, write values and check that it
// took them, keep them in a settings file and bring them back.
#include "device.h"
#include "k931ports.h"
#include "firmwaredescription.h"
#include "firmwaresource.h"
#include "interruption.h"
#include "programmer.h"
#include "settings.h"
#include "platform.h"
#include "standardoutput.h"
#include "update.h"
#include "usbids.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QSerialPortInfo>

#include <cstdio>

namespace {

using settings::Key;

void printUsage(FILE *to)
{
    std::fprintf(to,
                 "Uso: tarvik-config devices\n"
                 "  ou: tarvik-config read [--port PORTA] [--json]\n"
                 "  ou: tarvik-config write CHAVE=VALOR... [--port PORTA]\n"
                 "  ou: tarvik-config export ARQUIVO [--port PORTA]\n"
                 "  ou: tarvik-config import ARQUIVO [--port PORTA]\n"
                 "  ou: tarvik-config update [OPÇÕES DE update] [--port PORTA]\n"
                 "  ou: tarvik-config mirror PASTA [--source FONTE]\n"
                 "Lê e muda as configurações do K931 pela sua porta serial USB e atualiza o\n"
                 "seu firmware, como o Tarvik Connect faz com a janela.\n"
                 "\n"
                 "Comandos:\n"
                 "  devices       lista as portas seriais de K931 e os bootloaders USB DFU\n"
                 "  read          mostra a versão e todas as configurações\n"
                 "  write         grava os valores dados e os lê de volta\n"
                 "  export        guarda as configurações do aparelho num arquivo\n"
                 "  import        grava as configurações de um arquivo (só o que difere)\n"
                 "  update        atualiza o firmware, do servidor ou de --file\n"
                 "  mirror        copia o data.json e todos os arquivos de firmware da fonte para\n"
                 "                PASTA, que depois serve de fonte sem internet\n"
                 "\n"
                 "Chaves:\n");
    // One line a setting, from the device's table (the shell's completion
    // reads its keys from here).
    for (const Key *key : settings::keys())
        std::fprintf(to, "  %-13s %s\n", key->name, key->summary);
    std::fprintf(to,
                 "\n"
                 "Opções:\n"
                 "  --port PORTA  a porta do aparelho (sem ela: o primeiro K931)\n"
                 "  --json        read: um objeto JSON, para scripts\n"
                 "  --model MODELO, --type TIPO\n"
                 "                update: o firmware do servidor; TIPO é \"OBD\", \"OBD + Boost\",\n"
                 "                \"OBD + Flex\" ou \"OBD + Boost + Flex\"\n"
                 "  --file ARQUIVO.hex\n"
                 "                update: um arquivo de firmware em vez do servidor\n"
                 "  --keep-settings\n"
                 "                update: guarda as configurações antes e as restaura depois\n"
                 "  --restore ARQUIVO\n"
                 "                update: depois da atualização, restaura as configurações\n"
                 "                guardadas nesse arquivo (do mesmo aparelho)\n"
                 "  --no-backup   update: grava sem guardar antes uma cópia do firmware atual\n"
                 "  --source FONTE\n"
                 "                update, mirror: o firmware vem de FONTE: um endereço https://\n"
                 "                (um espelho), uma pasta ou file:// feita por mirror, ou http://\n"
                 "                só para 127.0.0.1 (--server é o mesmo)\n"
                 "  --help        mostra esta ajuda e sai\n"
                 "  --version     mostra a versão e sai\n"
                 "\n"
                 "Saída: 0 sucesso; 1 o aparelho falhou ou não guardou um valor; 2 uso ou valor\n"
                 "inválido (nada foi enviado); 3 nenhum aparelho encontrado; 130 ou 143\n"
                 "interrompido (Ctrl-C, SIGTERM).\n");
}

int usage()
{
    printUsage(stderr);
    return kExitUsage;
}

void print(const Readout &readout, bool json)
{
    if (json) {
        const QJsonObject object = settings::toFile(readout.version, readout.lambda, readout.values);
        std::printf("%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
        return;
    }
    std::printf("Versão: %s\n", qUtf8Printable(readout.version));
    for (const auto &[key, word] : readout.values) {
        const bool mixture = settings::isMixture(*key);
        std::printf("%s=%s%s\n", key->name, qUtf8Printable(settings::displayValue(*key, word)),
                    mixture ? (readout.lambda ? " λ" : " mV") : "");
    }
}

int devices()
{
    const QList<QSerialPortInfo> ports = road::k931Ports();
    for (const QSerialPortInfo &info : ports)
        std::printf("serial\t%s\t%s\n", qUtf8Printable(info.portName()), qUtf8Printable(info.serialNumber()));
    flashing::DfuDeviceInfo *list = nullptr;
    const int bootloaders = flashing::getDfuDeviceList(&list, k931::kDfuProduct, k931::kUsbVendor);
    for (int i = 0; i < bootloaders; ++i)
        std::printf("bootloader\t%s\t%s\n", list[i].usbIndex, list[i].serialNumber);
    if (ports.isEmpty() && bootloaders == 0)
        std::printf("Nenhum aparelho encontrado.\n");
    return kExitOk;
}

struct Options {
    QString command;
    QStringList operands;
    QString port;
    bool json = false;
    UpdateRequest update;
};

bool parseOptions(QStringList args, Options &options)
{
    if (args.isEmpty())
        return false;
    // Options may come before the command too ("--port COM5 read").
    if (args.first() == QLatin1String("--help") || args.first() == QLatin1String("--version")) {
        options.command = args.takeFirst();
    }
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        QString *value = arg == QLatin1String("--port")     ? &options.port
                       : arg == QLatin1String("--model")  ? &options.update.model
                       : arg == QLatin1String("--type")   ? &options.update.type
                       : arg == QLatin1String("--file")   ? &options.update.file
                       : arg == QLatin1String("--server") ? &options.update.source
                       : arg == QLatin1String("--source") ? &options.update.source
                       : arg == QLatin1String("--restore") ? &options.update.restore
                                                          : nullptr;
        if (value && args.isEmpty())
            return false;
        // Left out, the option means the maker's server; given empty, it is
        // more likely a variable that was never set.
        if (value == &options.update.source && args.first().isEmpty()) {
            say(QStringLiteral("%1 vazio: dê uma fonte (https://..., uma pasta ou file://) ou deixe a opção de fora "
                               "para usar o servidor da Brevanto.")
                    .arg(arg));
            return false;
        }
        if (value)
            *value = args.takeFirst();
        else if (arg == QLatin1String("--json"))
            options.json = true;
        else if (arg == QLatin1String("--keep-settings"))
            options.update.keepSettings = true;
        else if (arg == QLatin1String("--no-backup"))
            options.update.backup = false;
        else if (arg.startsWith(QLatin1String("--")))
            return false;
        else if (options.command.isEmpty())
            options.command = arg;
        else
            options.operands << arg;
    }
    return !options.command.isEmpty();
}

int writeCommand(const Options &options)
{
    Values values;
    QStringList invalid;
    QList<const Key *> named;
    for (const QString &operand : options.operands) {
        const int equals = operand.indexOf(QLatin1Char('='));
        const Key *key = equals > 0 ? settings::findKey(operand.left(equals)) : nullptr;
        if (!key) {
            invalid << QStringLiteral("%1: use CHAVE=VALOR com uma chave conhecida").arg(operand);
            continue;
        }
        // Each set command is a flash write: one value a setting.
        if (named.contains(key)) {
            invalid << QStringLiteral("%1: chave repetida, dê um valor só").arg(QLatin1String(key->name));
            continue;
        }
        named << key;
        const settings::Parsed parsed = settings::parseValue(*key, operand.mid(equals + 1));
        if (parsed.error.isEmpty())
            values.append({key, parsed.word});
        else
            invalid << QStringLiteral("%1: %2").arg(QLatin1String(key->name), parsed.error);
    }
    if (values.isEmpty() && invalid.isEmpty())
        return usage();
    if (!invalid.isEmpty()) {
        say(QStringLiteral("Valor inválido (nada foi enviado):\n  ") + invalid.join(QStringLiteral("\n  ")));
        return kExitUsage;
    }
    // Stopped by a signal before the first set command, nothing is sent;
    // after it, the batch ends first.
    interruption::catchSignals();
    Device device;
    Readout readout;
    int r = openAndRead(options.port, device, readout);
    return r == kExitOk ? writeAndCheck(device, readout.version, values) : r;
}

int exportCommand(const Options &options)
{
    if (options.operands.size() != 1)
        return usage();
    Device device;
    Readout readout;
    int r = openAndRead(options.port, device, readout);
    if (r != kExitOk)
        return r;
    return saveSettingsFile(readout, options.operands.first()) ? kExitOk : kExitFailed;
}

int importCommand(const Options &options)
{
    if (options.operands.size() != 1)
        return usage();
    const QString path = options.operands.first();
    const settings::FileContents contents = readSettingsFile(path);
    if (!contents.error.isEmpty()) {
        say(QStringLiteral("%1: %2 (nada foi enviado)").arg(path, contents.error));
        return kExitUsage;
    }
    interruption::catchSignals();
    Device device;
    Readout readout;
    int r = openAndRead(options.port, device, readout);
    if (r != kExitOk)
        return r;
    const std::optional<Values> importable = importableValues(contents, path, readout);
    if (!importable)
        return kExitUsage;
    // Each set command is a flash write in the device: only what differs.
    Values differing;
    for (const auto &pair : *importable) {
        if (!readout.values.contains(pair))
            differing.append(pair);
    }
    if (differing.isEmpty()) {
        std::printf("O aparelho já tem as configurações de %s: nada foi enviado.\n", qUtf8Printable(path));
        return kExitOk;
    }
    return writeAndCheck(device, readout.version, differing);
}

int readCommand(const Options &options)
{
    if (!options.operands.isEmpty())
        return usage();
    Device device;
    Readout readout;
    int r = openAndRead(options.port, device, readout);
    if (r == kExitOk)
        print(readout, options.json);
    return r;
}

int runCommand(Options &options)
{
    if (options.command == QLatin1String("--version")) {
        std::printf("tarvik-config %s\n", TARVIK_VERSION);
        return kExitOk;
    }
    if (options.command == QLatin1String("--help")) {
        printUsage(stdout);
        return kExitOk;
    }
    if (options.command == QLatin1String("devices"))
        return devices();
    if (options.command == QLatin1String("read"))
        return readCommand(options);
    if (options.command == QLatin1String("write"))
        return writeCommand(options);
    if (options.command == QLatin1String("export"))
        return exportCommand(options);
    if (options.command == QLatin1String("import"))
        return importCommand(options);
    const bool update = options.command == QLatin1String("update") && options.operands.isEmpty();
    const bool mirror = options.command == QLatin1String("mirror") && options.operands.size() == 1;
    if (update || mirror) {
        const road::FirmwareSource source = road::firmwareSource(options.update.source);
        if (!source.ok()) {
            say(QStringLiteral("--source: %1 (nada foi %2)")
                    .arg(source.error, update ? QStringLiteral("enviado") : QStringLiteral("copiado")));
            return kExitUsage;
        }
        options.update.server = source.baseUrl;
        options.update.port = options.port;
        return update ? updateCommand(options.update) : mirrorCommand(options.operands.first(), source.baseUrl);
    }
    say(QStringLiteral("tarvik-config: comando desconhecido \"%1\"").arg(options.command));
    return usage();
}

// The commands whose product is what they print.
bool printsItsProduct(const QString &command)
{
    static const QStringList listings = {QStringLiteral("read"), QStringLiteral("devices"), QStringLiteral("--help"),
                                         QStringLiteral("--version")};
    return listings.contains(command);
}

} // namespace

int main(int argc, char **argv)
{
    interruption::ignoreBrokenPipe();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvik-config"));
    Options options;
    platform::useUtf8Console();
    if (!parseOptions(platform::arguments(argc, argv), options))
        return usage();
    const int status = runCommand(options);
    return standardoutput::finish(status, printsItsProduct(options.command));
}
