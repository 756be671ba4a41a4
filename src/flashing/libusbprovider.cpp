// SPDX-License-Identifier: GPL-3.0-or-later
#include "libusbprovider.h"

#include "dfuconfiguration.h"
#include "result.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace flashing {
namespace {

constexpr uint8_t kClassOut = LIBUSB_ENDPOINT_OUT | LIBUSB_REQUEST_TYPE_CLASS | LIBUSB_RECIPIENT_INTERFACE;
constexpr uint8_t kClassIn = LIBUSB_ENDPOINT_IN | LIBUSB_REQUEST_TYPE_CLASS | LIBUSB_RECIPIENT_INTERFACE;

TransferResult transferResult(int libusbResult)
{
    switch (libusbResult) {
    case LIBUSB_ERROR_PIPE: return TransferError::Stall;
    case LIBUSB_ERROR_NO_DEVICE: return TransferError::NoDevice;
    case LIBUSB_ERROR_TIMEOUT: return TransferError::Timeout;
    default: return libusbResult < 0 ? TransferResult(TransferError::Io) : TransferResult::moved(libusbResult);
    }
}

class LibusbTransport : public DfuTransport {
public:
    LibusbTransport(libusb_device_handle *h, int iface) : handle(h), interfaceNumber(iface) {}
    ~LibusbTransport() override
    {
        libusb_release_interface(handle, interfaceNumber);
        libusb_close(handle);
    }

    TransferResult controlOut(uint8_t request, uint16_t value, const uint8_t *data, uint16_t length,
                              unsigned timeoutMs) override
    {
        return transferResult(libusb_control_transfer(handle, kClassOut, request, value, uint16_t(interfaceNumber),
                                                      const_cast<uint8_t *>(data), length, timeoutMs));
    }

    TransferResult controlIn(uint8_t request, uint16_t value, uint8_t *data, uint16_t length,
                             unsigned timeoutMs) override
    {
        return transferResult(libusb_control_transfer(handle, kClassIn, request, value, uint16_t(interfaceNumber),
                                                      data, length, timeoutMs));
    }

    void pause(unsigned ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

private:
    libusb_device_handle *handle;
    int interfaceNumber;
};

// The two refusals a user can act on are told apart: permission (the udev
// rules; on Windows, a device without the WinUSB driver, which libusb
// reports as not supported) and another program holding the device.
int openResult(int libusbResult)
{
    switch (libusbResult) {
    case LIBUSB_SUCCESS: return kOk;
    case LIBUSB_ERROR_ACCESS:
    case LIBUSB_ERROR_NOT_SUPPORTED: return kAccessDenied;
    case LIBUSB_ERROR_BUSY: return kInterfaceBusy;
    case LIBUSB_ERROR_NO_DEVICE: return kDeviceNotFound;
    default: return kUsbError;
    }
}

// "bus-port.port…": stable while the device stays on its port.
std::string usbIndexOf(libusb_device *device)
{
    uint8_t ports[8];
    const int n = libusb_get_port_numbers(device, ports, sizeof ports);
    std::string index = std::to_string(libusb_get_bus_number(device));
    for (int i = 0; i < n; ++i)
        index += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
    if (n <= 0)
        index += ":" + std::to_string(libusb_get_device_address(device));
    return index;
}

std::string stringDescriptor(libusb_device_handle *handle, uint8_t index)
{
    if (!handle || index == 0)
        return {};
    unsigned char text[256] = {};
    const int n = libusb_get_string_descriptor_ascii(handle, index, text, sizeof text - 1);
    return n > 0 ? std::string(reinterpret_cast<char *>(text), size_t(n)) : std::string();
}

bool isDfuInterface(const libusb_interface_descriptor &alt)
{
    return alt.bInterfaceClass == dfu::kInterfaceClass && alt.bInterfaceSubClass == dfu::kInterfaceSubclass;
}

bool hasDfuInterface(libusb_device *device)
{
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0
        && libusb_get_config_descriptor(device, 0, &config) != 0)
        return false;
    bool found = false;
    for (int i = 0; i < config->bNumInterfaces && !found; ++i) {
        for (int a = 0; a < config->interface[i].num_altsetting && !found; ++a)
            found = isDfuInterface(config->interface[i].altsetting[a]);
    }
    libusb_free_config_descriptor(config);
    return found;
}

struct FlashSetting {
    int interfaceNumber = -1;
    int alternate = -1;
    std::string layout;
    uint16_t transferSize = 0;
};

void append(std::vector<uint8_t> &out, const unsigned char *bytes, int length)
{
    if (bytes && length > 0)
        out.insert(out.end(), bytes, bytes + length);
}

} // namespace

// libusb files each descriptor it does not know under whatever came before
// it; putting them back in sequence lets the functional descriptor be found
// wherever the device put it. Taken from libusb's parsed copy (on Linux read
// from sysfs), so no request reaches the device.
std::vector<uint8_t> rawConfiguration(const libusb_config_descriptor &config)
{
    std::vector<uint8_t> out{config.bLength, config.bDescriptorType, 0, 0, config.bNumInterfaces,
                             config.bConfigurationValue, config.iConfiguration, config.bmAttributes,
                             config.MaxPower};
    out.resize(std::max<size_t>(config.bLength, out.size()));
    append(out, config.extra, config.extra_length);
    for (int i = 0; i < config.bNumInterfaces; ++i) {
        for (int a = 0; a < config.interface[i].num_altsetting; ++a) {
            const libusb_interface_descriptor &alt = config.interface[i].altsetting[a];
            const uint8_t header[] = {9, LIBUSB_DT_INTERFACE, alt.bInterfaceNumber, alt.bAlternateSetting,
                                      alt.bNumEndpoints, alt.bInterfaceClass, alt.bInterfaceSubClass,
                                      alt.bInterfaceProtocol, alt.iInterface};
            append(out, header, sizeof header);
            append(out, alt.extra, alt.extra_length);
            for (int e = 0; e < alt.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor &ep = alt.endpoint[e];
                const uint8_t endpoint[] = {7, LIBUSB_DT_ENDPOINT, ep.bEndpointAddress, ep.bmAttributes,
                                            uint8_t(ep.wMaxPacketSize), uint8_t(ep.wMaxPacketSize >> 8),
                                            ep.bInterval};
                append(out, endpoint, sizeof endpoint);
                append(out, ep.extra, ep.extra_length);
            }
        }
    }
    const size_t total = std::min<size_t>(out.size(), 0xFFFF);
    out[2] = uint8_t(total);
    out[3] = uint8_t(total >> 8);
    return out;
}

namespace {

// The DFU-mode alternate setting that holds the internal flash, and the
// transfer size from the interface's functional descriptor.
FlashSetting findFlashSetting(libusb_device *device, libusb_device_handle *handle)
{
    FlashSetting found;
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0)
        return found;
    const std::vector<uint8_t> raw = rawConfiguration(*config);
    libusb_free_config_descriptor(config);

    dfu::Configuration parsed;
    if (!dfu::parseConfiguration(raw.data(), raw.size(), parsed))
        return found;
    std::vector<std::string> names;
    for (const dfu::Alternate &alt : parsed.alternates)
        names.push_back(stringDescriptor(handle, alt.nameIndex));
    const int chosen = dfu::chooseFlashAlternate(names, dfu::kInternalFlashStart);
    if (chosen < 0)
        return found;
    const dfu::Alternate &alt = parsed.alternates[size_t(chosen)];
    return FlashSetting{alt.interfaceNumber, alt.alternateSetting, names[size_t(chosen)],
                        parsed.functional.transferSize};
}

} // namespace

LibusbProvider::LibusbProvider() = default;

LibusbProvider::~LibusbProvider()
{
    if (context)
        libusb_exit(context);
}

bool LibusbProvider::ensureContext()
{
    if (!initialised) {
        initialised = true;
        if (libusb_init(&context) != 0)
            context = nullptr;
    }
    return context != nullptr;
}

std::vector<DeviceRecord> LibusbProvider::list(int productId, int vendorId)
{
    std::vector<DeviceRecord> records;
    if (!ensureContext())
        return records;
    libusb_device **devices = nullptr;
    const ssize_t count = libusb_get_device_list(context, &devices);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(devices[i], &descriptor) != 0 || descriptor.idVendor != vendorId
            || descriptor.idProduct != productId || !hasDfuInterface(devices[i]))
            continue;
        DeviceRecord record;
        record.usbIndex = usbIndexOf(devices[i]);
        libusb_device_handle *handle = nullptr;
        // Without permission the device is still listed; connecting then says why.
        if (libusb_open(devices[i], &handle) == 0) {
            record.serialNumber = stringDescriptor(handle, descriptor.iSerialNumber);
            record.product = stringDescriptor(handle, descriptor.iProduct);
            // String requests only: the interface is not claimed, so a
            // listing never takes the device from the program writing it.
            record.flashLayout = findFlashSetting(devices[i], handle).layout;
            libusb_close(handle);
        }
        records.push_back(record);
    }
    if (count >= 0)
        libusb_free_device_list(devices, 1);
    return records;
}

int LibusbProvider::open(const std::string &usbIndex, OpenedDevice &out)
{
    if (!ensureContext())
        return kDeviceNotFound;
    libusb_device **devices = nullptr;
    const ssize_t count = libusb_get_device_list(context, &devices);
    libusb_device *match = nullptr;
    for (ssize_t i = 0; i < count && !match; ++i) {
        if (usbIndexOf(devices[i]) == usbIndex && hasDfuInterface(devices[i]))
            match = devices[i];
    }
    int result = kDeviceNotFound;
    libusb_device_handle *handle = nullptr;
    if (match)
        result = openResult(libusb_open(match, &handle));
    FlashSetting setting;
    if (result == kOk) {
        setting = findFlashSetting(match, handle);
        if (setting.alternate < 0)
            result = kNoDfuInterface;
    }
    if (result == kOk) {
        libusb_set_auto_detach_kernel_driver(handle, 1);
        if (const int claimed = libusb_claim_interface(handle, setting.interfaceNumber); claimed != 0)
            result = openResult(claimed);
        else if (libusb_set_interface_alt_setting(handle, setting.interfaceNumber, setting.alternate) != 0) {
            libusb_release_interface(handle, setting.interfaceNumber);
            result = kUsbError;
        }
    }
    if (result == kOk) {
        out.transport = std::make_unique<LibusbTransport>(handle, setting.interfaceNumber);
        out.layoutText = setting.layout;
        out.transferSize = setting.transferSize;
        out.alternateSetting = setting.alternate;
    } else if (handle) {
        libusb_close(handle);
    }
    if (count >= 0)
        libusb_free_device_list(devices, 1);
    return result;
}

} // namespace flashing
