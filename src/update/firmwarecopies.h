// SPDX-License-Identifier: GPL-3.0-or-later
// The copies of the firmware each write replaces, kept for the owner in the
// data folder. Only copies this program wrote count: they are listed in an
// index beside them, in the order they were written, whatever the clock
// said; a file the index does not name is never touched. The newest copies
// stay, and so does, always, the newest one of a device that was running
// its firmware (the good one, taken before "BOOT"), the copy a write takes
// its firmware from, and the copy just made.
#pragma once

#include "flashbackup.h"
#include "usbids.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace road {

constexpr int kFirmwareCopiesKept = 10;
// What one update keeps in the data folder, judged before "BOOT": a copy of
// the F446's flash as Intel HEX (44 characters for each 16 bytes, about
// 1.4 MB), the settings kept beside it and the copies' index (a few KiB
// each; 64 KiB allowed for both).
constexpr qint64 kRoomToKeepBytes = qint64(k931::kFlashBytes) / 16 * 44 + 64 * 1024;

// What the device ran when its flash was copied.
enum class CopyOrigin {
    RunningFirmware,   // it answered on its serial port, then got "BOOT"
    FoundInBootloader, // an update cut short may have left it half-written
    Unknown,
};

struct CopyRequest {
    QString folder;  // empty: no copy
    QString version; // as the device reported it when "BOOT" was sent
    CopyOrigin origin = CopyOrigin::Unknown;
    QString writing; // the file being written: never removed to make room
};

struct FirmwareCopy {
    QString path;
    qint64 bytes = 0;
    qint64 sequence = 0;
    QDateTime written;
    QString version;
    CopyOrigin origin = CopyOrigin::Unknown;
};

struct CopyListing {
    QList<FirmwareCopy> copies; // newest first
    QString note;               // a folder that is a link, an unreadable index
};
CopyListing listFirmwareCopies(const QString &folder);

// Whether a copy can be written into `folder` now (made when missing), with
// kRoomToKeepBytes free on its disk; `why` says what stops it.
bool copiesCanBeKept(const QString &folder, QString &why);

// Handed to a write: saves what it is about to erase, then makes room.
class FirmwareCopyKeeper : public flashing::FlashBackup {
public:
    explicit FirmwareCopyKeeper(CopyRequest request);
    void keep(const flashing::FirmwareImage &old) override;
    void unreadable(int result) override;
    // Once the write has returned: the one line said of the copy (where it
    // went, or why there is none), empty when none was tried.
    QString report() const { return line; }
    QString path() const { return saved; }

private:
    CopyRequest request;
    QString line;
    QString saved;
};

} // namespace road
