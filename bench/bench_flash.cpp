// SPDX-License-Identifier: GPL-3.0-or-later
// Flashing speed against the simulated STM32F446's timing model, and how
// often a running write hands control back to the caller.
//
// Prints, last, as name=value lines:
//   flash_ratio_256k, flash_ratio_512k  our modeled erase+write+verify time
//                                       divided by the model's lower bound
//   peer_ratio_256k, peer_ratio_512k    the same for a host that sleeps the
//                                       device's bwPollTimeout after each block
//   max_callback_gap_ms                 longest wall-clock gap between two
//                                       display callbacks, real-time device
//   backup_overhead_ratio               a full-flash write that first reads
//                                       the old firmware, over the same write
//                                       without (modeled)
#include "dfuseengine.h"
#include "enginebackend.h"
#include "programmer.h"
#include "timing.h"
#include "hexfile.h"
#include "simulatedstm32.h"
#include "usbids.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

using Clock = std::chrono::steady_clock;
namespace t = flashing::timing;

namespace {

flashing::FirmwareImage imageOf(size_t bytes)
{
    flashing::FirmwareImage image;
    image.segments.push_back({SimulatedStm32::kFlashBase, randomBytes(bytes, 42)});
    return image;
}

// Covered-sector erase, programming, and moving every byte over USB once in
// each direction: what no host can beat.
double lowerBoundMs(size_t bytes)
{
    double ms = 0;
    for (int s = 0; s < SimulatedStm32::kSectorCount; ++s) {
        if (SimulatedStm32::sectorStart(s) < SimulatedStm32::kFlashBase + bytes)
            ms += SimulatedStm32::eraseMs(s);
    }
    ms += t::programMs(uint32_t(bytes));
    const size_t blocks = (bytes + SimulatedStm32::kTransferSize - 1) / SimulatedStm32::kTransferSize;
    ms += 2.0 * double(blocks) * t::transferMs(SimulatedStm32::kTransferSize);
    return ms;
}

// A simple host, for comparison: it sleeps the device's bwPollTimeout after
// every busy status before it asks again.
class PollSleepingHost : public flashing::DfuTransport {
public:
    explicit PollSleepingHost(flashing::DfuTransport &device) : usb(device) {}
    flashing::TransferResult controlOut(uint8_t request, uint16_t value, const uint8_t *data, uint16_t length,
                                        unsigned timeoutMs) override
    {
        return usb.controlOut(request, value, data, length, timeoutMs);
    }
    flashing::TransferResult controlIn(uint8_t request, uint16_t value, uint8_t *data, uint16_t length,
                                       unsigned timeoutMs) override
    {
        const flashing::TransferResult got = usb.controlIn(request, value, data, length, timeoutMs);
        flashing::dfu::DeviceStatus status;
        if (request == flashing::dfu::kGetStatus && got.ok()
            && flashing::dfu::decodeStatus(data, size_t(got.bytes()), status)
            && (status.state == flashing::dfu::kDnBusy || status.state == flashing::dfu::kDnloadSync))
            usb.pause(status.pollTimeoutMs);
        return got;
    }
    void pause(unsigned ms) override { usb.pause(ms); }

private:
    flashing::DfuTransport &usb;
};

// Takes the copy and drops it: the host's disk is not part of the model.
class DiscardedBackup : public flashing::FlashBackup {
public:
    void keep(const flashing::FirmwareImage &old) override { bytes = old.byteCount(); }
    void unreadable(int) override {}
    size_t bytes = 0;
};

double modeledWriteMs(size_t bytes, bool sleepPollTimeout, bool backUp = false)
{
    SimulatedStm32 device;
    PollSleepingHost simpleHost(device);
    flashing::MemoryLayout layout;
    flashing::parseMemoryLayout(SimulatedStm32::kFlashLayout, layout);
    flashing::DfuTransport &usb = sleepPollTimeout ? static_cast<flashing::DfuTransport &>(simpleHost) : device;
    flashing::DfuseEngine engine(usb, layout, SimulatedStm32::kTransferSize);
    const double before = device.modeledMs();
    DiscardedBackup backup;
    flashing::WriteHooks hooks;
    hooks.backup = backUp ? &backup : nullptr;
    const int r = engine.write(imageOf(bytes), true, true, nullptr, hooks);
    if (backUp && backup.bytes != bytes)
        std::fprintf(stderr, "backup held %zu bytes, not %zu\n", backup.bytes, bytes);
    if (r != flashing::kOk)
        std::fprintf(stderr, "write failed: %d\n", r);
    return device.modeledMs() - before;
}

struct GapMeter {
    Clock::time_point last;
    double maxGapMs = 0;
    long calls = 0;
} gaps;

void noteCallback()
{
    const auto now = Clock::now();
    if (gaps.calls++ > 0)
        gaps.maxGapMs = std::max(gaps.maxGapMs, std::chrono::duration<double, std::milli>(now - gaps.last).count());
    gaps.last = now;
}

double realTimeMaxGapMs(const std::string &hexPath)
{
    SimulatedBus bus;
    bus.plugChip(SimulatedStm32::Clock::RealTime);
    flashing::setDisplayCallbacks({noteCallback, [](int, const char16_t *) { noteCallback(); },
                                   [](int, int) { noteCallback(); }});
    flashing::DfuDeviceInfo *list = nullptr;
    flashing::getDfuDeviceList(&list, k931::kDfuProduct, k931::kUsbVendor);
    flashing::connectDfuBootloader(list[0].usbIndex);
    const std::u16string path(hexPath.begin(), hexPath.end());
    const auto start = Clock::now();
    const int r = flashing::downloadFile(path.c_str(), k931::kFlashStart, 0, 1, u"");
    const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("real-time 64 KiB write: result %d, %.0f ms, %ld callbacks\n", r, wallMs, gaps.calls);
    return gaps.maxGapMs;
}

} // namespace

int main()
{
    struct Row { const char *name; size_t bytes; double ours, peer, bound; } rows[] = {
        {"256k", 256 * 1024, 0, 0, 0},
        {"512k", 512 * 1024, 0, 0, 0},
    };
    for (Row &row : rows) {
        row.ours = modeledWriteMs(row.bytes, false);
        row.peer = modeledWriteMs(row.bytes, true);
        row.bound = lowerBoundMs(row.bytes);
        std::printf("%s: ours %.0f ms, sleeping host %.0f ms, lower bound %.0f ms (modeled)\n", row.name, row.ours,
                    row.peer, row.bound);
    }

    const double withBackupMs = modeledWriteMs(512 * 1024, false, true);
    std::printf("512k with the backup first: %.0f ms (modeled)\n", withBackupMs);

    const std::string hexPath = "/tmp/tarvik-bench-64k.hex";
    std::ofstream(hexPath) << toIntelHex(imageOf(64 * 1024));
    const double maxGap = realTimeMaxGapMs(hexPath);
    std::remove(hexPath.c_str());

    for (const Row &row : rows)
        std::printf("flash_ratio_%s=%.3f\n", row.name, row.ours / row.bound);
    for (const Row &row : rows)
        std::printf("peer_ratio_%s=%.3f\n", row.name, row.peer / row.bound);
    std::printf("max_callback_gap_ms=%.1f\n", maxGap);
    std::printf("backup_overhead_ratio=%.3f\n", withBackupMs / rows[1].ours);
    return 0;
}
