// SPDX-License-Identifier: GPL-3.0-or-later
#include "device.h"

#include "keptsettings.h"

#include "k931ports.h"
#include "ownfile.h"
#include "platform.h"
#include "textcodec.h"

#include "firmwarefile.h"
#include "programmer.h"
#include "usbids.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSerialPortInfo>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

// A reply comes within milliseconds; a device that says nothing for this long
// is not going to.
constexpr int kReplyTimeoutMs = 1500;
// A USB serial reply arrives within a frame or two; this much silence after
// its first value byte means it is complete (a reply has no end mark).
constexpr int kReplyQuietMs = 15;

using settings::Key;

QString namesOf(const Values &values)
{
    QStringList names;
    for (const auto &pair : values)
        names << QLatin1String(pair.first->name);
    return names.join(QStringLiteral(", "));
}

// Qt's reasons are English and sometimes misleading; what the user can do
// about each is said beside it.
QString openFailure(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError: return QStringLiteral("a porta não existe");
    case QSerialPort::PermissionError: return QStringLiteral("sem permissão, ou a porta está em uso");
    case QSerialPort::OpenError: return QStringLiteral("a porta já está aberta");
    default: return QStringLiteral("erro %1").arg(int(error));
    }
}

} // namespace

QString Device::serialNumber() const
{
    return QSerialPortInfo(port).serialNumber();
}

void say(const QString &text)
{
    std::fprintf(stderr, "%s\n", qUtf8Printable(text));
}

int Device::open(QString name)
{
    if (name.isEmpty())
        name = road::firstK931Port();
    if (name.isEmpty()) {
        flashing::DfuDeviceInfo *list = nullptr;
        if (flashing::getDfuDeviceList(&list, k931::kDfuProduct, k931::kUsbVendor) > 0)
            say(QStringLiteral("O aparelho está no modo de atualização (bootloader USB %1), sem porta serial: "
                               "termine a atualização com \"tarvik-config update\" (ou \"tarvik-dfu write "
                               "ARQUIVO\") e rode este comando de novo.")
                    .arg(QString::fromLatin1(list[0].usbIndex)));
        else
            say(QStringLiteral("Nenhum K931 encontrado: conecte o aparelho pelo USB "
                               "(ou veja \"tarvik-config devices\")."));
        return kExitNoDevice;
    }
    port.setPortName(name);
    if (!port.open(QIODevice::ReadWrite)) {
        const QString holder = platform::portHolder(name);
        say(QStringLiteral("Não foi possível abrir %1: %2. %3")
                .arg(name, openFailure(port.error()),
                     port.error() == QSerialPort::DeviceNotFoundError
                         ? QStringLiteral("Confira o nome com \"tarvik-config devices\".")
                         : platform::busyPortAdvice(holder)));
        return kExitFailed;
    }
    return kExitOk;
}

// The reply to one query, or nothing within the time limit.
std::optional<QString> Device::query(const Key &key)
{
    port.readAll();
    if (!send(protocol::query(key.mnemonic())))
        return std::nullopt;
    QElapsedTimer clock;
    clock.start();
    // What arrived while the query was still being written is read first:
    // waiting would only wait for more.
    QByteArray chunk = port.readAll();
    while (clock.elapsed() < kReplyTimeoutMs && port.isOpen()) {
        const bool valueBegun = settings::recognise(chunk) == &key && chunk.startsWith('>')
                             && !protocol::valueText(chunk).trimmed().isEmpty();
        const int wait = valueBegun ? kReplyQuietMs : int(kReplyTimeoutMs - clock.elapsed());
        if (port.waitForReadyRead(std::max(wait, 1)))
            chunk += port.readAll();
        else if (valueBegun)
            return protocol::valueText(chunk).trimmed();
    }
    return std::nullopt;
}

bool Device::send(const QByteArray &bytes)
{
    return port.write(bytes) == bytes.size() && port.waitForBytesWritten(kReplyTimeoutMs);
}

// The window's read-out chain, query for query: the device sees the same
// sequence from both front ends.
int readAll(Device &device, Readout &out)
{
    out = Readout();
    // Every query of the chain, as the window asks them, so that the device
    // sees the same sequence from both front ends.
    for (const Key *key = &settings::firstInChain(); key; key = settings::nextInChain(key)) {
        const auto text = device.query(*key);
        // A device without Boost has no sensor range: whatever it answers
        // is no setting of it.
        if (!settings::heldBy(*key, out.version))
            continue;
        if (key->kind == settings::Kind::Version || key->kind == settings::Kind::MixtureUnit) {
            if (!text) {
                say(QStringLiteral("O aparelho não respondeu a \"?%1\": desconecte e reconecte o aparelho.")
                        .arg(QLatin1String(key->mnemonicText)));
                return kExitFailed;
            }
            if (key->kind == settings::Kind::Version)
                out.version = *text;
            else
                out.lambda = settings::lambdaFromReply(*text);
            continue;
        }
        const std::optional<quint32> word = text ? settings::wordOfReply(*key, *text) : std::nullopt;
        if (!word) {
            say(QStringLiteral("Resposta inválida ou ausente para %1: desconecte e reconecte o aparelho.")
                    .arg(QLatin1String(key->name)));
            return kExitFailed;
        }
        out.values.append({key, *word});
    }
    return kExitOk;
}

int openAndRead(const QString &port, Device &device, Readout &out)
{
    const int r = device.open(port);
    return r == kExitOk ? readAll(device, out) : r;
}

bool saveSettingsFile(const Readout &readout, const QString &path)
{
    const QFileInfo target(path);
    if (target.exists() && !target.isFile()) {
        say(QStringLiteral("%1 existe e não é um arquivo comum: escolha outro nome (nada foi gravado).").arg(path));
        return false;
    }
    QString error;
    const QByteArray json = QJsonDocument(settings::toFile(readout.version, readout.lambda, readout.values)).toJson();
    if (!road::writeOwnersFile(path, json, error)) {
        say(QStringLiteral("Não foi possível gravar %1: %2 (nada foi gravado).").arg(path, error));
        return false;
    }
    std::printf("Configurações de %s gravadas em %s\n", qUtf8Printable(readout.version), qUtf8Printable(path));
    return true;
}

settings::FileContents readSettingsFile(const QString &path)
{
    settings::FileContents contents;
    std::vector<uint8_t> bytes;
    // The engine's conversion: a name that is no UTF-8 reaches its file.
    const std::string name = flashing::utf16ToUtf8(reinterpret_cast<const char16_t *>(path.utf16()));
    const int r = flashing::readWholeFile(name, bytes, settings::kMaxFileBytes);
    if (r == flashing::kOk) {
        contents = settings::fromFile(QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())));
    } else {
        const QFileInfo info(QFile::decodeName(QByteArray::fromStdString(name)));
        contents.error = !info.exists()   ? QStringLiteral("o arquivo não existe")
                       : !info.isFile()   ? QStringLiteral("não é um arquivo comum")
                       : r == flashing::kInvalidFile
                           ? QStringLiteral("grande demais para um arquivo de configurações (mais de 1 MB)")
                           : QStringLiteral("sem permissão de leitura");
    }
    return contents;
}

std::optional<Values> importableValues(const settings::FileContents &contents, const QString &path,
                                       const Readout &readout)
{
    const road::SettingsFit fit = road::fitSettings(contents, readout.version, readout.lambda);
    if (!fit.ok()) {
        say(QStringLiteral("%1: %2; nada foi enviado.").arg(path, fit.problem));
        return std::nullopt;
    }
    if (!fit.skipped.isEmpty())
        std::printf("Este aparelho (%s) não tem lugar para %s de %s: fica de fora.\n", qUtf8Printable(readout.version),
                    qUtf8Printable(fit.skipped.join(QStringLiteral(", "))), qUtf8Printable(path));
    if (!fit.leftAsIs.isEmpty())
        std::printf("Não estão em %s e ficam como estão: %s.\n", qUtf8Printable(path),
                    qUtf8Printable(fit.leftAsIs.join(QStringLiteral(", "))));
    return fit.values;
}

int writeAndCheck(Device &device, const QString &version, const Values &requested)
{
    Values values;
    for (const Key *key : settings::keys()) {
        for (const auto &pair : requested) {
            if (pair.first == key)
                values.append(pair);
        }
    }
    for (const auto &pair : values) {
        if (!settings::heldBy(*pair.first, version)) {
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
        const auto text = device.query(*key);
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
    std::printf("Gravado e conferido: %s.\n", qUtf8Printable(namesOf(values)));
    return kExitOk;
}
