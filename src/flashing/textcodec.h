// SPDX-License-Identifier: GPL-3.0-or-later
// UTF-16 <-> UTF-8 for the library's text arguments, without Qt.
#pragma once

#include <string>

namespace flashing {

// Bytes that are no UTF-8 round-trip as the lone surrogates U+DC80..U+DCFF;
// other unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(const char16_t *text);
std::u16string utf8ToUtf16(const std::string &text);

} // namespace flashing
