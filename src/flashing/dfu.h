// SPDX-License-Identifier: GPL-3.0-or-later
// DFU 1.1 / DfuSe protocol constants and the decoding of what the device
// sends back. Pure code: no I/O.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flashing::dfu {

enum Request : uint8_t {
    kDetach = 0,
    kDnload = 1,
    kUpload = 2,
    kGetStatus = 3,
    kClrStatus = 4,
    kGetState = 5,
    kAbort = 6,
};

enum State : uint8_t {
    kAppIdle = 0,
    kAppDetach = 1,
    kDfuIdle = 2,
    kDnloadSync = 3,
    kDnBusy = 4,
    kDnloadIdle = 5,
    kManifestSync = 6,
    kManifest = 7,
    kManifestWaitReset = 8,
    kUploadIdle = 9,
    kDfuError = 10,
};

enum Status : uint8_t {
    kStatusOk = 0,
    kErrTarget = 1,
    kErrFile = 2,
    kErrWrite = 3,
    kErrErase = 4,
    kErrCheckErased = 5,
    kErrProg = 6,
    kErrVerify = 7,
    kErrAddress = 8,
    kErrNotDone = 9,
    kErrFirmware = 10,
    kErrVendor = 11,
    kErrUsbReset = 12,
    kErrPowerOnReset = 13,
    kErrUnknown = 14,
    kErrStalledPacket = 15,
};

// DfuSe commands, sent as DNLOAD with wValue 0.
enum Command : uint8_t {
    kCmdGetCommands = 0x00,
    kCmdSetAddress = 0x21,
    kCmdErase = 0x41,
    kCmdReadUnprotect = 0x92,
};

// How a DFU interface describes itself (application-specific class, DFU
// subclass; protocol 2 once the device runs its bootloader).
constexpr uint8_t kInterfaceClass = 0xFE;
constexpr uint8_t kInterfaceSubclass = 0x01;
constexpr uint8_t kDfuModeProtocol = 0x02;

// Data blocks are numbered from 2: block n lands at pointer + (n - 2) * size.
constexpr uint16_t kFirstDataBlock = 2;

struct DeviceStatus {
    uint8_t status = kStatusOk;
    uint32_t pollTimeoutMs = 0;
    uint8_t state = kDfuError;
    uint8_t stringIndex = 0;
};

constexpr size_t kStatusLength = 6;

// Decodes a GETSTATUS reply; false when it is too short or names a state
// that DFU does not have.
bool decodeStatus(const uint8_t *bytes, size_t length, DeviceStatus &out);

// The DFU functional descriptor (type 0x21).
struct FunctionalDescriptor {
    uint8_t attributes = 0;
    uint16_t detachTimeoutMs = 0;
    uint16_t transferSize = 0;
    uint16_t dfuVersion = 0;
};

constexpr uint8_t kFunctionalDescriptorType = 0x21;

// Finds the functional descriptor in a block of descriptors (an interface's
// "extra" bytes); false when absent or malformed. A transfer size of 0 is
// refused: nothing could be sent with it.
bool findFunctionalDescriptor(const uint8_t *bytes, size_t length, FunctionalDescriptor &out);

} // namespace flashing::dfu
