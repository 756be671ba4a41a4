// SPDX-License-Identifier: GPL-3.0-or-later
// What makes a firmware file and a bootloader the K931's: checked before
// "BOOT" is sent and before a write, by the window and the command line
// alike, so that a device is never sent to its bootloader for a file it
// cannot take, nor another board written with the K931's firmware.
#pragma once

#include "firmwareimage.h"
#include "programmer.h"

#include <QString>

struct FirmwareCheck {
    int result = flashing::kOk; // a flashing result code
    QString reason;             // in Portuguese, empty when the file is fine
    bool ok() const { return result == flashing::kOk; }
};

// A regular, readable file holding valid Intel HEX (or a .bin image); the
// reason names which of these it is not, in the words a person checks a
// file by. The file is read once: with `image`, what was read goes there
// (empty when refused), so that what is written is what was checked, even
// when the file changes on disk afterwards.
FirmwareCheck readFirmwareFile(const QString &path, flashing::FirmwareImage *image = nullptr);
// Every byte inside the K931's flash, and a start the F446 can run: a
// vector table at the flash's start whose initial stack pointer lies in its
// SRAM and whose reset vector is a Thumb address inside the image's data.
// `path` only names the file in the reason.
FirmwareCheck checkFirmwareImage(const flashing::FirmwareImage &image, const QString &path);
// Both of them, on a file read once.
FirmwareCheck checkFirmwareFile(const QString &path, flashing::FirmwareImage *image = nullptr);
// For an image meant for any chip: what makes its first words no vector
// table a Cortex-M could start from (no data at its lowest address, a reset
// vector without the Thumb bit or outside the image's data); empty when
// nothing does.
QString startWarning(const flashing::FirmwareImage &image);

// Whether a listed bootloader announces the K931 chip's internal flash.
bool isK931Bootloader(const flashing::DfuDeviceInfo &device);
// The index of the first K931 bootloader in a listing, or -1.
int firstK931Bootloader(const flashing::DfuDeviceInfo *devices, int count);
// The first bootloader listed without its memory layout: the system would
// not let this program open it to read its strings (no udev rule, or no
// WinUSB driver on Windows), so it may well be the K931's. -1 if none.
int firstUnreadableBootloader(const flashing::DfuDeviceInfo *devices, int count);
