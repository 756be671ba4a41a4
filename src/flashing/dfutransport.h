// SPDX-License-Identifier: GPL-3.0-or-later
// What the DfuSe engine needs from USB: class control transfers on the DFU
// interface, and a way to wait in the device's own time. libusb provides it
// on real hardware; the simulated bootloader provides it in tests.
#pragma once

#include <cstdint>

namespace flashing {

enum class TransferError {
    Stall,    // the device refused the request
    NoDevice, // the device is gone
    Timeout,
    Io,       // anything else
};

// The bytes a control transfer moved, or why it failed. Not a plain int, so
// that a transfer error can never pass for one of the library's result codes:
// the engine has to convert it.
class TransferResult {
public:
    TransferResult(TransferError error) : failure(error) {} // NOLINT: implicit on purpose
    static TransferResult moved(int bytes)
    {
        TransferResult result(TransferError::Io);
        result.failed = false;
        result.count = bytes;
        return result;
    }
    bool ok() const { return !failed; }
    int bytes() const { return failed ? 0 : count; }
    TransferError error() const { return failure; }

private:
    TransferError failure;
    bool failed = true;
    int count = 0;
};

class DfuTransport {
public:
    virtual ~DfuTransport() = default;
    // Host-to-device class request to the DFU interface.
    virtual TransferResult controlOut(uint8_t request, uint16_t value, const uint8_t *data, uint16_t length,
                                      unsigned timeoutMs) = 0;
    // Device-to-host class request.
    virtual TransferResult controlIn(uint8_t request, uint16_t value, uint8_t *data, uint16_t length,
                                     unsigned timeoutMs) = 0;
    // Waits `ms` milliseconds of the device's time.
    virtual void pause(unsigned ms) = 0;
};

} // namespace flashing
