// SPDX-License-Identifier: GPL-3.0-or-later
#include "dfuconfiguration.h"

#include "memorylayout.h"

#include <algorithm>

namespace flashing::dfu {
namespace {

constexpr uint8_t kConfigurationType = 0x02;
constexpr uint8_t kInterfaceType = 0x04;
constexpr size_t kInterfaceLength = 9;

const char kInternalFlashName[] = "@Internal Flash";

bool isDfuInterface(const uint8_t *descriptor)
{
    return descriptor[5] == kInterfaceClass && descriptor[6] == kInterfaceSubclass;
}

} // namespace

bool parseConfiguration(const uint8_t *bytes, size_t length, Configuration &out)
{
    out = Configuration{};
    if (!bytes || length < 9 || bytes[1] != kConfigurationType || bytes[0] < 9)
        return false;
    const size_t total = std::min<size_t>(length, size_t(bytes[2] | bytes[3] << 8));
    // Before the first interface descriptor, a functional descriptor can only
    // be the DFU interface's.
    bool inDfuInterface = true;
    for (size_t pos = bytes[0]; pos + 2 <= total;) {
        const uint8_t size = bytes[pos];
        if (size < 2 || pos + size > total)
            return false;
        const uint8_t *descriptor = bytes + pos;
        if (descriptor[1] == kInterfaceType) {
            if (size < kInterfaceLength)
                return false;
            inDfuInterface = isDfuInterface(descriptor);
            if (inDfuInterface && descriptor[7] == kDfuModeProtocol)
                out.alternates.push_back(Alternate{descriptor[2], descriptor[3], descriptor[8]});
        } else if (descriptor[1] == kFunctionalDescriptorType && inDfuInterface && !out.hasFunctional) {
            out.hasFunctional = findFunctionalDescriptor(descriptor, size, out.functional);
        }
        pos += size;
    }
    return !out.alternates.empty() && out.hasFunctional;
}

int chooseFlashAlternate(const std::vector<std::string> &names, uint32_t flashStart)
{
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i].rfind(kInternalFlashName, 0) == 0)
            return int(i);
    }
    for (size_t i = 0; i < names.size(); ++i) {
        MemoryLayout layout;
        Sector sector;
        if (parseMemoryLayout(names[i], layout) && layout.sectorAt(flashStart, sector))
            return int(i);
    }
    return -1;
}

} // namespace flashing::dfu
