// SPDX-License-Identifier: GPL-3.0-or-later
// Every time figure of the flashing engine in one place: the USB timeouts it
// uses and the STM32F446 figures it weights its progress with. The simulated
// bootloader models the same figures.
#pragma once

#include <cstdint>

namespace flashing::timing {

// A plain request (commands, CLRSTATUS, ABORT, a data block's transfer).
constexpr unsigned kControlTimeoutMs = 2000;
// GETSTATUS while the device is busy: the ROM answers only when the
// operation is over, and a 128 KiB sector takes up to 4 s at x8 parallelism.
constexpr unsigned kBusyStatusTimeoutMs = 6000;
// When a device answers "busy" at once instead of holding the answer, the
// engine asks again after its bwPollTimeout, but never waits longer than this
// between two questions.
constexpr unsigned kBusyRetryPauseCapMs = 5;
// How long one operation may stay busy before the engine gives up.
constexpr unsigned kBusyDeadlineMs = 12000;
// How often the calling thread hears from a running write, at the least.
constexpr unsigned kCallbackSliceMs = 10;

// STM32F4 flash at x32 parallelism, typical figures (datasheet flash table).
constexpr double kWordProgramMs = 0.016;
constexpr double kErase16KMs = 250.0;
constexpr double kErase64KMs = 550.0;
constexpr double kErase128KMs = 1000.0;

// USB full speed: host latency of one synchronous control transfer, and wire
// time of its data stage.
constexpr double kControlLatencyMs = 1.0;
constexpr double kWireBaseMs = 0.05;
constexpr double kWirePerByteMs = 0.00085;

inline double sectorEraseMs(uint32_t sectorBytes)
{
    if (sectorBytes <= 16u * 1024u)
        return kErase16KMs;
    if (sectorBytes <= 64u * 1024u)
        return kErase64KMs;
    return kErase128KMs * double(sectorBytes) / (128.0 * 1024.0);
}

inline double programMs(uint32_t bytes)
{
    return double((bytes + 3) / 4) * kWordProgramMs;
}

// One control transfer carrying `bytes` in its data stage.
inline double transferMs(uint32_t bytes)
{
    return kControlLatencyMs + kWireBaseMs + double(bytes) * kWirePerByteMs;
}

// What each step of a write is expected to cost. The engine's plan adds them
// up and its progress advances by them, so that the steps sum to the plan.

// Erasing one sector: the command, its status polls, the erase itself.
inline double eraseStepMs(uint32_t sectorBytes)
{
    return sectorEraseMs(sectorBytes) + 3 * transferMs(5);
}

// Writing `bytes` in `blocks` data blocks: DNLOAD and two status polls each,
// the wire time and the programming.
inline double writeStepMs(uint32_t bytes, double blocks)
{
    return programMs(bytes) + blocks * (3 * kControlLatencyMs) + double(bytes) * kWirePerByteMs;
}

// Reading `bytes` back in `blocks` UPLOAD requests.
inline double readStepMs(uint32_t bytes, double blocks)
{
    return blocks * kControlLatencyMs + double(bytes) * kWirePerByteMs;
}

} // namespace flashing::timing
