// The backend that really flashes: finds devices through a DeviceProvider
// (libusb, or a simulator in tests) and drives the DfuSe engine.
#pragma once

#include "dfuseengine.h"
#include "dfutransport.h"
#include "memorylayout.h"
#include "programmer.h"

#include <memory>
#include <string>
#include <vector>

namespace flashing {

struct DeviceRecord {
    std::string usbIndex;
    std::string serialNumber;
    std::string product;
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

class EngineBackend : public Backend {
public:
    explicit EngineBackend(std::unique_ptr<DeviceProvider> provider, EngineOptions options = {});
    ~EngineBackend() override;

    int listDevices(int productId, int vendorId, DfuDeviceInfo *out, int capacity) override;
    int connect(const char *usbIndex) override;
    int writeFile(const char *path, unsigned int address, bool erase, bool verify,
                  const DisplayCallbacks &callbacks, int verbosity) override;

private:
    std::unique_ptr<DeviceProvider> provider;
    EngineOptions options;
    OpenedDevice device;
    MemoryLayout layout;
    // The callbacks run the caller's event loop during a write: a connect or
    // a second write from there would pull the device from under the worker.
    bool writing = false;
};

// Reads a firmware file into an image: Intel HEX, or raw binary for names
// ending in ".bin" (placed at `address`). kOk, kFileNotFound or kInvalidFile.
int loadFirmwareFile(const std::string &path, uint32_t address, FirmwareImage &image);

} // namespace flashing
