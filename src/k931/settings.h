// SPDX-License-Identifier: GPL-3.0-or-later
// The K931's settings, each once: its command-line key, its mnemonic, how
// its value is written and checked, and the settings file. Qt Core only.
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
const Key *keyFor(protocol::Mnemonic mnemonic);

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

// The two mixture thresholds, whose numbers mean millivolts or lambda as the
// device's sensor type (SONT) says.
bool isMixture(const Key &key);
// Whether a mixture value is plausible in that unit: a narrow-band sensor's
// millivolts and a lambda figure do not overlap, which tells files that do
// not name their unit apart.
bool fitsUnit(const Key &key, quint32 word, bool lambda);
QString unitName(bool lambda);

// The keys named more than once in a JSON text (QJsonDocument keeps only the
// last of them, silently).
QStringList repeatedJsonKeys(const QByteArray &json);

// The settings file: format version, the device's version text, every
// setting. Its reading says what is wrong, with nothing sent yet.
constexpr int kFileFormat = 1;
// A settings file is small; anything larger is not one.
constexpr qint64 kMaxFileBytes = 1024 * 1024;
QJsonObject toFile(const QString &version, bool lambda, const QList<QPair<const Key *, quint32>> &values);
enum class Unit { Unknown, MilliVolt, Lambda };
struct FileContents {
    QList<QPair<const Key *, quint32>> values;
    QString version;
    Unit unit = Unit::Unknown; // files of the first version do not say
    QString error;
};
FileContents fromFile(const QByteArray &json);

} // namespace settings
