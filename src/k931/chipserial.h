// SPDX-License-Identifier: GPL-3.0-or-later
// The STM32's USB serial number, as its ROM bootloader and the K931's
// application both make it from the chip's 96-bit unique ID: uid0 + uid2 as
// 8 hex digits, then the upper half of uid1 as 4 ("206436955246"). The
// bootloader that appears after "BOOT" is told apart from another device's
// by it.
#pragma once

#include <QString>

namespace k931 {

// Whether two USB serial strings name the same chip. Upper and lower case
// are the same digits. Some copies of the USB stack print the two numbers
// without leading zeros ("%lX%X"), so a 12-digit string also matches the
// form it takes that way: its 8-digit part and its 4-digit part each without
// leading zeros ("00A4369500C1" and "A43695C1"). The other way round is
// never guessed: two shorter strings would not say where one number ends,
// so they match only when equal. An empty string matches nothing.
bool sameChipSerial(const QString &a, const QString &b);

} // namespace k931
