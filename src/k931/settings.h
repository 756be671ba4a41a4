// SPDX-License-Identifier: GPL-3.0-or-later
// What the K931 holds, each item once: its mnemonic, its kind, its place in
// the read-out and in the upload, its command-line key, what a new device
// answers; how its value is written and checked; the settings file. The
// window, tarvik-config and the simulated K931 all take it from here.
// Qt Core only.
#pragma once

#include "protocol.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace settings {

enum class Kind {
    Version,     // the firmware's version text; only read
    MixtureUnit, // whether the mixture thresholds are in mV or lambda; only read
    UInt,        // a whole number
    Float,       // a number with a decimal point
    Mixture,     // a decimal mixture threshold, in the unit above
    Flag,        // 0 or 1
    Sensor,      // the Boost sensor's range, 3 or 5 bar (devices with Boost only)
};

struct Key {
    const char *mnemonicText;
    Kind kind;
    int uploadRank;           // its place among the set commands; -1 when never set
    const char *name;         // the command-line and settings-file key; null when only read
    const char *factoryReply; // the value text of a device with default settings
    const char *summary;      // for the command line's help
    QByteArray mnemonic() const { return QByteArray(mnemonicText); }
};

// Everything the device is asked, in the read-out chain's order, which is
// also the order replies are recognised in.
const QList<Key> &readout();
// What can be set, in the order the window sends it.
const QList<const Key *> &keys();
const Key *findKey(const QString &name);
const Key *keyFor(const QByteArray &mnemonic);
// The first entry whose mnemonic the chunk names (protocol::names), or null.
const Key *recognise(const QByteArray &chunk);
// The query after this reply in the chain; null after the last.
const Key *nextInChain(const Key *key);
// The read-out begins with the version: what else the device holds depends on it.
const Key &firstInChain();
bool isFloat(Kind kind);

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
// Whether a device running `version` has this setting: the boost sensor's
// range only where the firmware has Boost.
bool heldBy(const Key &key, const QString &version);

// The mixture thresholds, whose numbers mean millivolts or lambda as the
// device's sensor type (SONT) says.
bool isMixture(const Key &key);
// Whether a mixture value is plausible in that unit: a narrow-band sensor's
// millivolts and a lambda figure do not overlap, which tells files that do
// not name their unit apart.
bool fitsUnit(const Key &key, quint32 word, bool lambda);
QString unitName(bool lambda);
// Whether the mixture-unit reply says the thresholds are in lambda.
bool lambdaFromReply(const QString &reply);

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
