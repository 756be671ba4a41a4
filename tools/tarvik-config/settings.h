// The K931's settings as the command line names them: each key, its command,
// how its value is written and checked, and the settings file.
#pragma once

#include "protocol.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace settings {

enum class Kind { UInt, Float, Flag, Sensor };

struct Key {
    const char *name;
    protocol::Mnemonic mnemonic;
    Kind kind;
};

// In the order the window sends them.
const QList<Key> &keys();
const Key *findKey(const QString &name);

// The 32-bit word a value is sent as, or why the text is no such value.
struct Parsed {
    quint32 word = 0;
    QString error; // empty when valid
};
Parsed parseValue(const Key &key, const QString &text);
QByteArray setCommand(const Key &key, quint32 word);
// The word a device's reply text stands for, to compare with what was sent.
std::optional<quint32> wordOfReply(const Key &key, const QString &text);
// The value as a person reads it ("1.5", "5bar", "1").
QString displayValue(const Key &key, quint32 word);

bool versionHasBoost(const QString &version);

// The settings file: format version, the device's version text, every
// setting. Its reading says what is wrong, with nothing sent yet.
constexpr int kFileFormat = 1;
QJsonObject toFile(const QString &version, const QList<QPair<const Key *, quint32>> &values);
struct FileContents {
    QList<QPair<const Key *, quint32>> values;
    QString version;
    QString error;
};
FileContents fromFile(const QByteArray &json);

} // namespace settings
