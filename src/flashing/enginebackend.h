// SPDX-License-Identifier: GPL-3.0-or-later
// The backend that really flashes: finds devices through a DeviceProvider
// (libusb, or a simulator in tests) and drives the DfuSe engine.
#pragma once

#include "deviceprovider.h"
#include "memorylayout.h"
#include "programmer.h"

#include <memory>

namespace flashing {

class EngineBackend : public Backend {
public:
    explicit EngineBackend(std::unique_ptr<DeviceProvider> provider);
    ~EngineBackend() override;

    int listDevices(int productId, int vendorId, DfuDeviceInfo *out, int capacity) override;
    int connect(const char *usbIndex) override;
    WriteResult writeImage(const FirmwareImage &image, bool erase, bool verify, const DisplayCallbacks &callbacks,
                           int verbosity, const WriteHooks &hooks) override;

private:
    std::unique_ptr<DeviceProvider> provider;
    OpenedDevice device;
    MemoryLayout layout;
    // The callbacks run the caller's event loop during a write: a connect or
    // a second write from there would pull the device from under the worker.
    bool writing = false;
};

} // namespace flashing
