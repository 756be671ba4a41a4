// SPDX-License-Identifier: GPL-3.0-or-later
#include "defaultbackend.h"
#include "enginebackend.h"
#include "libusbprovider.h"

namespace flashing {

std::unique_ptr<Backend> makeDefaultBackend()
{
    return std::make_unique<EngineBackend>(std::make_unique<LibusbProvider>());
}

} // namespace flashing
