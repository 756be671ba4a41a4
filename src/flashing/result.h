// SPDX-License-Identifier: GPL-3.0-or-later
// The library's result codes, shared by the public calls and the engine
// behind them. 0 means success; everything else is a failure.
#pragma once

namespace flashing {

enum Result : int {
    kOk = 0,
    kNotConnected = -1,      // write without a successful connect
    kInvalidFile = -2,       // not a valid Intel HEX / binary image (or empty)
    kAddressOutsideFlash = -3, // image touches memory the device cannot write
    kFileNotFound = -4,      // the file does not exist or cannot be read
    kUsbError = -5,          // transfer failed, device stalled or vanished
    kEraseError = -6,        // the device reported a failed erase
    kWriteError = -7,        // the device reported a failed program operation
    kVerifyMismatch = -8,    // read-back differs from the image
    kReadProtected = -9,     // read-out protection is active on the device
    kDeviceNotFound = -10,   // connect: no DFU device with that USB index
    kNoDfuInterface = -11,   // connect: device has no usable DFU flash interface
    kBadArgument = -12,      // null or malformed argument
    kBusy = -13,             // called again from a callback while a write runs
    kAccessDenied = -14,     // connect: no permission to open the device
    kInterfaceBusy = -15,    // connect: another program holds the DFU interface
    kStopped = -16,          // stopped on request before the flash was changed
    // The device reported DFU status N (bStatus) not covered above: -100 - N.
    kDeviceStatusBase = -100,
    // The device was found in DFU state N where the engine did not expect
    // it: -200 - N.
    kUnexpectedStateBase = -200,
};

// Human-readable English text for a result code.
const char *resultText(int result);

} // namespace flashing
