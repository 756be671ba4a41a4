// SPDX-License-Identifier: GPL-3.0-or-later
// The backend the six calls use until a caller installs another.
#pragma once

#include "programmer.h"

#include <memory>

namespace flashing {

// The libusb engine.
std::unique_ptr<Backend> makeDefaultBackend();

} // namespace flashing
