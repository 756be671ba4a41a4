// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol.h"

#include <cstring>

namespace protocol {
namespace {

constexpr const char *kMnemonics[] = {"VERS", "RPML", "TURA", "HALP", "HALR", "TURZ", "SONT", "KSBM", "KBOS"};
constexpr int kMnemonicCount = int(sizeof kMnemonics / sizeof kMnemonics[0]);
constexpr int kReplyHeaderLength = 5;

} // namespace

QByteArray mnemonicText(Mnemonic m)
{
    const int i = int(m);
    return i >= 0 && i < kMnemonicCount ? QByteArray(kMnemonics[i]) : QByteArray();
}

QByteArray query(Mnemonic m)
{
    return '?' + mnemonicText(m);
}

QByteArray setCommand(Mnemonic m, quint32 value)
{
    QByteArray bytes = '>' + mnemonicText(m);
    bytes.append(char(value >> 24));
    bytes.append(char(value >> 16));
    bytes.append(char(value >> 8));
    bytes.append(char(value));
    return bytes;
}

QByteArray setFloatCommand(Mnemonic m, float value)
{
    quint32 bits = 0;
    static_assert(sizeof bits == sizeof value, "IEEE 754 single precision expected");
    std::memcpy(&bits, &value, sizeof bits);
    return setCommand(m, bits);
}

QByteArray bootCommand()
{
    return QByteArrayLiteral("BOOT");
}

Mnemonic recognise(const QByteArray &chunk)
{
    if (chunk.size() < kReplyHeaderLength)
        return Mnemonic::None;
    for (int i = 0; i < kMnemonicCount; ++i) {
        if (std::memcmp(chunk.constData() + 1, kMnemonics[i], 4) == 0)
            return Mnemonic(i);
    }
    return Mnemonic::None;
}

QString valueText(const QByteArray &chunk)
{
    return QString::fromUtf8(chunk).mid(kReplyHeaderLength);
}

Flag flagValue(const QByteArray &chunk, Mnemonic m)
{
    const QString text = QString::fromUtf8(chunk);
    const QString head = QLatin1Char('>') + QString::fromLatin1(mnemonicText(m));
    if (text == head + QLatin1Char('1'))
        return Flag::One;
    if (text == head + QLatin1Char('0'))
        return Flag::Zero;
    return Flag::Other;
}

Mnemonic nextInChain(Mnemonic m)
{
    return m == Mnemonic::Kbos || m == Mnemonic::None ? Mnemonic::None : Mnemonic(int(m) + 1);
}

} // namespace protocol
