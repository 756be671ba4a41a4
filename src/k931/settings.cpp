// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace settings {

// The table. A new setting is one row here; the window binds it to its
// widget, and everything else (recognition, the read-out chain, the upload
// order, the command line's keys and help, the settings file, the
// simulated K931) follows from the row.
const QList<Key> &readout()
{
    static const QList<Key> all = {
        // mnemonic, kind, upload rank, key, default reply, help
        {"VERS", Kind::Version, -1, nullptr, nullptr, nullptr},
        {"RPML", Kind::UInt, 2, "rpm", "6500", "rotação do shift light, número inteiro (por exemplo 6500)"},
        {"TURA", Kind::Float, 1, "turbo", "1.5", "alerta de pressão do turbo, número com ponto (1.5)"},
        {"HALP", Kind::Mixture, 4, "lean", "450", "mistura pobre, número com ponto (mV ou lambda)"},
        {"HALR", Kind::Mixture, 3, "rich", "850", "mistura rica, número com ponto (mV ou lambda)"},
        {"TURZ", Kind::Flag, 5, "turbo-reset", "1", "zerar o pico do turbo ao ligar, 0 ou 1"},
        {"SONT", Kind::MixtureUnit, -1, nullptr, "0", nullptr},
        {"KSBM", Kind::Flag, 0, "blink", "1", "shift light piscando, 0 ou 1"},
        {"KBOS", Kind::Sensor, 6, "sensor", "1", "faixa do sensor, 3bar ou 5bar (só com Boost)"},
    };
    return all;
}

const QList<const Key *> &keys()
{
    static const QList<const Key *> settable = [] {
        QList<const Key *> list;
        for (const Key &key : readout()) {
            if (key.uploadRank >= 0)
                list << &key;
        }
        std::sort(list.begin(), list.end(), [](const Key *a, const Key *b) { return a->uploadRank < b->uploadRank; });
        return list;
    }();
    return settable;
}

const Key *findKey(const QString &name)
{
    for (const Key *key : keys()) {
        if (name == QLatin1String(key->name))
            return key;
    }
    return nullptr;
}

const Key *keyFor(const QByteArray &mnemonic)
{
    for (const Key &key : readout()) {
        if (mnemonic == key.mnemonicText)
            return &key;
    }
    return nullptr;
}

const Key *recognise(const QByteArray &chunk)
{
    for (const Key &key : readout()) {
        if (protocol::names(chunk, key.mnemonic()))
            return &key;
    }
    return nullptr;
}

const Key *nextInChain(const Key *key)
{
    const QList<Key> &all = readout();
    const qsizetype next = key ? key - all.constData() + 1 : all.size();
    return next > 0 && next < all.size() ? &all[next] : nullptr;
}

const Key &firstInChain()
{
    return readout().first();
}

bool isFloat(Kind kind)
{
    return kind == Kind::Float || kind == Kind::Mixture;
}

namespace {

quint32 floatWord(float value)
{
    quint32 word = 0;
    std::memcpy(&word, &value, sizeof word);
    return word;
}

float wordFloat(quint32 word)
{
    float value = 0;
    std::memcpy(&value, &word, sizeof value);
    return value;
}

} // namespace

Parsed parseValue(const Key &key, const QString &text)
{
    bool ok = false;
    switch (key.kind) {
    case Kind::UInt: {
        const quint32 value = text.toUInt(&ok, 10);
        return ok ? Parsed{value, {}} : Parsed{0, QStringLiteral("número inteiro sem sinal (por exemplo 6500)")};
    }
    case Kind::Float:
    case Kind::Mixture: {
        // "-0" is zero: its sign bit would not survive a file written and read again.
        const float read = text.toFloat(&ok);
        const float value = read == 0.0f ? 0.0f : read;
        return ok && std::isfinite(value) ? Parsed{floatWord(value), {}}
                                          : Parsed{0, QStringLiteral("número com ponto decimal (por exemplo 1.5)")};
    }
    case Kind::Flag:
        if (text == QLatin1String("0") || text == QLatin1String("1"))
            return {text == QLatin1String("1") ? 1u : 0u, {}};
        return {0, QStringLiteral("0 ou 1")};
    case Kind::Sensor:
        if (text == QLatin1String("3bar") || text == QLatin1String("5bar"))
            return {text == QLatin1String("5bar") ? 1u : 0u, {}};
        return {0, QStringLiteral("3bar ou 5bar")};
    case Kind::Version:
    case Kind::MixtureUnit: break;
    }
    return {0, QStringLiteral("não é uma configuração")};
}

QByteArray setCommand(const Key &key, quint32 word)
{
    return isFloat(key.kind) ? protocol::setFloatCommand(key.mnemonic(), wordFloat(word))
                             : protocol::setCommand(key.mnemonic(), word);
}

std::optional<quint32> wordOfReply(const Key &key, const QString &text)
{
    if (key.kind == Kind::Sensor)
        return text == QLatin1String("0") || text == QLatin1String("1") ? std::optional<quint32>(text.toUInt())
                                                                         : std::nullopt;
    const Parsed parsed = parseValue(key, text);
    return parsed.error.isEmpty() ? std::optional<quint32>(parsed.word) : std::nullopt;
}

QString displayValue(const Key &key, quint32 word)
{
    switch (key.kind) {
    case Kind::Float:
    case Kind::Mixture: {
        // The shortest text that reads back as the same float: a file
        // written and read again holds the very word the device had.
        const float value = wordFloat(word);
        char text[32] = {};
        const auto written = std::to_chars(text, text + sizeof text - 1, value);
        const QString shortest = QString::fromLatin1(text, int(written.ptr - text));
        // Read as the command line reads it (through a double), it must
        // still be the same float; 17 digits always are.
        return shortest.toFloat() == value ? shortest : QString::number(double(value), 'g', 17);
    }
    case Kind::Sensor: return word ? QStringLiteral("5bar") : QStringLiteral("3bar");
    case Kind::UInt:
    case Kind::Flag:
    case Kind::Version:
    case Kind::MixtureUnit: break;
    }
    return QString::number(word);
}

bool versionHasBoost(const QString &version)
{
    return version.contains(QLatin1String("Boost"), Qt::CaseInsensitive);
}

bool lambdaFromReply(const QString &reply)
{
    return reply == QLatin1String("1");
}

bool heldBy(const Key &key, const QString &version)
{
    return key.kind != Kind::Sensor || versionHasBoost(version);
}

bool isMixture(const Key &key)
{
    return key.kind == Kind::Mixture;
}

bool fitsUnit(const Key &key, quint32 word, bool lambda)
{
    if (!isMixture(key))
        return true;
    const float value = wordFloat(word);
    return lambda ? value >= 0.5f && value <= 2.0f : value >= 10.0f && value <= 5000.0f;
}

QString unitName(bool lambda)
{
    return lambda ? QStringLiteral("lambda") : QStringLiteral("mV");
}

QStringList repeatedJsonKeys(const QByteArray &json)
{
    struct Level {
        bool object = false;
        bool expectingKey = false;
        QSet<QString> keys;
    };
    QList<Level> levels;
    QStringList repeated;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json.at(i);
        if (c == '{' || c == '[') {
            levels.append(Level{c == '{', c == '{', {}});
        } else if (c == '}' || c == ']') {
            if (!levels.isEmpty())
                levels.removeLast();
        } else if (c == ',' && !levels.isEmpty()) {
            levels.last().expectingKey = levels.last().object;
        } else if (c == '"') {
            const qsizetype begin = i;
            for (++i; i < json.size() && json.at(i) != '"'; ++i) {
                if (json.at(i) == '\\')
                    ++i;
            }
            if (levels.isEmpty() || !levels.last().expectingKey)
                continue;
            levels.last().expectingKey = false;
            // Decoded as JSON does, so that an escaped spelling of a key is that key.
            const QJsonArray holder = QJsonDocument::fromJson("[" + json.mid(begin, i - begin + 1) + "]").array();
            const QString key = holder.isEmpty() ? QString::fromUtf8(json.mid(begin + 1, i - begin - 1))
                                                 : holder.first().toString();
            if (levels.last().keys.contains(key) && !repeated.contains(key))
                repeated << key;
            levels.last().keys.insert(key);
        }
    }
    return repeated;
}

namespace {

// Numbers as JSON numbers and flags as booleans, so that a script compares
// them as such; the sensor range stays readable ("3bar", "5bar").
QJsonValue jsonValue(const Key &key, quint32 word)
{
    switch (key.kind) {
    case Kind::UInt: return QJsonValue(qint64(word));
    case Kind::Float:
    case Kind::Mixture: return QJsonValue(displayValue(key, word).toDouble()); // 1.9, not 1.89999998
    case Kind::Flag: return QJsonValue(word != 0);
    case Kind::Sensor:
    case Kind::Version:
    case Kind::MixtureUnit: break;
    }
    return QJsonValue(displayValue(key, word));
}

// A file's value as the text the command line would take: files of the
// first version hold every value as a string, later ones numbers and
// booleans. A boolean is a value only for a flag.
QString valueText(const Key &key, const QJsonValue &value)
{
    if (value.isBool())
        return key.kind == Kind::Flag ? QString::number(value.toBool() ? 1 : 0)
                                      : QString::fromLatin1(value.toBool() ? "true" : "false");
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 17);
    return value.toString();
}

} // namespace

QJsonObject toFile(const QString &version, bool lambda, const QList<QPair<const Key *, quint32>> &values)
{
    QJsonObject settingsObject;
    for (const auto &[key, word] : values)
        settingsObject.insert(QLatin1String(key->name), jsonValue(*key, word));
    return {{QStringLiteral("format"), kFileFormat},
            {QStringLiteral("device"), version},
            {QStringLiteral("unit"), unitName(lambda)},
            {QStringLiteral("settings"), settingsObject}};
}

FileContents fromFile(const QByteArray &json)
{
    FileContents contents;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject()) {
        contents.error = QStringLiteral("não é um arquivo de configurações (JSON inválido: %1)")
                             .arg(parseError.errorString());
        return contents;
    }
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("format")).toInt() != kFileFormat) {
        contents.error = QStringLiteral("formato de arquivo desconhecido (esperado \"format\": %1)").arg(kFileFormat);
        return contents;
    }
    contents.version = root.value(QStringLiteral("device")).toString();
    const QJsonValue unit = root.value(QStringLiteral("unit"));
    if (unit == QJsonValue(unitName(true)))
        contents.unit = Unit::Lambda;
    else if (unit == QJsonValue(unitName(false)))
        contents.unit = Unit::MilliVolt;
    else if (!unit.isUndefined()) {
        contents.error = QStringLiteral("unidade desconhecida (esperado \"unit\": \"mV\" ou \"lambda\")");
        return contents;
    }
    // Two values for one setting: which one the owner meant cannot be told.
    const QStringList repeated = repeatedJsonKeys(json);
    if (!repeated.isEmpty()) {
        contents.error = QStringLiteral("chave repetida no arquivo: %1").arg(repeated.join(QStringLiteral(", ")));
        return contents;
    }
    const QJsonObject stored = root.value(QStringLiteral("settings")).toObject();
    for (auto it = stored.begin(); it != stored.end(); ++it) {
        const Key *key = findKey(it.key());
        if (!key) {
            contents.error = QStringLiteral("configuração desconhecida: %1").arg(it.key());
            return contents;
        }
        const Parsed parsed = parseValue(*key, valueText(*key, it.value()));
        if (!parsed.error.isEmpty()) {
            contents.error = QStringLiteral("%1: %2").arg(it.key(), parsed.error);
            return contents;
        }
        contents.values.append({key, parsed.word});
    }
    if (contents.values.isEmpty())
        contents.error = QStringLiteral("o arquivo não traz nenhuma configuração");
    return contents;
}

} // namespace settings
