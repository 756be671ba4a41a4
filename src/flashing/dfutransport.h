// What the DfuSe engine needs from USB: class control transfers on the DFU
// interface, and a way to wait in the device's own time. libusb provides it
// on real hardware; the simulated bootloader provides it in tests.
#pragma once

#include <cstdint>

namespace flashing {

enum TransferError : int {
    kTransferStall = -1,    // the device refused the request
    kTransferNoDevice = -2, // the device is gone
    kTransferTimeout = -3,
    kTransferIo = -4,       // anything else
};

class DfuTransport {
public:
    virtual ~DfuTransport() = default;
    // Host-to-device class request to the DFU interface. Returns the number
    // of bytes sent, or a TransferError.
    virtual int controlOut(uint8_t request, uint16_t value, const uint8_t *data, uint16_t length,
                           unsigned timeoutMs) = 0;
    // Device-to-host class request. Returns the number of bytes received, or
    // a TransferError.
    virtual int controlIn(uint8_t request, uint16_t value, uint8_t *data, uint16_t length,
                          unsigned timeoutMs) = 0;
    // Waits `ms` milliseconds of the device's time.
    virtual void pause(unsigned ms) = 0;
};

} // namespace flashing
