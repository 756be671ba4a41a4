// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated STM32F446 bootloader as a USB device 0483:df11 that
// unmodified libusb code reaches: umockdev's usbfs emulation gives it a sysfs
// entry with the ROM's descriptors and a /dev/bus/usb node whose ioctls
// (claim, alternate setting, control URBs) are answered here by the DfuSe
// model of SimulatedStm32. The process must run under umockdev's preload.
#pragma once

#include "simulatedstm32.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct _UMockdevTestbed;
struct _UMockdevIoctlBase;
struct _UMockdevIoctlClient;

class UsbBootloader {
public:
    struct Options {
        int port = 3;              // the USB index "1-<port>"
        // Empty: the ROM's own, made from the chip's unique ID.
        std::string serial = "SIM0";
        uint16_t vendorId = k931::kUsbVendor;
        uint16_t productId = k931::kDfuProduct;
        // The ROM puts one functional descriptor after its last alternate
        // setting; some bootloaders repeat it after every one.
        bool functionalAfterEachSetting = false;
        // The name of alternate setting 0, in DfuSe layout form: another
        // STM32 announces another flash (empty: the F446's).
        std::string flashLayout;
    };

    UsbBootloader(_UMockdevTestbed *testbed, std::shared_ptr<SimulatedStm32> chip, Options options);
    UsbBootloader(_UMockdevTestbed *testbed, std::shared_ptr<SimulatedStm32> chip);
    ~UsbBootloader();
    UsbBootloader(const UsbBootloader &) = delete;
    UsbBootloader &operator=(const UsbBootloader &) = delete;

    bool plug();
    void unplug();
    bool isPlugged() const { return plugged; }
    SimulatedStm32 &chip() { return *device; }
    std::string usbIndex() const { return "1-" + std::to_string(options.port); }

    // Faults of the USB side. A hung device takes requests and never
    // answers them; a busy interface is held by another program.
    std::atomic<bool> hang{false};
    std::atomic<bool> interfaceBusy{false};
    // Control requests seen, for tests that count traffic.
    std::atomic<int> requests{0};

    // The whole configuration descriptor as the device sends it.
    static std::vector<uint8_t> configurationDescriptor(bool functionalAfterEachSetting);
    static const char *const kAlternateNames[4];

    // The place of a device node in the mocked /dev, for the ioctl handler.
    struct Node;

private:
    struct Urb;
    static int onIoctl(_UMockdevIoctlBase *, _UMockdevIoctlClient *client, void *node);
    static void onClientGone(_UMockdevIoctlBase *, _UMockdevIoctlClient *client, void *node);
    void forget(_UMockdevIoctlClient *client);
    bool handle(_UMockdevIoctlClient *client);
    void submit(_UMockdevIoctlClient *client);
    void reap(_UMockdevIoctlClient *client);
    void discard(_UMockdevIoctlClient *client);
    int controlTransfer(const uint8_t *setup, uint8_t *data, int &length);
    int standardRequest(const uint8_t *setup, uint8_t *data, int &length);
    // The chip left (manifestation, reset, a cable pulled): off the bus.
    void leaveLater();
    std::string sysPath() const;
    std::string devNode() const;

    _UMockdevTestbed *testbed;
    std::shared_ptr<SimulatedStm32> device;
    Options options;
    Node *node = nullptr;
    std::atomic<bool> plugged{false};
    std::atomic<bool> leaving{false};
    std::mutex mutex;
    std::vector<Urb *> done;
    std::vector<Urb *> flying;
    std::thread leaver;
    // The kernel gives an interface to one open file at a time; a second
    // program's claim fails with EBUSY. Under the node's mutex.
    _UMockdevIoctlClient *claimedBy = nullptr;
};
