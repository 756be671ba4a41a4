// SPDX-License-Identifier: GPL-3.0-or-later
#include "chipserial.h"

namespace k931 {

namespace {

constexpr int kFirstPartDigits = 8;
constexpr int kSerialDigits = 12;

bool isHex(const QString &text)
{
    for (const QChar c : text) {
        if (!c.isDigit() && !(c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f')))
            return false;
    }
    return !text.isEmpty();
}

// A number's digits without its leading zeros, as "%X" prints it.
QString unpadded(const QString &digits)
{
    int first = 0;
    while (first < digits.size() - 1 && digits[first] == QLatin1Char('0'))
        ++first;
    return digits.mid(first);
}

// The "%lX%X" form of the 12-digit one.
QString unpaddedForm(const QString &serial)
{
    return unpadded(serial.left(kFirstPartDigits)) + unpadded(serial.mid(kFirstPartDigits));
}

bool isFullForm(const QString &serial)
{
    return serial.size() == kSerialDigits && isHex(serial);
}

} // namespace

bool sameChipSerial(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    if (a.compare(b, Qt::CaseInsensitive) == 0)
        return true;
    if (isFullForm(a) && isHex(b) && b.size() < kSerialDigits)
        return unpaddedForm(a).compare(b, Qt::CaseInsensitive) == 0;
    if (isFullForm(b) && isHex(a) && a.size() < kSerialDigits)
        return unpaddedForm(b).compare(a, Qt::CaseInsensitive) == 0;
    return false;
}

} // namespace k931
