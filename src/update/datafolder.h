// SPDX-License-Identifier: GPL-3.0-or-later
// Where the program keeps the owner's files (firmware copies, settings kept
// across an update): the window's data folder, whichever program asks, so
// that the owner finds them in one place.
#pragma once

#include <QString>

namespace road {

// QStandardPaths' AppDataLocation of Tarvik Connect.
QString dataFolder();
// Its sub-folder for the copies of the firmware each write replaces.
QString backupFolder();
// Hands that folder to the flashing library, or none: no copy is made.
void keepFirmwareBackups(bool keep);

} // namespace road
