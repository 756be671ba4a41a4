// SPDX-License-Identifier: GPL-3.0-or-later
// A simulated STM32F446 system bootloader in DFU mode, seen through the
// engine's transport interface: the DFU/DfuSe state machine, 512 KiB of flash
// with the real sector layout, a timing model and injectable faults.
//
// Its clock is virtual by default (tests run in milliseconds whatever the
// modeled time); in real-time mode every modeled duration is also slept, so
// that responsiveness can be measured.
#pragma once

#include "chipid.h"
#include "dfu.h"
#include "dfutransport.h"
#include "deviceprovider.h"
#include "programmer.h"
#include "usbids.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class SimulatedStm32 : public flashing::DfuTransport {
public:
    static constexpr uint32_t kFlashBase = k931::kFlashStart;
    static constexpr uint32_t kFlashSize = k931::kFlashBytes;
    static constexpr uint16_t kTransferSize = 2048;
    static constexpr int kSectorCount = 8;
    static const char *const kFlashLayout;

    enum class Clock { Virtual, RealTime };

    // Faults stay in force until the test clears them.
    struct Faults {
        bool eraseFails = false;       // erase reports errERASE
        bool eraseRefused = false;     // erase reports errTARGET, as for a sector the ROM will not touch
        bool writeFails = false;       // programming reports errWRITE
        bool corruptReadBack = false;  // UPLOAD returns one flipped bit
        int writeProtectedSector = -1; // erase and write silently do nothing there
        bool readProtected = false;    // read, write and erase fail with errVENDOR
        bool uploadRefused = false;    // read alone fails with errVENDOR
        int goneAfterTransfers = -1;   // the device vanishes after this many transfers
        int stallTransfer = -1;        // the transfer with this number is refused
        // A flaky cable: data blocks (a DNLOAD or UPLOAD of one, counted in
        // `dataBlocks`) lose their answer, from the one numbered `from` on,
        // every `every`-th of them, `count` in all (it goes down as answers
        // are lost). The device acts on the request; the host hears nothing
        // back and times out.
        struct LostAnswers {
            int from = -1;
            int count = 1;
            int every = 1;
        } lostBlockAnswers;
    };

    explicit SimulatedStm32(Clock clock = Clock::Virtual);

    // DfuTransport
    flashing::TransferResult controlOut(uint8_t request, uint16_t value, const uint8_t *data, uint16_t length,
                                        unsigned timeoutMs) override;
    flashing::TransferResult controlIn(uint8_t request, uint16_t value, uint8_t *data, uint16_t length,
                                       unsigned timeoutMs) override;
    void pause(unsigned ms) override;

    // What a host sees when it selects the flash alternate setting: the ROM
    // often sits in dfuERROR then.
    void selectInterface();

    Faults faults;
    std::vector<uint8_t> flash;
    // Read by the ROM for its USB serial number.
    ChipId uniqueId = ChipId::ofDevice(0);

    // Observations.
    std::array<int, kSectorCount> eraseCounts{};
    int transfers = 0;
    int dataBlocks = 0;  // DNLOADs and UPLOADs of data blocks taken
    int lostAnswers = 0; // how many of their answers the cable lost
    bool massEraseSeen = false;
    bool readUnprotectSeen = false;
    bool readPastEndSeen = false;
    double modeledMs() const;
    uint8_t state() const;
    // Gone from the bus: it manifested new firmware, reset itself, or a
    // fault pulled it away.
    bool hasLeft() const;
    // Plugged in again: the bootloader starts afresh, the flash keeps what
    // was written.
    void powerCycle();
    static int sectorIndex(uint32_t address); // -1 outside flash
    static uint32_t sectorStart(int index);
    static uint32_t sectorSize(int index);
    // Model durations of the operations, exposed for lower-bound figures.
    static double eraseMs(int sector);

private:
    enum class Op { None, SetAddress, Erase, MassErase, Write, ReadUnprotect, Leave };

    flashing::TransferResult stall(uint8_t status); // refuse the request and enter dfuERROR
    // Counts the transfer; the refusal when the device is gone or stalls it.
    std::optional<flashing::TransferResult> beginTransfer(uint32_t bytes);
    // The answer to a data block it has just acted on, unless the cable loses it.
    flashing::TransferResult answerBlock(int bytes);
    uint8_t startOperation(double &durationMs);
    void advance(double ms);
    void applyWrite(uint32_t address, const std::vector<uint8_t> &bytes, uint8_t &status);

    mutable std::mutex mutex;
    const Clock clockMode;
    std::chrono::steady_clock::time_point realBusyUntil{};
    double clockMs = 0;
    bool gone = false;
    uint8_t dfuState = flashing::dfu::kDfuIdle;
    uint8_t dfuStatus = flashing::dfu::kStatusOk;
    uint32_t pointer = kFlashBase;
    Op pending = Op::None;
    uint32_t pendingAddress = 0;
    std::vector<uint8_t> pendingData;
    uint8_t pendingResult = flashing::dfu::kStatusOk;
    uint32_t pendingPollTimeout = 0;
    double busyUntilMs = 0;
};

// Devices for the engine backend: simulators that a test plugs in and out.
class SimulatedProvider : public flashing::DeviceProvider {
public:
    // `serial` empty: the ROM's, from the chip's unique ID; `flashLayout`
    // empty: the F446's; another announces another chip.
    void plug(std::shared_ptr<SimulatedStm32> device, const std::string &serial = std::string(),
              const std::string &flashLayout = std::string());
    void unplugAll();

    std::vector<flashing::DeviceRecord> list(int productId, int vendorId) override;
    int open(const std::string &usbIndex, flashing::OpenedDevice &out) override;

private:
    struct Entry {
        std::shared_ptr<SimulatedStm32> device;
        flashing::DeviceRecord record;
    };
    std::mutex mutex;
    std::vector<Entry> entries;
    int nextIndex = 1;
};

// The library's engine pointed at simulated bootloaders for as long as this
// object lives; the backend it replaced comes back afterwards.
class SimulatedBus {
public:
    SimulatedBus();
    ~SimulatedBus();
    SimulatedBus(const SimulatedBus &) = delete;
    SimulatedBus &operator=(const SimulatedBus &) = delete;

    // A chip plugged in, its whole flash holding `fill`.
    std::shared_ptr<SimulatedStm32> plugChip(SimulatedStm32::Clock clock = SimulatedStm32::Clock::Virtual,
                                             uint8_t fill = 0xFF);
    SimulatedProvider &devices() { return *provider; }

private:
    SimulatedProvider *provider;
    std::unique_ptr<flashing::Backend> previous;
};
