// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwarecheck.h"

#include "firmwarefile.h"
#include "flashfailure.h"
#include "memorylayout.h"
#include "textcodec.h"
#include "usbids.h"

#include <QCoreApplication>

#include <algorithm>
#include <filesystem>

namespace {

// The layout the F446RE's ROM announces for alternate setting 0 (the access
// letters aside).
bool isK931Flash(const flashing::MemoryLayout &layout)
{
    static const flashing::MemoryLayout expected = [] {
        flashing::MemoryLayout parsed;
        flashing::parseMemoryLayout(k931::kFlashLayout, parsed);
        return parsed;
    }();
    return std::equal(layout.runs.begin(), layout.runs.end(), expected.runs.begin(), expected.runs.end(),
                      [](const flashing::SectorRun &a, const flashing::SectorRun &b) {
                          return a.start == b.start && a.count == b.count && a.size == b.size;
                      });
}

QString hexAddress(uint64_t address)
{
    return QStringLiteral("0x") + QString::number(address, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

QString unreadableReason(const std::string &path)
{
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status))
        return QCoreApplication::translate("FlashWindow", "arquivo não encontrado");
    if (!std::filesystem::is_regular_file(status))
        return QCoreApplication::translate("FlashWindow", "não é um arquivo comum");
    return QCoreApplication::translate("FlashWindow", "sem permissão de leitura");
}

FirmwareCheck loadChecked(const QString &path, flashing::FirmwareImage &image)
{
    // The engine's own conversion: a name that is no UTF-8 (an old Latin-1
    // name) reaches the same file the engine will write from.
    const std::string bytes = flashing::utf16ToUtf8(reinterpret_cast<const char16_t *>(path.utf16()));
    const int read = flashing::loadFirmwareFile(bytes, k931::kFlashStart, image);
    if (read == flashing::kFileNotFound)
        return {read, unreadableReason(bytes)};
    if (read != flashing::kOk)
        return {read, flashFailureReason(read, path)};
    return {};
}

bool holds(const flashing::FirmwareImage &image, uint64_t address, uint64_t bytes)
{
    for (const flashing::Segment &segment : image.segments) {
        if (segment.address <= address && address + bytes <= segment.end())
            return true;
    }
    return false;
}

uint32_t wordAt(const flashing::FirmwareImage &image, uint64_t address)
{
    for (const flashing::Segment &segment : image.segments) {
        if (segment.address <= address && address + 4 <= segment.end()) {
            const uint8_t *p = segment.data.data() + (address - segment.address);
            return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        }
    }
    return 0;
}

// Why the chip would not start the image at `start`; empty when it would.
// Without a stack range any stack pointer is taken.
QString vectorTableProblem(const flashing::FirmwareImage &image, uint64_t start, uint64_t stackLow,
                           uint64_t stackHigh)
{
    if (!holds(image, start, 8))
        return QCoreApplication::translate("FlashWindow", "o arquivo não tem dados no início da memória (%1)")
            .arg(hexAddress(start));
    const uint32_t stack = wordAt(image, start);
    const uint32_t reset = wordAt(image, start + 4);
    if (stackHigh > stackLow && (stack <= stackLow || stack > stackHigh))
        return QCoreApplication::translate("FlashWindow",
                                           "a pilha inicial (%1) fica fora da RAM do aparelho (%2 a %3)")
            .arg(hexAddress(stack), hexAddress(stackLow), hexAddress(stackHigh));
    if ((reset & 1u) == 0 || !holds(image, reset & ~1u, 2))
        return QCoreApplication::translate("FlashWindow",
                                           "o endereço de início (%1) não aponta para o código do arquivo")
            .arg(hexAddress(reset));
    return QString();
}

} // namespace

FirmwareCheck readFirmwareFile(const QString &path, flashing::FirmwareImage *image)
{
    flashing::FirmwareImage read;
    const FirmwareCheck check = loadChecked(path, read);
    if (image)
        *image = check.ok() ? std::move(read) : flashing::FirmwareImage();
    return check;
}

FirmwareCheck checkFirmwareImage(const flashing::FirmwareImage &image, const QString &path)
{
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
    const QString start =
        vectorTableProblem(image, k931::kFlashStart, k931::kSramStart, uint64_t(k931::kSramStart) + k931::kSramBytes);
    if (!start.isEmpty())
        return {flashing::kInvalidFile,
                QCoreApplication::translate("FlashWindow", "não é um firmware do K931: %1").arg(start)};
    return {};
}

FirmwareCheck checkFirmwareFile(const QString &path, flashing::FirmwareImage *image)
{
    flashing::FirmwareImage read;
    FirmwareCheck check = loadChecked(path, read);
    if (check.ok())
        check = checkFirmwareImage(read, path);
    if (image)
        *image = check.ok() ? std::move(read) : flashing::FirmwareImage();
    return check;
}

QString startWarning(const flashing::FirmwareImage &image)
{
    if (image.segments.empty())
        return QString();
    uint64_t lowest = image.segments.front().address;
    for (const flashing::Segment &segment : image.segments)
        lowest = std::min<uint64_t>(lowest, segment.address);
    const QString problem = vectorTableProblem(image, lowest, 0, 0);
    // The flash begins lower than the file: both are named, or it would
    // read as if the memory began where the file does.
    if (!problem.isEmpty() && lowest > k931::kFlashStart && !holds(image, lowest, 8))
        return QCoreApplication::translate("FlashWindow",
                                           "o arquivo não tem dados no início da memória flash (%1): os dados dele "
                                           "começam em %2")
            .arg(hexAddress(k931::kFlashStart), hexAddress(lowest));
    return problem;
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

int firstUnreadableBootloader(const flashing::DfuDeviceInfo *devices, int count)
{
    for (int i = 0; i < count; ++i) {
        if (devices[i].flashLayout[0] == '\0')
            return i;
    }
    return -1;
}
