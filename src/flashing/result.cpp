// SPDX-License-Identifier: GPL-3.0-or-later
#include "result.h"

namespace flashing {

const char *resultText(int result)
{
    switch (result) {
    case kOk: return "success";
    case kNotConnected: return "not connected to a DFU device";
    case kInvalidFile: return "invalid firmware file";
    case kAddressOutsideFlash: return "firmware lies outside the device's writable flash";
    case kFileNotFound: return "firmware file not found or not readable";
    case kUsbError: return "USB transfer failed";
    case kEraseError: return "erase failed";
    case kWriteError: return "write failed";
    case kVerifyMismatch: return "verification failed: flash differs from the file";
    case kReadProtected: return "device is read-protected";
    case kDeviceNotFound: return "DFU device not found";
    case kNoDfuInterface: return "device has no usable DFU flash interface";
    case kBadArgument: return "invalid argument";
    case kBusy: return "a write is already in progress";
    case kAccessDenied: return "no permission to open the USB device (see the udev rules)";
    case kInterfaceBusy: return "the USB device is in use by another program";
    case kStopped: return "stopped before the flash was changed";
    default:
        if (result <= kUnexpectedStateBase && result > kUnexpectedStateBase - 100)
            return "device in an unexpected DFU state";
        if (result <= kDeviceStatusBase && result > kDeviceStatusBase - 100)
            return "device reported a DFU error status";
        return "unknown error";
    }
}

} // namespace flashing
