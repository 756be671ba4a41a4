// SPDX-License-Identifier: GPL-3.0-or-later
#include "device.h"

#include "keptsettings.h"
#include "settingslink.h"

#include "interruption.h"

#include "k931ports.h"
#include "ownfile.h"
#include "platform.h"
#include "textcodec.h"

#include "firmwarefile.h"
#include "programmer.h"
#include "usbids.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSerialPortInfo>
#include <QTimer>

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
QString openFailure(const QSerialPort &port)
{
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError: return QStringLiteral("a porta não existe");
    case QSerialPort::PermissionError: return QStringLiteral("sem permissão, ou a porta está em uso");
    case QSerialPort::OpenError: return QStringLiteral("a porta já está aberta");
    default: return port.errorString();
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
        if (const QString why = port.error() == QSerialPort::DeviceNotFoundError ? QString()
                                                                                 : platform::notSerialPortReason(name);
            !why.isEmpty()) {
            say(QStringLiteral("%1 não é uma porta serial (%2): confira o nome com \"tarvik-config devices\".")
                    .arg(name, why));
            return kExitNoDevice;
        }
        const QString holder = platform::portHolder(name);
        say(QStringLiteral("Não foi possível abrir %1: %2. %3")
                .arg(name, openFailure(port),
                     port.error() == QSerialPort::DeviceNotFoundError
                         ? QStringLiteral("Confira o nome com \"tarvik-config devices\".")
                         : platform::busyPortAdvice(holder)));
        return kExitFailed;
    }
    // A device pulled out: what is still asked or sent fails at once rather
    // than after every reply's time limit.
    QObject::connect(&port, &QSerialPort::errorOccurred, &port, [this](QSerialPort::SerialPortError error) {
        if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError || error == QSerialPort::WriteError)
            port.close();
    });
    return kExitOk;
}

namespace {

// How often a wait looks whether Ctrl-C was pressed: soon enough to feel
// immediate, rare enough to cost nothing.
constexpr int kInterruptionPollMs = 100;

// Runs the loop until it is quit; false when a caught signal ended it first.
bool runInterruptibly(QEventLoop &loop)
{
    QTimer interruptionPoll;
    QObject::connect(&interruptionPoll, &QTimer::timeout, &loop, [&loop] {
        if (interruption::requested())
            loop.exit(1);
    });
    interruptionPoll.start(kInterruptionPollMs);
    return loop.exec() == 0;
}

// What the port receives goes to the conversation under way.
QMetaObject::Connection feed(QSerialPort &port, road::ReadOut &readOut)
{
    return QObject::connect(&port, &QSerialPort::readyRead, &readOut, [&port, &readOut] { readOut.take(port.readAll()); });
}

} // namespace

road::Framing Device::framing()
{
    return {kReplyQuietMs, kReplyTimeoutMs};
}

// The reply to one query, or nothing within the time limit.
std::optional<QString> Device::query(const Key &key)
{
    QEventLoop loop;
    road::ReadOut readOut(&port, framing());
    feed(port, readOut);
    QObject::connect(&readOut, &road::ReadOut::finished, &loop, &QEventLoop::quit);
    readOut.ask(key);
    if (!runInterruptibly(loop))
        return std::nullopt;
    return readOut.replyOf(key);
}

bool Device::send(const QByteArray &bytes)
{
    return port.write(bytes) == bytes.size() && port.waitForBytesWritten(kReplyTimeoutMs);
}

namespace {

// A reply the command line cannot use, said as what the user can do about it.
QString unusable(const Key &key)
{
    if (key.kind == settings::Kind::Version || key.kind == settings::Kind::MixtureUnit)
        return QStringLiteral("O aparelho não respondeu a \"?%1\": desconecte e reconecte o aparelho.")
            .arg(QLatin1String(key.mnemonicText));
    return QStringLiteral("Resposta inválida ou ausente para %1: desconecte e reconecte o aparelho.")
        .arg(QLatin1String(key.name));
}

// One reply into the read-out; false when it is no usable value.
bool keep(const Key &key, const QString &text, Readout &out)
{
    if (key.kind == settings::Kind::Version) {
        out.version = text;
        return true;
    }
    if (key.kind == settings::Kind::MixtureUnit) {
        out.lambda = settings::lambdaFromReply(text);
        return true;
    }
    const std::optional<quint32> word = settings::wordOfReply(key, text);
    if (word)
        out.values.append({&key, *word});
    return word.has_value();
}

} // namespace

// The window's read-out chain, query for query: the device sees the same
// sequence from both front ends.
int readAll(Device &device, Readout &out)
{
    out = Readout();
    QSerialPort &port = device.serialPort();
    QEventLoop loop;
    road::ReadOut chain(&port, Device::framing());
    feed(port, chain);
    int result = kExitOk;
    const auto fail = [&](const Key &key) {
        say(unusable(key));
        result = kExitFailed;
        chain.stop();
        loop.quit();
    };
    QObject::connect(&chain, &road::ReadOut::replied, &loop, [&](const Key &key, const QByteArray &) {
        // A device without Boost has no sensor range: whatever it answers
        // is no setting of it.
        if (settings::heldBy(key, out.version) && !keep(key, chain.replyOf(key).value_or(QString()), out))
            fail(key);
    });
    QObject::connect(&chain, &road::ReadOut::unanswered, &loop, [&](const Key &key) {
        if (settings::heldBy(key, out.version))
            fail(key);
    });
    QObject::connect(&chain, &road::ReadOut::finished, &loop, &QEventLoop::quit);
    chain.start();
    if (!runInterruptibly(loop)) {
        say(QStringLiteral("Interrompido durante a leitura: nada foi enviado."));
        return interruption::exitStatus();
    }
    return result;
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

namespace {

QString notTakenText(const QList<road::Mismatch> &found)
{
    QStringList named;
    for (const road::Mismatch &m : found)
        named << QStringLiteral("%1 (enviado %2, lido %3)")
                     .arg(QLatin1String(m.key->name), settings::displayValue(*m.key, m.sent),
                          m.read ? *m.read : QStringLiteral("nada"));
    return named.join(QStringLiteral(", "));
}

// What the device holds of the batch, said once it has all been sent and
// read back; the exit status, when a signal came meanwhile, is the signal's.
int checkedBatch(const road::PacedUpload &upload, const road::ReadOut &readBack)
{
    const QList<road::Mismatch> notTaken = road::mismatches(upload.values(), readBack);
    const bool interrupted = interruption::requested();
    if (notTaken.isEmpty())
        std::printf("Gravado e conferido: %s.\n", qUtf8Printable(namesOf(upload.values())));
    else
        say(QStringLiteral("O aparelho não guardou: %1").arg(notTakenText(notTaken)));
    if (interrupted)
        say(QStringLiteral("Interrompido depois de enviar todas as %1 configurações%2.")
                .arg(upload.values().size())
                .arg(notTaken.isEmpty() ? QStringLiteral(": o aparelho guardou todas")
                                        : QStringLiteral(": rode o comando de novo para as que ele não guardou")));
    return interrupted ? interruption::exitStatus() : notTaken.isEmpty() ? kExitOk : kExitFailed;
}

int stoppedBeforeSending()
{
    say(QStringLiteral("Interrompido: nada foi enviado."));
    return interruption::exitStatus();
}

} // namespace

// Once the first set command is out, a signal lets the batch (a few
// seconds) end and be read back: a device left with half of a file's
// settings, and nobody told which, is worse than a late exit.
int writeAndCheck(Device &device, const QString &version, const Values &requested)
{
    for (const auto &pair : requested) {
        if (!settings::heldBy(*pair.first, version)) {
            say(QStringLiteral("sensor: este aparelho (%1) não tem Boost; nada foi enviado.").arg(version));
            return kExitUsage;
        }
    }
    QSerialPort &port = device.serialPort();
    QEventLoop loop;
    QTimer pacer;
    road::PacedUpload upload(&port, &pacer, protocol::kSetCommandSpacingMs);
    road::ReadOut readBack(&port, Device::framing());
    feed(port, readBack);
    int result = kExitOk;
    QObject::connect(&pacer, &QTimer::timeout, &loop, [&] {
        if (upload.sentCount() == 0 && interruption::requested()) {
            upload.stop();
            loop.exit(1);
            return;
        }
        switch (upload.sendNext()) {
        case road::PacedUpload::Step::Sent: return;
        case road::PacedUpload::Step::Failed:
            say(QStringLiteral("Falha ao enviar %1: verifique a conexão.").arg(QLatin1String(upload.lastKey()->name)));
            result = interruption::requested() ? interruption::exitStatus() : kExitFailed;
            loop.quit();
            return;
        case road::PacedUpload::Step::Done: readBack.start(); return;
        }
    });
    QObject::connect(&readBack, &road::ReadOut::finished, &loop, &QEventLoop::quit);
    QTimer interruptionPoll;
    QObject::connect(&interruptionPoll, &QTimer::timeout, &loop, [&] {
        if (!interruption::requested() || upload.sentCount() == 0)
            return;
        interruptionPoll.stop();
        say(QStringLiteral("Interrompido: as configurações que faltam são enviadas e conferidas primeiro (alguns "
                           "segundos). Não desconecte o aparelho."));
    });
    interruptionPoll.start(kInterruptionPollMs);
    if (interruption::requested())
        return stoppedBeforeSending();
    // The first command at once: the device has just answered, nothing of it is being stored.
    upload.start(requested, road::PacedUpload::First::AtOnce);
    if (loop.exec() != 0)
        return stoppedBeforeSending();
    return result != kExitOk ? result : checkedBatch(upload, readBack);
}
