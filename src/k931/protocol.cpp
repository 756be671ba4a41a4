// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol.h"

#include <cstring>

namespace protocol {
namespace {

constexpr int kMnemonicLength = 4;
constexpr int kReplyHeaderLength = 1 + kMnemonicLength;

} // namespace

QByteArray query(const QByteArray &mnemonic)
{
    return '?' + mnemonic;
}

QByteArray setCommand(const QByteArray &mnemonic, quint32 value)
{
    QByteArray bytes = '>' + mnemonic;
    bytes.append(char(value >> 24));
    bytes.append(char(value >> 16));
    bytes.append(char(value >> 8));
    bytes.append(char(value));
    return bytes;
}

QByteArray setFloatCommand(const QByteArray &mnemonic, float value)
{
    quint32 bits = 0;
    static_assert(sizeof bits == sizeof value, "IEEE 754 single precision expected");
    std::memcpy(&bits, &value, sizeof bits);
    return setCommand(mnemonic, bits);
}

QByteArray bootCommand()
{
    return QByteArrayLiteral("BOOT");
}

bool names(const QByteArray &chunk, const QByteArray &mnemonic)
{
    return chunk.size() >= kReplyHeaderLength && mnemonic.size() == kMnemonicLength
        && std::memcmp(chunk.constData() + 1, mnemonic.constData(), kMnemonicLength) == 0;
}

QString valueText(const QByteArray &chunk)
{
    return QString::fromUtf8(chunk).mid(kReplyHeaderLength);
}

Flag flagValue(const QByteArray &chunk, const QByteArray &mnemonic)
{
    const QString text = QString::fromUtf8(chunk);
    const QString head = QLatin1Char('>') + QString::fromLatin1(mnemonic);
    if (text == head + QLatin1Char('1'))
        return Flag::One;
    if (text == head + QLatin1Char('0'))
        return Flag::Zero;
    return Flag::Other;
}

} // namespace protocol
