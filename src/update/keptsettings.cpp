// SPDX-License-Identifier: GPL-3.0-or-later
#include "keptsettings.h"

#include "chipserial.h"
#include "datafolder.h"
#include "ownfile.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <functional>

namespace road {

namespace {

bool inKeptSettingsFolder(const QString &path)
{
    const QString folder = keptSettingsFolder();
    return !folder.isEmpty()
        && QDir::cleanPath(QFileInfo(path).absolutePath()) == QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

const QString kSerialField = QStringLiteral("serial");
const QString kKeptField = QStringLiteral("kept");
const QString kOfferedField = QStringLiteral("offered");

// The readable kept files `wanted` takes, newest first by the time each
// records (a file's name may have been given by another clock).
QList<KeptSettings> keptSettingsWhere(const std::function<bool(const KeptSettings &)> &wanted)
{
    QList<KeptSettings> found;
    const QDir dir(keptSettingsFolder());
    for (const QString &name : dir.entryList({QStringLiteral("*.json")}, QDir::Files | QDir::System)) {
        QString why;
        const std::optional<KeptSettings> kept = readKeptSettings(dir.filePath(name), why);
        if (kept && wanted(*kept))
            found.append(*kept);
    }
    std::sort(found.begin(), found.end(), [](const KeptSettings &a, const KeptSettings &b) {
        return a.kept != b.kept ? a.kept > b.kept : a.path > b.path;
    });
    return found;
}

} // namespace

QString keepSettings(const QString &serial, const QString &version, bool lambda, const SettingValues &values,
                     QString &why)
{
    const QString folder = keptSettingsFolder();
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        why = QStringLiteral("a pasta %1 não pôde ser criada").arg(folder);
        return QString();
    }
    const QDateTime now = QDateTime::currentDateTime();
    QJsonObject object = settings::toFile(version, lambda, values);
    object.insert(kSerialField, serial);
    object.insert(kKeptField, now.toString(Qt::ISODateWithMs));
    const QString label = serial.isEmpty() ? version : serial + QLatin1Char('_') + version;
    const QDir dir(folder);
    QString name = keptFileName(now, label, QStringLiteral(".json"));
    for (int n = 2; QFileInfo::exists(dir.filePath(name)) || isLink(dir.filePath(name)); ++n)
        name = keptFileName(now, label, QStringLiteral("_%1.json").arg(n));
    const QString path = dir.filePath(name);
    if (!writeOwnFile(path, QJsonDocument(object).toJson(), why)) {
        why = QStringLiteral("%1: %2").arg(path, why);
        return QString();
    }
    return path;
}

std::optional<KeptSettings> readKeptSettings(const QString &path, QString &why)
{
    // A link the owner made to a settings file is followed, as an import
    // follows it; one among the program's own files never is.
    const QString target = !inKeptSettingsFolder(path) && isLink(path) ? QFileInfo(path).canonicalFilePath() : path;
    const std::optional<QByteArray> bytes = readOwnFile(target.isEmpty() ? path : target, settings::kMaxFileBytes, why);
    if (!bytes)
        return std::nullopt;
    KeptSettings kept;
    kept.path = path;
    kept.contents = settings::fromFile(*bytes);
    if (!kept.contents.error.isEmpty()) {
        why = kept.contents.error;
        return std::nullopt;
    }
    const QJsonObject root = QJsonDocument::fromJson(*bytes).object();
    kept.serial = root.value(kSerialField).toString();
    kept.offered = root.value(kOfferedField).toBool();
    kept.kept = QDateTime::fromString(root.value(kKeptField).toString(), Qt::ISODateWithMs);
    if (!kept.kept.isValid())
        kept.kept = QFileInfo(path).lastModified();
    return kept;
}

QList<KeptSettings> keptSettingsOf(const QString &serial)
{
    return keptSettingsWhere([&serial](const KeptSettings &kept) { return kept.serial == serial; });
}

QList<KeptSettings> keptSettingsOfChip(const QString &chipSerial)
{
    return keptSettingsWhere([&chipSerial](const KeptSettings &kept) {
        return chipSerial.isEmpty() || k931::sameChipSerial(kept.serial, chipSerial);
    });
}

std::optional<KeptSettings> keptSettingsToOffer(const QString &serial)
{
    const QList<KeptSettings> kept = keptSettingsOf(serial);
    if (kept.isEmpty() || kept.first().offered || !isOwnKeptSettings(kept.first().path))
        return std::nullopt;
    return kept.first();
}

void markKeptSettingsOffered(const KeptSettings &kept)
{
    if (!isOwnKeptSettings(kept.path))
        return;
    QString why;
    const std::optional<QByteArray> bytes = readOwnFile(kept.path, settings::kMaxFileBytes, why);
    if (!bytes)
        return;
    QJsonObject root = QJsonDocument::fromJson(*bytes).object();
    root.insert(kOfferedField, true);
    writeOwnFile(kept.path, QJsonDocument(root).toJson(), why);
}

DeviceMatch matchDevice(const KeptSettings &kept, const QString &serial)
{
    if (kept.serial.isEmpty() || serial.isEmpty())
        return DeviceMatch::Unknown;
    return kept.serial == serial ? DeviceMatch::Same : DeviceMatch::Other;
}

QString describeKept(const KeptSettings &kept)
{
    const QString when = kept.kept.toString(QStringLiteral("dd/MM/yyyy HH:mm"));
    return kept.contents.version.isEmpty() ? when : QStringLiteral("%1, %2").arg(when, kept.contents.version);
}

SettingsFit fitSettings(const settings::FileContents &contents, const QString &version, bool lambda)
{
    SettingsFit fit;
    if (contents.unit != settings::Unit::Unknown && (contents.unit == settings::Unit::Lambda) != lambda) {
        fit.problem = QStringLiteral("as misturas estão em %1, mas este aparelho mede em %2")
                          .arg(settings::unitName(!lambda), settings::unitName(lambda));
        return fit;
    }
    for (const settings::Key *key : settings::keys()) {
        const auto held = std::find_if(contents.values.begin(), contents.values.end(),
                                       [key](const auto &pair) { return pair.first == key; });
        const bool hasPlace = settings::heldBy(*key, version);
        if (held == contents.values.end()) {
            if (hasPlace)
                fit.leftAsIs << QLatin1String(key->name);
            continue;
        }
        if (!hasPlace) {
            fit.skipped << QLatin1String(key->name);
            continue;
        }
        // A file that does not name its unit is taken only when its mixture
        // values make sense in the device's unit.
        if (contents.unit == settings::Unit::Unknown && !settings::fitsUnit(*key, held->second, lambda)) {
            fit.problem = QStringLiteral("o arquivo não diz a unidade das misturas (arquivo de uma versão anterior) e "
                                         "%1=%2 não é um valor em %3, a unidade deste aparelho")
                              .arg(QLatin1String(key->name), settings::displayValue(*key, held->second),
                                   settings::unitName(lambda));
            fit.values.clear();
            return fit;
        }
        fit.values.append(*held);
    }
    return fit;
}

bool isOwnKeptSettings(const QString &path)
{
    static const QRegularExpression ownName(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}_\\d{6}(_.*)?\\.json$"));
    return inKeptSettingsFolder(path) && ownName.match(QFileInfo(path).fileName()).hasMatch();
}

void forgetKeptSettings(const QString &path)
{
    if (isOwnKeptSettings(path))
        removeOwnFile(path);
}

} // namespace road
