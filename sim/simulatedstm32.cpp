// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulatedstm32.h"

#include "enginebackend.h"
#include "result.h"
#include "timing.h"
#include "usbids.h"

#include <algorithm>
#include <cstring>
#include <thread>

using namespace flashing;
namespace t = flashing::timing;

const char *const SimulatedStm32::kFlashLayout = k931::kFlashLayout;

namespace {

constexpr uint32_t kSetAddressPollMs = 104;
constexpr uint32_t kOtherPollMs = 100;
constexpr double kSetAddressMs = 0.05;
constexpr double kMassEraseMs = 8000.0;

} // namespace

SimulatedStm32::SimulatedStm32(Clock clock)
    : flash(kFlashSize, 0xFF)
    , clockMode(clock)
{
}

int SimulatedStm32::sectorIndex(uint32_t address)
{
    if (address < kFlashBase || address >= kFlashBase + kFlashSize)
        return -1;
    const uint32_t offset = address - kFlashBase;
    if (offset < 0x10000)
        return int(offset / 0x4000);
    if (offset < 0x20000)
        return 4;
    return 5 + int((offset - 0x20000) / 0x20000);
}

uint32_t SimulatedStm32::sectorStart(int index)
{
    if (index < 4)
        return kFlashBase + uint32_t(index) * 0x4000;
    if (index == 4)
        return kFlashBase + 0x10000;
    return kFlashBase + 0x20000 + uint32_t(index - 5) * 0x20000;
}

uint32_t SimulatedStm32::sectorSize(int index)
{
    return index < 4 ? 0x4000 : index == 4 ? 0x10000 : 0x20000;
}

double SimulatedStm32::eraseMs(int sector)
{
    return t::sectorEraseMs(sectorSize(sector));
}

double SimulatedStm32::modeledMs() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return clockMs;
}

bool SimulatedStm32::hasLeft() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return gone;
}

void SimulatedStm32::powerCycle()
{
    std::lock_guard<std::mutex> lock(mutex);
    gone = false;
    faults.goneAfterTransfers = -1;
    dfuState = dfu::kDfuIdle;
    dfuStatus = dfu::kStatusOk;
    pending = Op::None;
}

uint8_t SimulatedStm32::state() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return dfuState;
}

void SimulatedStm32::selectInterface()
{
    std::lock_guard<std::mutex> lock(mutex);
    dfuState = dfu::kDfuError;
    dfuStatus = dfu::kErrUnknown;
}

// In real time the device's work runs from whichever is later: the end of
// its previous work, or now (the host may have been idle in between).
void SimulatedStm32::advance(double ms)
{
    clockMs += ms;
    if (clockMode != Clock::RealTime)
        return;
    const auto now = std::chrono::steady_clock::now();
    realBusyUntil = std::max(realBusyUntil, now) + std::chrono::microseconds(int64_t(ms * 1000.0));
    std::this_thread::sleep_until(realBusyUntil);
}

void SimulatedStm32::pause(unsigned ms)
{
    std::lock_guard<std::mutex> lock(mutex);
    advance(ms);
}

TransferResult SimulatedStm32::stall(uint8_t status)
{
    dfuState = dfu::kDfuError;
    dfuStatus = status;
    return TransferError::Stall;
}

std::optional<TransferResult> SimulatedStm32::beginTransfer(uint32_t bytes)
{
    if (gone)
        return TransferError::NoDevice;
    ++transfers;
    if (faults.goneAfterTransfers >= 0 && transfers > faults.goneAfterTransfers) {
        gone = true;
        return TransferError::NoDevice;
    }
    advance(t::transferMs(bytes));
    if (transfers == faults.stallTransfer) {
        return stall(dfu::kErrStalledPacket);
    }
    return std::nullopt;
}

TransferResult SimulatedStm32::answerBlock(int bytes)
{
    Faults::LostAnswers &lost = faults.lostBlockAnswers;
    ++dataBlocks;
    if (lost.from < 0 || dataBlocks < lost.from || lost.count <= 0 || (dataBlocks - lost.from) % lost.every != 0)
        return TransferResult::moved(bytes);
    --lost.count;
    ++lostAnswers;
    return TransferError::Timeout;
}

TransferResult SimulatedStm32::controlOut(uint8_t request, uint16_t value, const uint8_t *data, uint16_t length, unsigned)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (const auto refused = beginTransfer(length))
        return *refused;
    switch (request) {
    case dfu::kDnload: {
        if (dfuState != dfu::kDfuIdle && dfuState != dfu::kDnloadIdle)
            return stall(dfu::kErrStalledPacket);
        if (value == 0) {
            if (length == 0) {
                pending = Op::Leave;
            } else if (data[0] == dfu::kCmdSetAddress && length == 5) {
                pending = Op::SetAddress;
            } else if (data[0] == dfu::kCmdErase && length == 5) {
                pending = Op::Erase;
            } else if (data[0] == dfu::kCmdErase && length == 1) {
                pending = Op::MassErase;
            } else if (data[0] == dfu::kCmdReadUnprotect && length == 1) {
                pending = Op::ReadUnprotect;
            } else {
                return stall(dfu::kErrStalledPacket);
            }
            pendingAddress = length == 5 ? uint32_t(data[1]) | uint32_t(data[2]) << 8 | uint32_t(data[3]) << 16
                                               | uint32_t(data[4]) << 24
                                         : 0;
        } else if (value >= dfu::kFirstDataBlock && length > 0 && length <= kTransferSize) {
            pending = Op::Write;
            pendingAddress = pointer + uint32_t(value - dfu::kFirstDataBlock) * kTransferSize;
            pendingData.assign(data, data + length);
        } else {
            return stall(dfu::kErrStalledPacket);
        }
        dfuState = dfu::kDnloadSync;
        return value == 0 ? TransferResult::moved(length) : answerBlock(length);
    }
    case dfu::kClrStatus:
        if (dfuState != dfu::kDfuError)
            return stall(dfu::kErrStalledPacket);
        dfuState = dfu::kDfuIdle;
        dfuStatus = dfu::kStatusOk;
        return TransferResult::moved(0);
    case dfu::kAbort:
        if (dfuState == dfu::kDfuError || dfuState == dfu::kDnBusy)
            return stall(dfu::kErrStalledPacket);
        dfuState = dfu::kDfuIdle;
        pending = Op::None;
        return TransferResult::moved(0);
    default:
        return stall(dfu::kErrStalledPacket);
    }
}

void SimulatedStm32::applyWrite(uint32_t address, const std::vector<uint8_t> &bytes, uint8_t &status)
{
    if (sectorIndex(address) < 0 || sectorIndex(address + uint32_t(bytes.size()) - 1) < 0) {
        status = dfu::kErrTarget;
        return;
    }
    if (faults.writeFails) {
        status = dfu::kErrWrite;
        return;
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint32_t at = address + uint32_t(i);
        if (sectorIndex(at) == faults.writeProtectedSector)
            continue;
        uint8_t &cell = flash[at - kFlashBase];
        // Flash programming only clears bits.
        if ((cell & bytes[i]) != bytes[i]) {
            status = dfu::kErrProg;
            return;
        }
        cell = bytes[i];
    }
}

// The first GETSTATUS after a DNLOAD starts the operation; returns its status
// and how long it runs.
uint8_t SimulatedStm32::startOperation(double &durationMs)
{
    durationMs = 0;
    uint8_t status = dfu::kStatusOk;
    const bool locked = faults.readProtected;
    switch (pending) {
    case Op::SetAddress:
        pointer = pendingAddress;
        durationMs = kSetAddressMs;
        break;
    case Op::Erase: {
        const int sector = sectorIndex(pendingAddress);
        if (locked) {
            status = dfu::kErrVendor;
        } else if (sector < 0) {
            status = dfu::kErrTarget;
        } else {
            durationMs = eraseMs(sector);
            if (faults.eraseFails) {
                status = dfu::kErrErase;
            } else if (faults.eraseRefused) {
                status = dfu::kErrTarget;
            } else if (sector != faults.writeProtectedSector) {
                std::fill_n(flash.begin() + (sectorStart(sector) - kFlashBase), sectorSize(sector), 0xFF);
                ++eraseCounts[size_t(sector)];
            }
        }
        break;
    }
    case Op::MassErase:
        massEraseSeen = true;
        durationMs = kMassEraseMs;
        if (locked)
            status = dfu::kErrVendor;
        else
            std::fill(flash.begin(), flash.end(), 0xFF);
        break;
    case Op::Write:
        durationMs = t::programMs(uint32_t(pendingData.size()));
        if (locked)
            status = dfu::kErrVendor;
        else
            applyWrite(pendingAddress, pendingData, status);
        break;
    case Op::ReadUnprotect:
        readUnprotectSeen = true;
        std::fill(flash.begin(), flash.end(), 0xFF);
        gone = true; // it resets itself
        break;
    case Op::Leave:
    case Op::None:
        break;
    }
    return status;
}

TransferResult SimulatedStm32::controlIn(uint8_t request, uint16_t value, uint8_t *data, uint16_t length, unsigned)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (const auto refused = beginTransfer(request == dfu::kUpload ? length : 6))
        return *refused;
    switch (request) {
    case dfu::kGetStatus: {
        if (length < dfu::kStatusLength)
            return stall(dfu::kErrStalledPacket);
        uint32_t poll = 0;
        if (dfuState == dfu::kDnloadSync) {
            double duration = 0;
            pendingResult = startOperation(duration);
            pendingPollTimeout = pending == Op::SetAddress ? kSetAddressPollMs : kOtherPollMs;
            busyUntilMs = clockMs + duration;
            dfuState = dfu::kDnBusy;
            poll = pendingPollTimeout;
        } else if (dfuState == dfu::kDnBusy) {
            // The ROM holds its answer until the operation is over.
            if (busyUntilMs > clockMs)
                advance(busyUntilMs - clockMs);
            dfuStatus = pendingResult;
            dfuState = pendingResult == dfu::kStatusOk ? (pending == Op::Leave ? dfu::kManifest : dfu::kDnloadIdle)
                                                       : dfu::kDfuError;
            if (pending == Op::Leave)
                gone = true;
            pending = Op::None;
        }
        data[0] = dfuStatus;
        data[1] = uint8_t(poll);
        data[2] = uint8_t(poll >> 8);
        data[3] = uint8_t(poll >> 16);
        data[4] = dfuState;
        data[5] = 0;
        return TransferResult::moved(int(dfu::kStatusLength));
    }
    case dfu::kGetState:
        if (length < 1)
            return stall(dfu::kErrStalledPacket);
        data[0] = dfuState;
        return TransferResult::moved(1);
    case dfu::kUpload: {
        if (dfuState != dfu::kDfuIdle && dfuState != dfu::kUploadIdle)
            return stall(dfu::kErrStalledPacket);
        if (value == 0) {
            const uint8_t commands[] = {dfu::kCmdGetCommands, dfu::kCmdSetAddress, dfu::kCmdErase,
                                        dfu::kCmdReadUnprotect};
            const uint16_t n = std::min<uint16_t>(length, sizeof commands);
            std::memcpy(data, commands, n);
            dfuState = dfu::kUploadIdle;
            return TransferResult::moved(n);
        }
        if (value < dfu::kFirstDataBlock || length > kTransferSize)
            return stall(dfu::kErrStalledPacket);
        if (faults.readProtected || faults.uploadRefused)
            return stall(dfu::kErrVendor);
        const uint32_t address = pointer + uint32_t(value - dfu::kFirstDataBlock) * kTransferSize;
        if (sectorIndex(address) < 0 || sectorIndex(address + length - 1u) < 0) {
            readPastEndSeen = true; // the real ROM is reported to crash here
            gone = true;
            return TransferError::NoDevice;
        }
        std::memcpy(data, flash.data() + (address - kFlashBase), length);
        if (faults.corruptReadBack && length > 0)
            data[length / 2] ^= 0x10;
        dfuState = dfu::kUploadIdle;
        return answerBlock(length);
    }
    default:
        return stall(dfu::kErrStalledPacket);
    }
}

// A thin handle for the engine backend, which owns its transport.
namespace {
class SimulatorLink : public DfuTransport {
public:
    explicit SimulatorLink(std::shared_ptr<SimulatedStm32> d) : device(std::move(d)) {}
    TransferResult controlOut(uint8_t r, uint16_t v, const uint8_t *d, uint16_t l, unsigned t) override
    {
        return device->controlOut(r, v, d, l, t);
    }
    TransferResult controlIn(uint8_t r, uint16_t v, uint8_t *d, uint16_t l, unsigned t) override
    {
        return device->controlIn(r, v, d, l, t);
    }
    void pause(unsigned ms) override { device->pause(ms); }

private:
    std::shared_ptr<SimulatedStm32> device;
};
} // namespace

void SimulatedProvider::plug(std::shared_ptr<SimulatedStm32> device, const std::string &serial,
                             const std::string &flashLayout)
{
    std::lock_guard<std::mutex> lock(mutex);
    const std::string reported = serial.empty() ? device->uniqueId.usbSerial() : serial;
    Entry entry{std::move(device),
                {"1-" + std::to_string(nextIndex++), reported, "STM32  BOOTLOADER",
                 flashLayout.empty() ? SimulatedStm32::kFlashLayout : flashLayout}};
    entries.push_back(std::move(entry));
}

void SimulatedProvider::unplugAll()
{
    std::lock_guard<std::mutex> lock(mutex);
    entries.clear();
}

std::vector<DeviceRecord> SimulatedProvider::list(int productId, int vendorId)
{
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<DeviceRecord> records;
    if (productId != k931::kDfuProduct || vendorId != k931::kUsbVendor)
        return records;
    for (const Entry &e : entries)
        records.push_back(e.record);
    return records;
}

int SimulatedProvider::open(const std::string &usbIndex, OpenedDevice &out)
{
    std::lock_guard<std::mutex> lock(mutex);
    for (const Entry &e : entries) {
        if (e.record.usbIndex == usbIndex) {
            e.device->selectInterface();
            out.transport = std::make_unique<SimulatorLink>(e.device);
            out.layoutText = e.record.flashLayout;
            out.transferSize = SimulatedStm32::kTransferSize;
            return kOk;
        }
    }
    return kDeviceNotFound;
}

SimulatedBus::SimulatedBus()
{
    auto owned = std::make_unique<SimulatedProvider>();
    provider = owned.get();
    previous = installBackend(std::make_unique<EngineBackend>(std::move(owned)));
}

SimulatedBus::~SimulatedBus()
{
    installBackend(std::move(previous));
}

std::shared_ptr<SimulatedStm32> SimulatedBus::plugChip(SimulatedStm32::Clock clock, uint8_t fill)
{
    auto chip = std::make_shared<SimulatedStm32>(clock);
    std::fill(chip->flash.begin(), chip->flash.end(), fill);
    provider->plug(chip);
    return chip;
}
