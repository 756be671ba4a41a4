// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwarecheck.h"

#include "firmwarefile.h"
#include "flashfailure.h"
#include "memorylayout.h"
#include "usbids.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <iterator>

namespace {

// The layout the F446RE's ROM announces for alternate setting 0.
bool isK931Flash(const flashing::MemoryLayout &layout)
{
    struct Run {
        uint32_t count;
        uint32_t size;
    };
    static const Run expected[] = {{4, 16 * 1024}, {1, 64 * 1024}, {3, 128 * 1024}};
    if (layout.runs.size() != std::size(expected) || layout.runs.front().start != k931::kFlashStart)
        return false;
    for (size_t i = 0; i < layout.runs.size(); ++i) {
        if (layout.runs[i].count != expected[i].count || layout.runs[i].size != expected[i].size)
            return false;
    }
    return true;
}

QString hexAddress(uint64_t address)
{
    return QStringLiteral("0x") + QString::number(address, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

} // namespace

FirmwareCheck checkFirmwareFile(const QString &path)
{
    flashing::FirmwareImage image;
    const int read = flashing::loadFirmwareFile(QFile::encodeName(path).toStdString(), k931::kFlashStart, image);
    if (read != flashing::kOk)
        return {read, flashFailureReason(read, path)};
    const uint64_t flashEnd = uint64_t(k931::kFlashStart) + k931::kFlashBytes;
    for (const flashing::Segment &segment : image.segments) {
        if (segment.address < k931::kFlashStart || segment.end() > flashEnd) {
            const uint64_t outside =
                segment.address < k931::kFlashStart ? segment.address : std::max<uint64_t>(segment.address, flashEnd);
            return {flashing::kAddressOutsideFlash,
                    QCoreApplication::translate("FlashWindow", "%1 (dados em %2; a memória do aparelho vai de %3 a %4)")
                        .arg(flashFailureReason(flashing::kAddressOutsideFlash, path), hexAddress(outside),
                             hexAddress(k931::kFlashStart), hexAddress(flashEnd - 1))};
        }
    }
    return {};
}

bool isK931Bootloader(const flashing::DfuDeviceInfo &device)
{
    flashing::MemoryLayout layout;
    return flashing::parseMemoryLayout(device.flashLayout, layout) && isK931Flash(layout);
}

int firstK931Bootloader(const flashing::DfuDeviceInfo *devices, int count)
{
    for (int i = 0; i < count; ++i) {
        if (isK931Bootloader(devices[i]))
            return i;
    }
    return -1;
}
