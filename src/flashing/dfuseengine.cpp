// SPDX-License-Identifier: GPL-3.0-or-later
#include "dfuseengine.h"

#include "result.h"
#include "timing.h"

#include <algorithm>
#include <cstring>

namespace flashing {
namespace {

constexpr uint16_t kLastBlockNumber = 0xFFFF;

bool isBusy(uint8_t state)
{
    return state == dfu::kDnBusy || state == dfu::kDnloadSync;
}

int unexpectedState(uint8_t state)
{
    return kUnexpectedStateBase - int(state);
}

} // namespace

DfuseEngine::DfuseEngine(DfuTransport &transport, const MemoryLayout &memoryLayout, uint16_t transferSize)
    : usb(transport)
    , layout(memoryLayout)
    , blockSize(transferSize)
{
}

int DfuseEngine::resultForStatus(uint8_t status)
{
    switch (status) {
    case dfu::kStatusOk: return kOk;
    case dfu::kErrVendor: return kReadProtected;
    case dfu::kErrErase:
    case dfu::kErrCheckErased: return kEraseError;
    case dfu::kErrWrite:
    case dfu::kErrProg: return kWriteError;
    case dfu::kErrVerify: return kVerifyMismatch;
    case dfu::kErrTarget:
    case dfu::kErrAddress: return kAddressOutsideFlash;
    default: return kDeviceStatusBase - int(status);
    }
}

int DfuseEngine::getStatus(dfu::DeviceStatus &status, unsigned timeoutMs)
{
    uint8_t reply[dfu::kStatusLength] = {};
    const TransferResult got = usb.controlIn(dfu::kGetStatus, 0, reply, sizeof reply, timeoutMs);
    if (!got.ok())
        return lostOnTheWire(got.error());
    return dfu::decodeStatus(reply, size_t(got.bytes()), status) ? kOk : lostOnTheWire(TransferError::Io);
}

int DfuseEngine::lostOnTheWire(TransferError transferError)
{
    wireFault = transferError != TransferError::NoDevice;
    return kUsbError;
}

// A refused request leaves the reason in the device's status; a vanished
// device leaves nothing to ask.
int DfuseEngine::failedTransfer(TransferError transferError)
{
    if (transferError != TransferError::Stall)
        return lostOnTheWire(transferError);
    dfu::DeviceStatus status;
    if (getStatus(status, timing::kControlTimeoutMs) != kOk)
        return kUsbError;
    if (status.state == dfu::kDfuError && status.status != dfu::kStatusOk && status.status != dfu::kErrStalledPacket)
        return resultForStatus(status.status);
    return lostOnTheWire(transferError);
}

void DfuseEngine::startRetries()
{
    retriesLeft = kRetriesPerWrite;
    wireFault = false;
}

// The device's own reasons (errWRITE, errTARGET, ...) would only come again,
// and a device gone stays gone: only what the cable lost is sent again, from
// dfuIDLE.
bool DfuseEngine::retryAfter(int result, int &retriesOfBlock)
{
    if (result != kUsbError || !wireFault || retriesOfBlock >= kRetriesPerBlock || retriesLeft <= 0)
        return false;
    ++retriesOfBlock;
    --retriesLeft;
    wireFault = false;
    return recover() == kOk;
}

// After a DNLOAD: the first GETSTATUS starts the operation, the next ones
// report when it is over. The ROM holds its answer until then, so asking at
// once costs nothing; a device that answers "busy" at once is asked again
// after its poll timeout, capped so that progress keeps flowing.
int DfuseEngine::waitUntilIdle()
{
    dfu::DeviceStatus status;
    if (getStatus(status, timing::kControlTimeoutMs) != kOk)
        return kUsbError;
    unsigned waitedMs = 0;
    bool first = true;
    while (isBusy(status.state)) {
        if (!first) {
            const unsigned pause = std::min<unsigned>(status.pollTimeoutMs, timing::kBusyRetryPauseCapMs);
            usb.pause(pause);
            waitedMs += pause + 1;
        }
        if (waitedMs > timing::kBusyDeadlineMs)
            return kUsbError;
        first = false;
        if (getStatus(status, timing::kBusyStatusTimeoutMs) != kOk)
            return kUsbError;
    }
    if (status.state == dfu::kDfuError)
        return status.status == dfu::kStatusOk ? unexpectedState(status.state) : resultForStatus(status.status);
    if (status.state != dfu::kDnloadIdle && status.state != dfu::kDfuIdle)
        return unexpectedState(status.state);
    return kOk;
}

int DfuseEngine::command(uint8_t opcode, uint32_t address, bool withAddress)
{
    const uint8_t bytes[5] = {opcode, uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16),
                              uint8_t(address >> 24)};
    const uint16_t length = withAddress ? 5 : 1;
    const TransferResult sent = usb.controlOut(dfu::kDnload, 0, bytes, length, timing::kControlTimeoutMs);
    if (!sent.ok())
        return failedTransfer(sent.error());
    if (sent.bytes() != length)
        return lostOnTheWire(TransferError::Io);
    return waitUntilIdle();
}

int DfuseEngine::abortToIdle()
{
    const TransferResult r = usb.controlOut(dfu::kAbort, 0, nullptr, 0, timing::kControlTimeoutMs);
    return r.ok() ? kOk : failedTransfer(r.error());
}

int DfuseEngine::recover()
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        dfu::DeviceStatus status;
        if (getStatus(status, timing::kControlTimeoutMs) != kOk)
            return kUsbError;
        if (status.state == dfu::kDfuIdle)
            return kOk;
        if (isBusy(status.state)) {
            if (waitUntilIdle() == kUsbError)
                return kUsbError;
            continue;
        }
        // dfuERROR needs CLRSTATUS; the other idle states leave with ABORT.
        const uint8_t request = status.state == dfu::kDfuError ? dfu::kClrStatus : dfu::kAbort;
        const TransferResult r = usb.controlOut(request, 0, nullptr, 0, timing::kControlTimeoutMs);
        if (!r.ok() && r.error() != TransferError::Stall)
            return kUsbError;
    }
    return kUsbError;
}

int DfuseEngine::checkImage(const FirmwareImage &image, bool erase, bool verify) const
{
    if (image.empty())
        return kInvalidFile;
    const uint8_t needed = uint8_t(kWritable | (erase ? kErasable : 0) | (verify ? kReadable : 0));
    for (const Segment &segment : image.segments) {
        if (!layout.allows(segment.address, segment.end(), needed))
            return kAddressOutsideFlash;
    }
    return kOk;
}

WorkPlan DfuseEngine::plan(const FirmwareImage &image, bool erase, bool verify, bool backup) const
{
    WorkPlan plan;
    if (erase) {
        for (const Sector &sector : layout.sectorsTouched(image)) {
            plan.eraseMs += timing::eraseStepMs(sector.size);
            if (backup)
                plan.backupMs += timing::readStepMs(sector.size, double(sector.size) / blockSize);
        }
    }
    for (const Segment &segment : image.segments) {
        const auto bytes = uint32_t(segment.data.size());
        const double blocks = double(bytes) / blockSize;
        plan.writeMs += timing::writeStepMs(bytes, blocks);
        if (verify)
            plan.verifyMs += timing::readStepMs(bytes, blocks);
    }
    return plan;
}

// One data block, from its DNLOAD to the status that ends it. `block` is
// the number it goes as, or kLastBlockNumber when the pointer must be set
// first.
int DfuseEngine::writeBlock(uint32_t address, const uint8_t *data, uint16_t length, uint32_t &block)
{
    // A short block is only unambiguous right after its own Set Address.
    if (block >= kLastBlockNumber || length < blockSize) {
        const int r = setAddress(address);
        if (r != kOk)
            return r;
        block = dfu::kFirstDataBlock;
    }
    const TransferResult sent = usb.controlOut(dfu::kDnload, uint16_t(block), data, length, timing::kControlTimeoutMs);
    if (!sent.ok())
        return failedTransfer(sent.error());
    if (sent.bytes() != length)
        return lostOnTheWire(TransferError::Io);
    return waitUntilIdle();
}

// A block counts as progress only once the device has taken it, so that a
// block sent again never moves the bar twice.
int DfuseEngine::writeSegment(const Segment &segment, ProgressSink *sink)
{
    const size_t size = segment.data.size();
    size_t offset = 0;
    uint32_t block = kLastBlockNumber; // forces a Set Address first
    int retriesOfBlock = 0;
    while (offset < size) {
        const uint16_t n = uint16_t(std::min<size_t>(blockSize, size - offset));
        const int r = writeBlock(segment.address + uint32_t(offset), segment.data.data() + offset, n, block);
        if (r != kOk) {
            if (!retryAfter(r, retriesOfBlock))
                return r;
            // The pointer the device had is unknown now: the block's own
            // address again, and the block as the first after it.
            block = kLastBlockNumber;
            continue;
        }
        ++block;
        offset += n;
        retriesOfBlock = 0;
        if (sink)
            sink->advanced(timing::writeStepMs(uint32_t(n), 1));
    }
    return kOk;
}

// Erasing a sector twice does no harm: an erase lost on the wire is sent again.
int DfuseEngine::eraseWithRetries(uint32_t address)
{
    int retries = 0;
    int r;
    while ((r = eraseSector(address)) != kOk) {
        if (!retryAfter(r, retries))
            return r;
    }
    return kOk;
}

// One run of UPLOADs from `address + offset`: pointer, then back to dfuIDLE,
// where UPLOAD is allowed. `offset` ends past the last block read.
int DfuseEngine::readRun(uint32_t address, uint32_t length, uint8_t *out, uint32_t &offset, ProgressSink *sink)
{
    int r = setAddress(address + offset);
    if (r == kOk)
        r = abortToIdle();
    if (r != kOk)
        return r;
    for (uint32_t block = dfu::kFirstDataBlock; block <= kLastBlockNumber && offset < length; ++block) {
        const uint16_t n = uint16_t(std::min<uint32_t>(blockSize, length - offset));
        const TransferResult got =
            usb.controlIn(dfu::kUpload, uint16_t(block), out + offset, n, timing::kControlTimeoutMs);
        if (!got.ok())
            return failedTransfer(got.error());
        if (got.bytes() != n)
            return lostOnTheWire(TransferError::Io);
        offset += n;
        if (sink)
            sink->advanced(timing::readStepMs(n, 1));
        if (n < blockSize)
            break;
    }
    return abortToIdle();
}

// A run cut short by the cable starts again at the block it lost.
int DfuseEngine::readRange(uint32_t address, uint32_t length, uint8_t *out, ProgressSink *sink)
{
    uint32_t offset = 0;
    int retriesOfBlock = 0;
    while (offset < length) {
        const uint32_t runStart = offset;
        const int r = readRun(address, length, out, offset, sink);
        if (offset != runStart)
            retriesOfBlock = 0;
        if (r != kOk && !retryAfter(r, retriesOfBlock))
            return r;
    }
    return kOk;
}

int DfuseEngine::verifySegment(const Segment &segment, ProgressSink *sink)
{
    std::vector<uint8_t> flash(segment.data.size());
    const int r = readRange(segment.address, uint32_t(flash.size()), flash.data(), sink);
    if (r != kOk)
        return r;
    return flash == segment.data ? kOk : kVerifyMismatch;
}

int DfuseEngine::read(uint32_t address, uint32_t length, std::vector<uint8_t> &out)
{
    out.assign(length, 0);
    if (!layout.allows(address, uint64_t(address) + length, kReadable))
        return kAddressOutsideFlash;
    startRetries();
    int r = recover();
    if (r == kOk)
        r = readRange(address, length, out.data(), nullptr);
    if (r != kOk)
        out.clear();
    return r;
}

// A device gone mid-read fails the write (it would fail the erase anyway);
// a refused read only costs the copy.
int DfuseEngine::backUp(const std::vector<Sector> &sectors, FlashBackup &backup, ProgressSink *sink)
{
    FirmwareImage old;
    size_t bytes = 0;
    for (const Sector &sector : sectors)
        bytes += sector.size;
    if (sink)
        sink->phaseStarted(Phase::Backup, bytes);
    double leftMs = 0;
    for (const Sector &sector : sectors)
        leftMs += timing::readStepMs(sector.size, double(sector.size) / blockSize);
    for (const Sector &sector : sectors) {
        Segment segment{sector.start, std::vector<uint8_t>(sector.size)};
        int r = (sector.access & kReadable) ? readRange(sector.start, sector.size, segment.data.data(), sink)
                                            : kReadProtected;
        if (r == kUsbError)
            return r;
        if (r != kOk) {
            // The refusal leaves the device in dfuERROR; the erase needs dfuIDLE.
            const int back = recover();
            if (back != kOk)
                return back;
            backup.unreadable(r);
            if (sink)
                sink->advanced(leftMs);
            return kOk;
        }
        leftMs -= timing::readStepMs(sector.size, double(sector.size) / blockSize);
        old.segments.push_back(std::move(segment));
    }
    backup.keep(old);
    return kOk;
}

int DfuseEngine::write(const FirmwareImage &image, bool erase, bool verify, ProgressSink *sink,
                       const WriteHooks &hooks)
{
    int r = checkImage(image, erase, verify);
    if (r != kOk)
        return r;
    startRetries();
    if ((r = recover()) != kOk)
        return r;
    const std::vector<Sector> sectors = erase ? layout.sectorsTouched(image) : std::vector<Sector>();
    if (erase && hooks.backup && (r = backUp(sectors, *hooks.backup, sink)) != kOk)
        return r;
    // The last moment at which stopping leaves the device as it was.
    if (hooks.stopRequested && hooks.stopRequested())
        return kStopped;
    // From the first erase or write command on, the old firmware may be gone,
    // whatever the device answers.
    changedFlash = true;
    if (erase) {
        if (sink)
            sink->phaseStarted(Phase::Erase, sectors.size());
        for (const Sector &sector : sectors) {
            if ((r = eraseWithRetries(sector.start)) != kOk)
                return r;
            if (sink)
                sink->advanced(timing::eraseStepMs(sector.size));
        }
    }
    if (sink)
        sink->phaseStarted(Phase::Write, image.byteCount());
    for (const Segment &segment : image.segments) {
        if ((r = writeSegment(segment, sink)) != kOk)
            return r;
    }
    if (verify) {
        if (sink)
            sink->phaseStarted(Phase::Verify, image.byteCount());
        for (const Segment &segment : image.segments) {
            if ((r = verifySegment(segment, sink)) != kOk)
                return r;
        }
    }
    return recover();
}

} // namespace flashing
