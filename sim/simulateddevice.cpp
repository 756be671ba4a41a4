// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulateddevice.h"

#include "hexfile.h"
#include "serialtestbed.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <numeric>
#include <utility>

namespace {

constexpr int kWatchPeriodMs = 100;
const QByteArray kVersionMarker = "K931 V";
constexpr int kLongestVersion = 40;
// The sample firmware's own layout: the vector table (initial stack pointer,
// reset handler), its length in the last word before the version text, the
// version text, and an end mark in its last four bytes.
constexpr uint32_t kLengthOffset = 0x1FC;
constexpr uint32_t kVersionOffset = 0x200;
constexpr uint32_t kSampleBytes = 24 * 1024;
constexpr uint32_t kStackTop = 0x20020000;     // the F446's 128 KiB of SRAM
constexpr uint32_t kResetHandler = 0x080001C1; // a Thumb address in flash
const QByteArray kEndMark = "K9E!";
// What the chip holds from the factory.
const QByteArray kFactoryVersion = "K931 V1.5 Boost";

// The first device's bootloader on USB 1-3 as ever; the others' beyond the
// serial ports' 1-1, 1-2, ...
UsbBootloader::Options bootloaderOf(int index)
{
    UsbBootloader::Options options;
    options.port = index == 0 ? options.port : 10 + index;
    options.serial.clear(); // the ROM's, from the chip's unique ID
    return options;
}

uint32_t wordAt(const std::vector<uint8_t> &bytes, size_t offset)
{
    return offset + 4 <= bytes.size() ? uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8
                                            | uint32_t(bytes[offset + 2]) << 16 | uint32_t(bytes[offset + 3]) << 24
                                      : 0xFFFFFFFFu;
}

void putWord(std::vector<uint8_t> &bytes, size_t offset, uint32_t word)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + size_t(i)] = uint8_t(word >> (8 * i));
}

} // namespace

SimulatedDevice::SimulatedDevice(SerialTestbed &testbed, Timing chosen, int index, QObject *parent)
    : QObject(parent)
    , timing(chosen)
    , flash(std::make_shared<SimulatedStm32>(SimulatedStm32::Clock::RealTime))
    , k931(std::make_unique<SimulatedK931>(testbed, SimulatedK931::Identity{index}))
    , usb(std::make_unique<UsbBootloader>(testbed.handle(), flash, bootloaderOf(index)))
{
    // One chip behind both: the application's port and the ROM bootloader
    // carry the same serial number, as the vendor's USB stack makes it.
    flash->uniqueId = ChipId::ofDevice(index);
    k931->serialNumber = QByteArray::fromStdString(flash->uniqueId.usbSerial());
    const flashing::FirmwareImage factory = sampleFirmware(kFactoryVersion);
    std::copy(factory.segments.front().data.begin(), factory.segments.front().data.end(), flash->flash.begin());
    connect(k931.get(), &SimulatedK931::bootReceived, this, [this] {
        if (!k931->leaveOnBoot)
            return;
        QTimer::singleShot(timing.bootloaderAppearsMs, this, [this] {
            if (!k931->isPlugged())
                plugInBootloader();
        });
    });
    connect(&watch, &QTimer::timeout, this, &SimulatedDevice::watchBootloader);
}

SimulatedDevice::SimulatedDevice(SerialTestbed &testbed, Timing chosen, QObject *parent)
    : SimulatedDevice(testbed, chosen, 0, parent)
{
}

SimulatedDevice::SimulatedDevice(SerialTestbed &testbed, QObject *parent)
    : SimulatedDevice(testbed, Timing(), 0, parent)
{
}

SimulatedDevice::~SimulatedDevice()
{
    unplug();
}

bool SimulatedDevice::plugInApplication()
{
    usb->unplug();
    watch.stop();
    // A new firmware reports its own version, and starts from its default
    // settings: they live in the flash the write erased.
    if (std::exchange(firmwareWritten, false)) {
        const QByteArray version = firmwareVersion();
        if (!version.isEmpty())
            k931->values["VERS"] = version;
        k931->restoreDefaultSettings();
    }
    if (!k931->plug())
        return false;
    emit applicationAppeared();
    return true;
}

bool SimulatedDevice::plugInBootloader()
{
    k931->unplug();
    if (!usb->plug())
        return false;
    lastTransfers = flash->transfers;
    erasesAtPlug = erasesSoFar();
    quietMs = 0;
    wroteSincePlug = false;
    watch.start(kWatchPeriodMs);
    emit bootloaderAppeared();
    return true;
}

void SimulatedDevice::unplug()
{
    watch.stop();
    k931->unplug();
    usb->unplug();
}

void SimulatedDevice::replug()
{
    const bool inBootloader = usb->isPlugged() && !flash->hasLeft();
    if (!externalPower) {
        powerCycle();
        return;
    }
    unplug();
    QTimer::singleShot(timing.applicationAppearsMs, this, [this, inBootloader] {
        if (inBootloader)
            plugInBootloader();
        else
            plugInApplication();
    });
}

void SimulatedDevice::powerCycle()
{
    unplug();
    QTimer::singleShot(timing.applicationAppearsMs, this, &SimulatedDevice::startFromFlash);
}

// At power-on, or after the bootloader's manifestation: the chip runs what
// its flash holds; a broken image shows nothing on USB.
void SimulatedDevice::startFromFlash()
{
    if (flashHoldsCompleteImage())
        plugInApplication();
}

bool SimulatedDevice::flashHoldsCompleteImage() const
{
    const auto &bytes = flash->flash;
    const uint32_t length = wordAt(bytes, kLengthOffset);
    if (wordAt(bytes, 0) != kStackTop || wordAt(bytes, 4) != kResetHandler || length <= kVersionOffset
        || length > bytes.size())
        return false;
    return std::equal(kEndMark.begin(), kEndMark.end(), bytes.begin() + (length - 4));
}

// The bootloader leaves on its own after a manifestation; after a plain
// write the owner is asked to re-plug, which the simulation does for them.
int SimulatedDevice::erasesSoFar() const
{
    return std::accumulate(flash->eraseCounts.begin(), flash->eraseCounts.end(), 0);
}

void SimulatedDevice::watchBootloader()
{
    if (!usb->isPlugged() || flash->hasLeft()) {
        watch.stop();
        QTimer::singleShot(timing.applicationAppearsMs, this, &SimulatedDevice::startFromFlash);
        return;
    }
    const int transfers = flash->transfers;
    if (transfers != lastTransfers) {
        // Only an erase since this plug is a write the owner re-plugs after;
        // a listing or a refused file is not.
        wroteSincePlug |= erasesSoFar() > erasesAtPlug;
        firmwareWritten |= wroteSincePlug;
        lastTransfers = transfers;
        quietMs = 0;
        return;
    }
    quietMs += kWatchPeriodMs;
    if (wroteSincePlug && timing.replugAfterWriteMs > 0 && quietMs >= timing.replugAfterWriteMs) {
        watch.stop();
        replug();
    }
}

QByteArray SimulatedDevice::firmwareVersion() const
{
    const auto &bytes = flash->flash;
    const auto at = std::search(bytes.begin(), bytes.end(), kVersionMarker.begin(), kVersionMarker.end());
    if (at == bytes.end())
        return {};
    // Printable ASCII and the bytes of UTF-8 sequences, up to the NUL.
    QByteArray version;
    for (auto c = at; c != bytes.end() && (*c >= 0x20 && *c != 0x7F) && version.size() < kLongestVersion; ++c)
        version.append(char(*c));
    return version;
}

flashing::FirmwareImage SimulatedDevice::sampleFirmware(const QByteArray &version)
{
    std::vector<uint8_t> bytes = randomBytes(kSampleBytes, uint32_t(qHash(version)));
    putWord(bytes, 0, kStackTop);
    putWord(bytes, 4, kResetHandler);
    putWord(bytes, kLengthOffset, kSampleBytes);
    std::fill(bytes.begin() + kVersionOffset, bytes.begin() + kVersionOffset + kLongestVersion + 1, 0);
    std::copy(version.begin(), version.begin() + std::min<qsizetype>(version.size(), kLongestVersion),
              bytes.begin() + kVersionOffset);
    std::copy(kEndMark.begin(), kEndMark.end(), bytes.end() - kEndMark.size());
    flashing::FirmwareImage image;
    image.segments.push_back({SimulatedStm32::kFlashBase, std::move(bytes)});
    return image;
}

bool SimulatedDevice::writeSampleFirmware(const QString &path, const QByteArray &version)
{
    const flashing::FirmwareImage image = sampleFirmware(version);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QByteArray::fromStdString(toIntelHex(image)));
    return file.commit();
}
