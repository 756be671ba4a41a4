// SPDX-License-Identifier: GPL-3.0-or-later
// The STM32's 96-bit unique device ID (three words at UID_BASE) and the USB
// serial string made of it: the ROM bootloader reports it as its
// iSerialNumber, and the vendor's USB stack that the K931's application is
// built with gives its virtual COM port the same one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct ChipId {
    uint32_t uid0 = 0;
    uint32_t uid1 = 0;
    uint32_t uid2 = 0;

    // uid0 + uid2 as 8 upper-case hex digits, then the upper half of uid1 as 4.
    std::string usbSerial() const
    {
        char text[16];
        std::snprintf(text, sizeof text, "%08X%04X", unsigned(uid0 + uid2), unsigned(uid1 >> 16));
        return text;
    }

    // The chip of the simulated device with this number: one wafer lot, a
    // die each, so that two devices on one desk never share a serial.
    static ChipId ofDevice(int index)
    {
        const uint32_t die = uint32_t(index) * 0x00050003u;
        return {0x002E0041u + die, 0x5246500Fu, 0x20363654u};
    }
};
