// SPDX-License-Identifier: GPL-3.0-or-later
// DfuSe commands and the erase / write / verify sequence, over a DfuTransport.
// It blocks in USB transfers, so the backend runs it on a worker thread and
// reports its progress through a ProgressSink.
#pragma once

#include "dfu.h"
#include "dfutransport.h"
#include "firmwareimage.h"
#include "flashbackup.h"
#include "memorylayout.h"

#include <cstdint>
#include <vector>

namespace flashing {

enum class Phase { Backup, Erase, Write, Verify };

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void phaseStarted(Phase phase, size_t units) = 0;
    // Work done, in milliseconds that the model expects it to take.
    virtual void advanced(double expectedMs) = 0;
};

// The expected duration of a write, split by phase, from the timing model.
struct WorkPlan {
    double backupMs = 0;
    double eraseMs = 0;
    double writeMs = 0;
    double verifyMs = 0;
    double totalMs() const { return backupMs + eraseMs + writeMs + verifyMs; }
};

// A cable that drops a transfer now and then: a block (or erase) whose
// transfer failed on the wire, with no reason from the device, is sent again
// this many times at most, and a whole write (or read) sends again no more
// than this many blocks in all.
constexpr int kRetriesPerBlock = 3;
constexpr int kRetriesPerWrite = 10;

class DfuseEngine {
public:
    DfuseEngine(DfuTransport &transport, const MemoryLayout &layout, uint16_t transferSize);

    // Brings the device to dfuIDLE from wherever an earlier session left it.
    int recover();
    // Refuses an image that the device cannot take; touches no USB.
    int checkImage(const FirmwareImage &image, bool erase, bool verify) const;
    // With a backup, the sectors to be erased are read first (only when
    // erasing: a write over flash left as it is replaces nothing).
    WorkPlan plan(const FirmwareImage &image, bool erase, bool verify, bool backup = false) const;
    int write(const FirmwareImage &image, bool erase, bool verify, ProgressSink *sink, const WriteHooks &hooks = {});
    int read(uint32_t address, uint32_t length, std::vector<uint8_t> &out);
    // Whether a write of this engine got as far as an erase or write command:
    // after a failure, whether the flash may no longer hold what it had.
    bool flashChanged() const { return changedFlash; }

    // The result code for a DFU status that the device reported.
    static int resultForStatus(uint8_t status);

private:
    int getStatus(dfu::DeviceStatus &status, unsigned timeoutMs);
    int waitUntilIdle();
    int failedTransfer(TransferError transferError);
    int lostOnTheWire(TransferError transferError);
    void startRetries();
    bool retryAfter(int result, int &retriesOfBlock);
    int command(uint8_t opcode, uint32_t address, bool withAddress);
    int setAddress(uint32_t address) { return command(dfu::kCmdSetAddress, address, true); }
    int eraseSector(uint32_t address) { return command(dfu::kCmdErase, address, true); }
    int abortToIdle();
    int writeSegment(const Segment &segment, ProgressSink *sink);
    int writeBlock(uint32_t address, const uint8_t *data, uint16_t length, uint32_t &block);
    int eraseWithRetries(uint32_t address);
    int verifySegment(const Segment &segment, ProgressSink *sink);
    int readRange(uint32_t address, uint32_t length, uint8_t *out, ProgressSink *sink);
    int readRun(uint32_t address, uint32_t length, uint8_t *out, uint32_t &offset, ProgressSink *sink);
    int backUp(const std::vector<Sector> &sectors, FlashBackup &backup, ProgressSink *sink);

    DfuTransport &usb;
    const MemoryLayout &layout;
    uint16_t blockSize;
    bool changedFlash = false;
    // Whether the last failure was the cable's (a transfer lost, refused or
    // garbled) rather than the device's reason or its absence.
    bool wireFault = false;
    int retriesLeft = kRetriesPerWrite;
};

} // namespace flashing
