// SPDX-License-Identifier: GPL-3.0-or-later
// Where the engine finds DFU devices: libusb on a real machine, a simulated
// bootloader in tests and in the simulated-device mode.
#pragma once

#include "dfutransport.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace flashing {

struct DeviceRecord {
    std::string usbIndex;
    std::string serialNumber;
    std::string product;
    std::string flashLayout;
};

// A device opened for flashing: its transport with the flash alternate
// setting selected, that setting's layout text and the transfer size.
struct OpenedDevice {
    std::unique_ptr<DfuTransport> transport;
    std::string layoutText;
    uint16_t transferSize = 0;
    int alternateSetting = 0;
};

class DeviceProvider {
public:
    virtual ~DeviceProvider() = default;
    virtual std::vector<DeviceRecord> list(int productId, int vendorId) = 0;
    // kOk, kDeviceNotFound, kNoDfuInterface or kUsbError.
    virtual int open(const std::string &usbIndex, OpenedDevice &out) = 0;
};

} // namespace flashing
