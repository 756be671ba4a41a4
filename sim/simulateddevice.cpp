#include "simulateddevice.h"

#include "hexfile.h"
#include "serialtestbed.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <utility>

namespace {

constexpr int kWatchPeriodMs = 100;
const QByteArray kVersionMarker = "K931 V";
constexpr int kLongestVersion = 40;
// Where the sample firmware keeps its version text, past the vector table.
constexpr uint32_t kVersionOffset = 0x200;

} // namespace

SimulatedDevice::SimulatedDevice(SerialTestbed &testbed, Timing chosen, QObject *parent)
    : QObject(parent)
    , timing(chosen)
    , flash(std::make_shared<SimulatedStm32>(SimulatedStm32::Clock::RealTime))
    , k931(std::make_unique<SimulatedK931>(testbed))
    , usb(std::make_unique<UsbBootloader>(testbed.handle(), flash))
{
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

SimulatedDevice::SimulatedDevice(SerialTestbed &testbed, QObject *parent)
    : SimulatedDevice(testbed, Timing(), parent)
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
    const QByteArray version = firmwareVersion();
    if (!version.isEmpty())
        k931->values["VERS"] = version;
    // The settings live in flash the write erased: a new firmware starts
    // from its defaults.
    if (std::exchange(firmwareWritten, false))
        k931->restoreDefaultSettings();
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
    unplug();
    QTimer::singleShot(timing.applicationAppearsMs, this, [this] { plugInApplication(); });
}

// The bootloader leaves on its own after a manifestation; after a plain
// write the owner is asked to re-plug, which the simulation does for them.
void SimulatedDevice::watchBootloader()
{
    if (!usb->isPlugged() || flash->hasLeft()) {
        watch.stop();
        QTimer::singleShot(timing.applicationAppearsMs, this, [this] { plugInApplication(); });
        return;
    }
    const int transfers = flash->transfers;
    if (transfers != lastTransfers) {
        wroteSincePlug |= std::any_of(flash->eraseCounts.begin(), flash->eraseCounts.end(),
                                      [](int n) { return n > 0; });
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
    QByteArray version;
    for (auto c = at; c != bytes.end() && *c >= 0x20 && *c < 0x7F && version.size() < kLongestVersion; ++c)
        version.append(char(*c));
    return version;
}

bool SimulatedDevice::writeSampleFirmware(const QString &path, const QByteArray &version)
{
    flashing::FirmwareImage image;
    std::vector<uint8_t> bytes = randomBytes(24 * 1024, uint32_t(qHash(version)));
    std::fill(bytes.begin() + kVersionOffset, bytes.begin() + kVersionOffset + kLongestVersion + 1, 0);
    std::copy(version.begin(), version.end(), bytes.begin() + kVersionOffset);
    image.segments.push_back({SimulatedStm32::kFlashBase, std::move(bytes)});
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QByteArray::fromStdString(toIntelHex(image)));
    return file.commit();
}
