// tarvik-config: the K931's settings from the command line, for installers
// and support: read what the device holds, write values and check that it
// took them, keep them in a settings file and bring them back.
#include "programmer.h"
#include "settings.h"
#include "usbids.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitNoDevice = 3 };

// A reply comes within milliseconds; a device that says nothing for this long
// is not going to.
constexpr int kReplyTimeoutMs = 1500;
// A USB serial reply arrives within a frame or two; this much silence after
// its first value byte means it is complete.
constexpr int kReplyQuietMs = 15;

using settings::Key;
using Values = QList<QPair<const Key *, quint32>>;

void say(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

void printUsage(FILE *to)
{
    std::fprintf(to,
                 "usage: tarvik-config devices\n"
                 "       tarvik-config read [--port NAME] [--json]\n"
                 "       tarvik-config write KEY=VALUE... [--port NAME]\n"
                 "       tarvik-config export FILE [--port NAME]\n"
                 "       tarvik-config import FILE [--port NAME]\n"
                 "Keys: rpm (inteiro), turbo, rich, lean (número com ponto), blink, turbo-reset\n"
                 "(0 ou 1), sensor (3bar ou 5bar, só com Boost).\n"
                 "Saída: 0 sucesso; 1 o aparelho falhou ou não guardou um valor; 2 uso ou valor\n"
                 "inválido (nada foi enviado); 3 nenhum aparelho encontrado.\n");
}

int usage()
{
    printUsage(stderr);
    return kExitUsage;
}

bool isK931(const QSerialPortInfo &info)
{
    return info.vendorIdentifier() == k931::kUsbVendor && info.productIdentifier() == k931::kSerialProduct;
}

class Device {
public:
    // An empty name takes the first K931 port.
    int open(QString name)
    {
        if (name.isEmpty()) {
            for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
                if (isK931(info)) {
                    name = info.portName();
                    break;
                }
            }
        }
        if (name.isEmpty()) {
            say(QStringLiteral("Nenhum K931 encontrado: conecte o aparelho pelo USB "
                               "(ou veja \"tarvik-config devices\")."));
            return kExitNoDevice;
        }
        port.setPortName(name);
        if (!port.open(QIODevice::ReadWrite)) {
            say(QStringLiteral("Não foi possível abrir %1: %2. %3")
                    .arg(name, port.errorString(),
                         port.error() == QSerialPort::PermissionError
                             ? QStringLiteral("Instale as regras udev do README.")
                             : QStringLiteral("Feche o outro programa que usa a porta.")));
            return kExitFailed;
        }
        return kExitOk;
    }

    // The reply to one query, or nothing within the time limit. A reply has
    // no end mark and may come in pieces: it is whole once the line has been
    // quiet for a moment after its value began.
    std::optional<QString> query(protocol::Mnemonic mnemonic)
    {
        port.readAll();
        port.write(protocol::query(mnemonic));
        QElapsedTimer clock;
        clock.start();
        QByteArray chunk;
        while (clock.elapsed() < kReplyTimeoutMs && port.isOpen()) {
            const bool valueBegun = protocol::recognise(chunk) == mnemonic && chunk.startsWith('>')
                                 && !protocol::valueText(chunk).trimmed().isEmpty();
            const int wait = valueBegun ? kReplyQuietMs : int(kReplyTimeoutMs - clock.elapsed());
            if (port.waitForReadyRead(std::max(wait, 1)))
                chunk += port.readAll();
            else if (valueBegun)
                return protocol::valueText(chunk).trimmed();
        }
        return std::nullopt;
    }

    bool send(const QByteArray &command)
    {
        return port.write(command) == command.size() && port.waitForBytesWritten(kReplyTimeoutMs);
    }

private:
    QSerialPort port;
};

struct Readout {
    QString version;
    bool lambda = false; // mixture thresholds in λ, otherwise in mV
    Values values;
};

int readAll(Device &device, Readout &out)
{
    const auto version = device.query(protocol::Mnemonic::Vers);
    if (!version) {
        say(QStringLiteral("O aparelho não respondeu a \"?VERS\": desconecte e reconecte o aparelho."));
        return kExitFailed;
    }
    out.version = *version;
    const auto lambda = device.query(protocol::Mnemonic::Sont);
    out.lambda = lambda && *lambda == QLatin1String("1");
    for (const Key &key : settings::keys()) {
        if (key.kind == settings::Kind::Sensor && !settings::versionHasBoost(out.version))
            continue;
        const auto text = device.query(key.mnemonic);
        const std::optional<quint32> word = text ? settings::wordOfReply(key, *text) : std::nullopt;
        if (!word) {
            say(QStringLiteral("Resposta inválida ou ausente para %1: desconecte e reconecte o aparelho.")
                    .arg(QLatin1String(key.name)));
            return kExitFailed;
        }
        out.values.append({&key, *word});
    }
    return kExitOk;
}

void print(const Readout &readout, bool json)
{
    if (json) {
        QJsonObject object = settings::toFile(readout.version, readout.values);
        object.insert(QStringLiteral("unit"), readout.lambda ? QStringLiteral("lambda") : QStringLiteral("mV"));
        std::printf("%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
        return;
    }
    std::printf("Versão: %s\n", qPrintable(readout.version));
    for (const auto &[key, word] : readout.values) {
        const bool mixture = key->mnemonic == protocol::Mnemonic::Halr || key->mnemonic == protocol::Mnemonic::Halp;
        std::printf("%s=%s%s\n", key->name, qPrintable(settings::displayValue(*key, word)),
                    mixture ? (readout.lambda ? " λ" : " mV") : "");
    }
}

// The window's pacing, then every value read back: the device must hold
// exactly the 32-bit word that was sent.
int writeAndCheck(Device &device, const QString &version, const Values &requested)
{
    Values values;
    for (const Key &key : settings::keys()) {
        for (const auto &pair : requested) {
            if (pair.first == &key)
                values.append(pair);
        }
    }
    for (const auto &pair : values) {
        if (pair.first->kind == settings::Kind::Sensor && !settings::versionHasBoost(version)) {
            say(QStringLiteral("sensor: este aparelho (%1) não tem Boost; nada foi enviado.").arg(version));
            return kExitUsage;
        }
    }
    for (int i = 0; i < values.size(); ++i) {
        if (i > 0)
            QThread::msleep(protocol::kSetCommandSpacingMs);
        if (!device.send(settings::setCommand(*values[i].first, values[i].second))) {
            say(QStringLiteral("Falha ao enviar %1: verifique a conexão.").arg(QLatin1String(values[i].first->name)));
            return kExitFailed;
        }
    }
    QThread::msleep(protocol::kSetCommandSpacingMs);
    QStringList notTaken;
    for (const auto &[key, word] : values) {
        const auto text = device.query(key->mnemonic);
        const std::optional<quint32> held = text ? settings::wordOfReply(*key, *text) : std::nullopt;
        if (held != word)
            notTaken << QStringLiteral("%1 (enviado %2, lido %3)")
                            .arg(QLatin1String(key->name), settings::displayValue(*key, word),
                                 text ? *text : QStringLiteral("nada"));
    }
    if (!notTaken.isEmpty()) {
        say(QStringLiteral("O aparelho não guardou: %1").arg(notTaken.join(QStringLiteral(", "))));
        return kExitFailed;
    }
    std::printf("Gravado e conferido: %lld valor(es).\n", static_cast<long long>(values.size()));
    return kExitOk;
}

int devices()
{
    bool any = false;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        if (isK931(info)) {
            std::printf("serial\t%s\t%s\n", qPrintable(info.portName()), qPrintable(info.serialNumber()));
            any = true;
        }
    }
    flashing::DfuDeviceInfo *list = nullptr;
    const int bootloaders = flashing::getDfuDeviceList(&list, k931::kDfuProduct, k931::kUsbVendor);
    for (int i = 0; i < bootloaders; ++i)
        std::printf("bootloader\t%s\t%s\n", list[i].usbIndex, list[i].serialNumber);
    if (!any && bootloaders == 0)
        std::printf("Nenhum aparelho encontrado.\n");
    return kExitOk;
}

struct Options {
    QString command;
    QStringList operands;
    QString port;
    bool json = false;
};

bool parseOptions(QStringList args, Options &options)
{
    if (args.isEmpty())
        return false;
    options.command = args.takeFirst();
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        if (arg == QLatin1String("--port") && !args.isEmpty())
            options.port = args.takeFirst();
        else if (arg == QLatin1String("--json"))
            options.json = true;
        else if (arg.startsWith(QLatin1String("--")))
            return false;
        else
            options.operands << arg;
    }
    return true;
}

int writeCommand(const Options &options)
{
    Values values;
    QStringList invalid;
    for (const QString &operand : options.operands) {
        const int equals = operand.indexOf(QLatin1Char('='));
        const Key *key = equals > 0 ? settings::findKey(operand.left(equals)) : nullptr;
        if (!key) {
            invalid << QStringLiteral("%1: use CHAVE=VALOR com uma chave conhecida").arg(operand);
            continue;
        }
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
    Device device;
    Readout readout;
    int r = device.open(options.port);
    if (r == kExitOk)
        r = readAll(device, readout);
    return r == kExitOk ? writeAndCheck(device, readout.version, values) : r;
}

int exportCommand(const Options &options)
{
    if (options.operands.size() != 1)
        return usage();
    Device device;
    Readout readout;
    int r = device.open(options.port);
    if (r == kExitOk)
        r = readAll(device, readout);
    if (r != kExitOk)
        return r;
    QSaveFile file(options.operands.first());
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QJsonDocument(settings::toFile(readout.version, readout.values)).toJson()) < 0
        || !file.commit()) {
        say(QStringLiteral("Não foi possível gravar %1: %2").arg(options.operands.first(), file.errorString()));
        return kExitFailed;
    }
    std::printf("%s: %lld configuração(ões) de %s\n", qPrintable(options.operands.first()),
                static_cast<long long>(readout.values.size()), qPrintable(readout.version));
    return kExitOk;
}

int importCommand(const Options &options)
{
    if (options.operands.size() != 1)
        return usage();
    QFile file(options.operands.first());
    if (!file.open(QIODevice::ReadOnly)) {
        say(QStringLiteral("Não foi possível ler %1: %2").arg(options.operands.first(), file.errorString()));
        return kExitUsage;
    }
    const settings::FileContents contents = settings::fromFile(file.readAll());
    if (!contents.error.isEmpty()) {
        say(QStringLiteral("%1: %2 (nada foi enviado)").arg(options.operands.first(), contents.error));
        return kExitUsage;
    }
    Device device;
    Readout readout;
    int r = device.open(options.port);
    if (r == kExitOk)
        r = readAll(device, readout);
    if (r != kExitOk)
        return r;
    // A file from a device without boost would leave the sensor range as it
    // happens to be, and the reverse would not fit at all.
    const bool fileHasSensor = std::any_of(contents.values.begin(), contents.values.end(), [](const auto &pair) {
        return pair.first->kind == settings::Kind::Sensor;
    });
    if (fileHasSensor != settings::versionHasBoost(readout.version)) {
        say(QStringLiteral("%1 é de um aparelho %2 Boost (%3), mas este aparelho está %4 Boost (%5); "
                           "nada foi enviado.")
                .arg(options.operands.first(), fileHasSensor ? QStringLiteral("com") : QStringLiteral("sem"),
                     contents.version, fileHasSensor ? QStringLiteral("sem") : QStringLiteral("com"),
                     readout.version));
        return kExitUsage;
    }
    return writeAndCheck(device, readout.version, contents.values);
}

int readCommand(const Options &options)
{
    if (!options.operands.isEmpty())
        return usage();
    Device device;
    Readout readout;
    int r = device.open(options.port);
    if (r == kExitOk)
        r = readAll(device, readout);
    if (r == kExitOk)
        print(readout, options.json);
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    if (!parseOptions(QCoreApplication::arguments().mid(1), options))
        return usage();
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
    say(QStringLiteral("tarvik-config: comando desconhecido \"%1\"").arg(options.command));
    return usage();
}
