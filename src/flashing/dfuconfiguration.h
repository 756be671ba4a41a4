// SPDX-License-Identifier: GPL-3.0-or-later
// Which alternate setting of a DFU bootloader holds the internal flash, read
// from the device's whole configuration descriptor. Pure code: no I/O.
//
// Devices place the DFU functional descriptor differently: the STM32F4 ROM
// puts one after the last of its alternate settings (so libusb hands it to
// that setting alone), others repeat it after every setting, a few put it
// right after the configuration descriptor. It describes the interface
// either way.
#pragma once

#include "dfu.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace flashing::dfu {

// Where the STM32's internal flash starts in its address space.
constexpr uint32_t kInternalFlashStart = 0x08000000;

// One DFU-mode alternate setting, in the order the configuration lists them.
struct Alternate {
    uint8_t interfaceNumber = 0;
    uint8_t alternateSetting = 0;
    uint8_t nameIndex = 0; // iInterface: the string with the memory layout
};

struct Configuration {
    std::vector<Alternate> alternates;
    bool hasFunctional = false;
    FunctionalDescriptor functional;
};

// Walks a configuration descriptor with everything that follows it
// (wTotalLength bytes). False when it is malformed, has no DFU-mode
// interface, or no usable functional descriptor for it.
bool parseConfiguration(const uint8_t *bytes, size_t length, Configuration &out);

// The flash among the alternate settings, given each one's name string in
// the same order: the one named "@Internal Flash", else the first whose
// layout covers `flashStart`; -1 when none does.
int chooseFlashAlternate(const std::vector<std::string> &names, uint32_t flashStart);

} // namespace flashing::dfu
