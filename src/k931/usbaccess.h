// SPDX-License-Identifier: GPL-3.0-or-later
// What a user does once so that the program may open the K931's bootloader:
// on Linux the udev rules, on Windows the WinUSB driver (usbaccess_posix.cpp,
// usbaccess_windows.cpp).
#pragma once

#include <QString>

QString usbAccessAdvice();
