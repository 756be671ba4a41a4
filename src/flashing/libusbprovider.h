// SPDX-License-Identifier: GPL-3.0-or-later
// DFU devices on the real USB bus, through libusb-1.0.
#pragma once

#include "deviceprovider.h"

#include <cstdint>
#include <vector>

struct libusb_context;
struct libusb_config_descriptor;

namespace flashing {

class LibusbProvider : public DeviceProvider {
public:
    LibusbProvider();
    ~LibusbProvider() override;
    LibusbProvider(const LibusbProvider &) = delete;
    LibusbProvider &operator=(const LibusbProvider &) = delete;

    std::vector<DeviceRecord> list(int productId, int vendorId) override;
    int open(const std::string &usbIndex, OpenedDevice &out) override;

private:
    libusb_context *context = nullptr;
    bool initialised = false;
    bool ensureContext();
};

// The configuration's descriptors back in the order the device sent them.
std::vector<uint8_t> rawConfiguration(const libusb_config_descriptor &config);

} // namespace flashing
