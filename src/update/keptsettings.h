// SPDX-License-Identifier: GPL-3.0-or-later
// Settings kept across a firmware update, for the window and tarvik-config
// alike: one folder, one name rule (the device and the time), and the
// device they came from, so that they go back only into that device.
#pragma once

#include "settings.h"

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace road {

using SettingValues = QList<QPair<const settings::Key *, quint32>>;

struct KeptSettings {
    QString path;
    QString serial; // the USB serial number of the device's port; empty: it had none
    QDateTime kept;
    bool offered = false; // put to the owner once already, whatever the answer
    settings::FileContents contents;
};

// Writes what the device holds into keptSettingsFolder(); the file's path,
// or empty with `why`.
QString keepSettings(const QString &serial, const QString &version, bool lambda, const SettingValues &values,
                     QString &why);
// A kept file, read without following a link or waiting on a pipe.
std::optional<KeptSettings> readKeptSettings(const QString &path, QString &why);
// The kept files of the device with this serial number, newest first; an
// empty serial finds those of devices that had none.
QList<KeptSettings> keptSettingsOf(const QString &serial);
// The kept files a device found in its bootloader may take back, newest
// first by the time each records: those of the chip with this USB serial
// number (its bootloader's form of it), or every device's when it is
// unknown.
QList<KeptSettings> keptSettingsOfChip(const QString &chipSerial);

// What waits to be offered to the device with `serial` after an update
// that began in its bootloader (its port, and so what was kept before the
// attempt that left it there, unknown to this run): its newest file, when
// that one was never offered.
std::optional<KeptSettings> keptSettingsToOffer(const QString &serial);
// Once offered, a file is not offered again (it stays for an import).
void markKeptSettingsOffered(const KeptSettings &kept);

// Whether kept settings belong to the device now on a port with `serial`:
// the same serial number, another one, or no way to tell (neither or only
// one of them has one: the owner is asked).
enum class DeviceMatch { Same, Other, Unknown };
DeviceMatch matchDevice(const KeptSettings &kept, const QString &serial);

// "08/12/2026 00:31, K931 V1.5 Boost": how a kept file is named to a person.
QString describeKept(const KeptSettings &kept);

// What of a settings file can go into a device running `version` whose
// mixtures are in lambda or not: the one rule for an import and a restore.
struct SettingsFit {
    QString problem;         // why nothing can go in (another unit), in Portuguese
    SettingValues values;    // what the device has a place for
    QStringList skipped;     // what it has no place for (the sensor range without Boost)
    QStringList leftAsIs;    // what the device holds and the file does not name
    bool ok() const { return problem.isEmpty(); }
};
SettingsFit fitSettings(const settings::FileContents &contents, const QString &version, bool lambda);

// Once restored, a file this program kept has done its work and goes; any
// other file (one the owner named, or a stranger's) stays where it is.
void forgetKeptSettings(const QString &path);
// Whether the program kept this file itself: in keptSettingsFolder(), under
// a name of its own.
bool isOwnKeptSettings(const QString &path);

} // namespace road
