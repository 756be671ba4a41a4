// SPDX-License-Identifier: GPL-3.0-or-later
// umockdev's and GLib's headers first: nothing of Qt may come before them.
#include <umockdev.h>

#include "usbbootloader.h"
#include "usbids.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>

namespace {

constexpr uint8_t kGetDescriptor = 6;
constexpr uint8_t kStringDescriptor = 3;
constexpr uint8_t kLanguageIdsIndex = 0;
constexpr uint8_t kManufacturerIndex = 1;
constexpr uint8_t kProductIndex = 2;
constexpr uint8_t kSerialIndex = 3;
constexpr uint8_t kFirstAlternateNameIndex = 4;
constexpr uint16_t kTransferSize = 2048;
// usbfs URBs have no time-out of their own: a request the device never
// answers stays in flight until the host discards it.
constexpr int kAnswerLost = -ETIMEDOUT;
// A device that has left finishes its last answer before it drops off.
constexpr auto kLeaveDelay = std::chrono::milliseconds(50);

void appendDfuFunctional(std::vector<uint8_t> &out)
{
    // bmAttributes: download, upload, will detach; wDetachTimeOut 255 ms;
    // DfuSe's version 1.1a.
    const uint8_t functional[] = {9, 0x21, 0x0B, 0xFF, 0x00, uint8_t(kTransferSize), uint8_t(kTransferSize >> 8),
                                  0x1A, 0x01};
    out.insert(out.end(), functional, functional + sizeof functional);
}

std::vector<uint8_t> deviceDescriptor(uint16_t vendorId, uint16_t productId)
{
    return {18, 1, 0x00, 0x02, 0, 0, 0, 64, uint8_t(vendorId), uint8_t(vendorId >> 8), uint8_t(productId),
            uint8_t(productId >> 8), 0x00, 0x22, kManufacturerIndex, kProductIndex, kSerialIndex, 1};
}

std::vector<uint8_t> stringDescriptor(const std::string &ascii)
{
    std::vector<uint8_t> out{uint8_t(2 + 2 * ascii.size()), kStringDescriptor};
    for (char c : ascii) {
        out.push_back(uint8_t(c));
        out.push_back(0);
    }
    return out;
}

std::string hex(const std::vector<uint8_t> &bytes)
{
    std::string text;
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", b);
        text += pair;
    }
    return text;
}

void complete(UMockdevIoctlClient *client, long result, int error)
{
    umockdev_ioctl_client_complete(client, result, error);
}

} // namespace

const char *const UsbBootloader::kAlternateNames[4] = {
    k931::kFlashLayout,
    "@Option Bytes  /0x1FFFC000/01*016 e",
    "@OTP Memory /0x1FFF7800/01*512 e,01*016 e",
    "@Device Feature/0xFFFF0000/01*004 e",
};

// umockdev takes one handler per device node for the life of the testbed;
// the node outlives the simulated devices plugged in at its place.
struct UsbBootloader::Node {
    std::mutex mutex;
    UsbBootloader *owner = nullptr;
    UMockdevIoctlBase *handler = nullptr;
};

namespace {

std::mutex nodesMutex;

std::map<std::pair<void *, std::string>, UsbBootloader::Node *> &nodes()
{
    static std::map<std::pair<void *, std::string>, UsbBootloader::Node *> all;
    return all;
}

} // namespace

// A control URB, held from its submission until it is reaped through the
// same open file (each libusb handle has its own).
struct UsbBootloader::Urb {
    UMockdevIoctlData *data; // the client's struct usbdevfs_urb, its buffer resolved
    UMockdevIoctlClient *client;
};

std::vector<uint8_t> UsbBootloader::configurationDescriptor(bool functionalAfterEachSetting)
{
    std::vector<uint8_t> out{9, 2, 0, 0, 1, 1, 0, 0xC0, 0x32};
    for (uint8_t alt = 0; alt < 4; ++alt) {
        const uint8_t interface[] = {9, 4, 0, alt, 0, 0xFE, 0x01, 0x02, uint8_t(kFirstAlternateNameIndex + alt)};
        out.insert(out.end(), interface, interface + sizeof interface);
        if (functionalAfterEachSetting || alt == 3)
            appendDfuFunctional(out);
    }
    out[2] = uint8_t(out.size());
    out[3] = uint8_t(out.size() >> 8);
    return out;
}

UsbBootloader::UsbBootloader(_UMockdevTestbed *bed, std::shared_ptr<SimulatedStm32> chip, Options chosen)
    : testbed(bed)
    , device(std::move(chip))
    , options(std::move(chosen))
{
}

UsbBootloader::UsbBootloader(_UMockdevTestbed *bed, std::shared_ptr<SimulatedStm32> chip)
    : UsbBootloader(bed, std::move(chip), Options())
{
}

UsbBootloader::~UsbBootloader()
{
    if (leaver.joinable())
        leaver.join();
    unplug();
    if (node) {
        std::lock_guard<std::mutex> released(node->mutex);
        node->owner = nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex);
    for (Urb *urb : done)
        g_object_unref(urb->data);
    for (Urb *urb : flying)
        g_object_unref(urb->data);
}

std::string UsbBootloader::sysPath() const
{
    return "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + usbIndex();
}

std::string UsbBootloader::devNode() const
{
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", options.port + 2);
    return node;
}

bool UsbBootloader::plug()
{
    if (plugged)
        return true;
    if (leaver.joinable())
        leaver.join();
    leaving = false;
    if (device->hasLeft())
        device->powerCycle();
    GError *error = nullptr;
    // The handler must be in place before the node exists: a node opened
    // earlier would keep umockdev's do-nothing one.
    if (!node) {
        std::lock_guard<std::mutex> lock(nodesMutex);
        Node *&slot = nodes()[{testbed, devNode()}];
        if (!slot) {
            slot = new Node; // lives as long as the testbed's handler does: the process
            slot->handler = umockdev_ioctl_base_new();
            g_signal_connect(slot->handler, "handle-ioctl", G_CALLBACK(onIoctl), slot);
            g_signal_connect(slot->handler, "client-vanished", G_CALLBACK(onClientGone), slot);
            if (!umockdev_testbed_attach_ioctl(testbed, devNode().c_str(), slot->handler, &error)) {
                std::fprintf(stderr, "umockdev: %s\n", error ? error->message : "cannot attach");
                g_clear_error(&error);
                return false;
            }
        }
        node = slot;
    }
    {
        std::lock_guard<std::mutex> lock(node->mutex);
        node->owner = this;
        claimedBy = nullptr; // a new device on the bus: the old files' claims went with the old one
    }
    const int devnum = options.port + 2;
    char numbers[128];
    std::snprintf(numbers, sizeof numbers,
                  "E: BUSNUM=001\nE: DEVNUM=%03d\nA: busnum=1\\n\nA: devnum=%d\\n\nA: dev=189:%d\\n\n", devnum,
                  devnum, devnum - 1);
    std::vector<uint8_t> descriptors = deviceDescriptor(options.vendorId, options.productId);
    const std::vector<uint8_t> configuration = configurationDescriptor(options.functionalAfterEachSetting);
    descriptors.insert(descriptors.end(), configuration.begin(), configuration.end());
    const std::string entry = "P: " + sysPath().substr(4) + "\nN: " + devNode().substr(5)
                            + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: DEVNAME=" + devNode()
                            + "\n" + numbers + "A: speed=12\\n\nA: bConfigurationValue=1\\n\nH: descriptors="
                            + hex(descriptors) + "\n";
    plugged = true;
    if (!umockdev_testbed_add_from_string(testbed, entry.c_str(), &error)) {
        std::fprintf(stderr, "umockdev: %s\n", error ? error->message : "cannot add the device");
        g_clear_error(&error);
        plugged = false;
    }
    return plugged;
}

void UsbBootloader::unplug()
{
    if (!plugged.exchange(false))
        return;
    umockdev_testbed_uevent(testbed, sysPath().c_str(), "remove");
    umockdev_testbed_remove_device(testbed, sysPath().c_str());
}

void UsbBootloader::leaveLater()
{
    if (leaving.exchange(true))
        return;
    if (leaver.joinable())
        leaver.detach(); // an earlier leave that has long finished
    leaver = std::thread([this] {
        std::this_thread::sleep_for(kLeaveDelay);
        unplug();
    });
}

// Runs on umockdev's worker thread, which serves every mocked device of the
// process: nothing here may wait for the test's own thread.
int UsbBootloader::onIoctl(_UMockdevIoctlBase *, _UMockdevIoctlClient *client, void *nodeOfDevice)
{
    auto *at = static_cast<Node *>(nodeOfDevice);
    std::lock_guard<std::mutex> lock(at->mutex);
    if (!at->owner) {
        complete(client, -1, ENODEV);
        return TRUE;
    }
    return at->owner->handle(client) ? TRUE : FALSE;
}

// A closed file takes its unreaped URBs with it.
void UsbBootloader::onClientGone(_UMockdevIoctlBase *, _UMockdevIoctlClient *client, void *nodeOfDevice)
{
    auto *at = static_cast<Node *>(nodeOfDevice);
    std::lock_guard<std::mutex> lock(at->mutex);
    if (at->owner)
        at->owner->forget(client);
}

void UsbBootloader::forget(_UMockdevIoctlClient *client)
{
    if (claimedBy == client)
        claimedBy = nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    for (std::vector<Urb *> *list : {&done, &flying}) {
        for (auto u = list->begin(); u != list->end();) {
            if ((*u)->client != client) {
                ++u;
                continue;
            }
            g_object_unref((*u)->data);
            delete *u;
            u = list->erase(u);
        }
    }
}

bool UsbBootloader::handle(_UMockdevIoctlClient *client)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
        reap(client);
        return true;
    }
    if (!plugged) {
        complete(client, -1, ENODEV);
        return true;
    }
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        GError *error = nullptr;
        UMockdevIoctlData *caps =
            umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(uint32_t), &error);
        g_clear_error(&error);
        if (caps) {
            const uint32_t none = USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            std::memcpy(caps->data, &none, sizeof none);
            g_object_unref(caps);
        }
        complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM:
        if (interfaceBusy || (claimedBy && claimedBy != client)) {
            complete(client, -1, EBUSY);
        } else {
            claimedBy = client;
            complete(client, 0, 0);
        }
        return true;
    case USBDEVFS_RELEASEINTERFACE:
        if (claimedBy == client)
            claimedBy = nullptr;
        complete(client, 0, 0);
        return true;
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
        complete(client, 0, 0);
        return true;
    case USBDEVFS_GETDRIVER:
        complete(client, -1, ENODATA); // no kernel driver holds the interface
        return true;
    case USBDEVFS_SETINTERFACE:
        device->selectInterface();
        complete(client, 0, 0);
        return true;
    case USBDEVFS_SUBMITURB:
        submit(client);
        return true;
    case USBDEVFS_DISCARDURB:
        discard(client);
        return true;
    default:
        complete(client, -1, ENOTTY);
        return true;
    }
}

void UsbBootloader::submit(_UMockdevIoctlClient *client)
{
    GError *error = nullptr;
    UMockdevIoctlData *urbData = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                             sizeof(usbdevfs_urb), &error);
    g_clear_error(&error);
    if (!urbData) {
        complete(client, -1, EFAULT);
        return;
    }
    auto *urb = reinterpret_cast<usbdevfs_urb *>(urbData->data);
    UMockdevIoctlData *buffer = nullptr;
    if (urb->type == USBDEVFS_URB_TYPE_CONTROL && urb->buffer_length >= 8)
        buffer = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer), size_t(urb->buffer_length),
                                             &error);
    g_clear_error(&error);
    if (!buffer) {
        g_object_unref(urbData);
        complete(client, -1, EINVAL);
        return;
    }
    ++requests;
    auto *held = new Urb{urbData, client};
    bool answered = !hang;
    if (answered) {
        int length = urb->buffer_length - 8;
        urb->status = controlTransfer(buffer->data, buffer->data + 8, length);
        urb->actual_length = urb->status == 0 ? length : 0;
        // An answer lost on the wire: the host waits out its own time-out.
        answered = urb->status != kAnswerLost;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        (answered ? done : flying).push_back(held);
    }
    g_object_unref(buffer);
    complete(client, 0, 0);
    if (device->hasLeft())
        leaveLater();
}

void UsbBootloader::reap(_UMockdevIoctlClient *client)
{
    Urb *urb = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto ofClient = [client](const Urb *u) { return u->client == client; };
        if (const auto d = std::find_if(done.begin(), done.end(), ofClient); d != done.end()) {
            urb = *d;
            done.erase(d);
        } else if (const auto f = std::find_if(flying.begin(), flying.end(), ofClient);
                   !plugged && f != flying.end()) {
            urb = *f;
            flying.erase(f);
            reinterpret_cast<usbdevfs_urb *>(urb->data->data)->status = -ENODEV;
        }
    }
    if (!urb) {
        complete(client, -1, plugged ? EAGAIN : ENODEV);
        return;
    }
    GError *error = nullptr;
    UMockdevIoctlData *pointer =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void *), &error);
    g_clear_error(&error);
    if (pointer) {
        umockdev_ioctl_data_set_ptr(pointer, 0, urb->data);
        g_object_unref(pointer);
    }
    complete(client, pointer ? 0 : -1, pointer ? 0 : EFAULT);
    g_object_unref(urb->data);
    delete urb;
}

void UsbBootloader::discard(_UMockdevIoctlClient *client)
{
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    const gulong address = gulong(*reinterpret_cast<void **>(arg->data));
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = std::find_if(flying.begin(), flying.end(), [address, client](const Urb *urb) {
        return urb->client == client && urb->data->client_addr == address;
    });
    if (found == flying.end()) {
        complete(client, -1, EINVAL);
        return;
    }
    reinterpret_cast<usbdevfs_urb *>((*found)->data->data)->status = -ENOENT;
    done.push_back(*found);
    flying.erase(found);
    complete(client, 0, 0);
}

// A control transfer as the device answers it: the URB's status (0 or a
// negative errno) and, through `length`, the bytes of the data stage.
int UsbBootloader::controlTransfer(const uint8_t *setup, uint8_t *data, int &length)
{
    const uint8_t type = setup[0];
    const uint8_t request = setup[1];
    const uint16_t value = uint16_t(setup[2] | setup[3] << 8);
    length = std::min<int>(length, setup[6] | setup[7] << 8);
    if ((type & 0x60) == 0)
        return standardRequest(setup, data, length);
    if ((type & 0x60) != 0x20)
        return -EPIPE;
    const flashing::TransferResult result = (type & 0x80)
        ? device->controlIn(request, value, data, uint16_t(length), 0)
        : device->controlOut(request, value, data, uint16_t(length), 0);
    if (result.ok()) {
        length = result.bytes();
        return 0;
    }
    switch (result.error()) {
    case flashing::TransferError::Stall: return -EPIPE;
    case flashing::TransferError::NoDevice: return -ENODEV;
    case flashing::TransferError::Timeout: return kAnswerLost;
    case flashing::TransferError::Io: break;
    }
    return -EPROTO;
}

// Only the string descriptors come over the wire: libusb reads the others
// from sysfs.
int UsbBootloader::standardRequest(const uint8_t *setup, uint8_t *data, int &length)
{
    const uint8_t index = setup[2];
    if (setup[0] != 0x80 || setup[1] != kGetDescriptor || setup[3] != kStringDescriptor)
        return -EPIPE;
    std::vector<uint8_t> answer;
    if (index == kLanguageIdsIndex)
        answer = {4, kStringDescriptor, 0x09, 0x04};
    else if (index == kManufacturerIndex)
        answer = stringDescriptor("STMicroelectronics");
    else if (index == kProductIndex)
        answer = stringDescriptor("STM32  BOOTLOADER");
    else if (index == kSerialIndex)
        answer = stringDescriptor(options.serial.empty() ? device->uniqueId.usbSerial() : options.serial);
    else if (index >= kFirstAlternateNameIndex && index < kFirstAlternateNameIndex + 4)
        answer = stringDescriptor(index == kFirstAlternateNameIndex && !options.flashLayout.empty()
                                      ? options.flashLayout.c_str()
                                      : kAlternateNames[index - kFirstAlternateNameIndex]);
    else
        return -EPIPE;
    length = std::min<int>(length, int(answer.size()));
    std::memcpy(data, answer.data(), size_t(length));
    return 0;
}
