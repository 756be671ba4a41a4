// SPDX-License-Identifier: GPL-3.0-or-later
#include "textcodec.h"

namespace flashing {
namespace {

void appendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

bool isHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
// A byte that is no UTF-8 travels as a lone surrogate and comes back as
// itself, so that a file name in another encoding still names its file.
constexpr char16_t kEscapedByteBase = 0xDC00;
bool isEscapedByte(char16_t c) { return c >= kEscapedByteBase + 0x80 && c <= kEscapedByteBase + 0xFF; }

} // namespace

std::string utf16ToUtf8(const char16_t *text)
{
    std::string out;
    if (!text)
        return out;
    for (const char16_t *p = text; *p; ++p) {
        char32_t cp = *p;
        if (isHigh(*p) && isLow(p[1])) {
            cp = 0x10000 + ((char32_t(*p) - 0xD800) << 10) + (char32_t(p[1]) - 0xDC00);
            ++p;
        } else if (isEscapedByte(*p)) {
            out += char(*p - kEscapedByteBase);
            continue;
        } else if (isHigh(*p) || isLow(*p)) {
            cp = 0xFFFD;
        }
        appendUtf8(out, cp);
    }
    return out;
}

std::u16string utf8ToUtf16(const std::string &text)
{
    std::u16string out;
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        int extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : -1;
        char32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
        bool valid = extra >= 0 && i + size_t(extra) < text.size();
        for (int k = 1; valid && k <= extra; ++k) {
            const unsigned char cc = static_cast<unsigned char>(text[i + size_t(k)]);
            if ((cc & 0xC0) != 0x80)
                valid = false;
            else
                cp = (cp << 6) | (cc & 0x3F);
        }
        if (!valid || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out += char16_t(kEscapedByteBase + c);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 + (cp >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
        i += size_t(extra) + 1;
    }
    return out;
}

} // namespace flashing
