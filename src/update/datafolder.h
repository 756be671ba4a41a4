// SPDX-License-Identifier: GPL-3.0-or-later
// Where the program keeps the owner's files (firmware copies, settings kept
// across an update): the window's data folder, whichever program asks, so
// that the owner finds them in one place.
#pragma once

#include <QDateTime>
#include <QString>

namespace road {

// QStandardPaths' AppDataLocation of Tarvik Connect.
QString dataFolder();
// Its sub-folder for the copies of the firmware each write replaces.
QString backupFolder();
// Its sub-folder for the settings kept across an update.
QString keptSettingsFolder();

// "2026-12-08_003112_K931_V1.5_Boost.hex": the name of every file the
// program keeps for the owner. It reads by time; the label keeps letters,
// digits, '.' and '-', anything else becomes '_'.
QString keptFileName(const QDateTime &when, const QString &label, const QString &suffix);

} // namespace road
