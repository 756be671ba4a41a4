// SPDX-License-Identifier: GPL-3.0-or-later
// The K931's settings protocol: the bytes the program sends and the
// recognition of what the device answers. No widgets and no port: the main
// window's parser and upload call these.
//
// Queries are "?" and a four-letter mnemonic; set commands are ">", the
// mnemonic and a 32-bit big-endian value; replies are ">", the mnemonic and
// the value as text. Nothing is terminated: one received chunk is one reply.
#pragma once

#include <QByteArray>
#include <QString>

namespace protocol {

// Between two set commands: the device stores each value in its flash and
// loses a command that arrives meanwhile.
constexpr int kSetCommandSpacingMs = 500;

// A mnemonic is four ASCII capitals ("RPML"); which ones the device knows,
// and in which order they are recognised, the settings table says.
QByteArray query(const QByteArray &mnemonic);
QByteArray setCommand(const QByteArray &mnemonic, quint32 value);
QByteArray setFloatCommand(const QByteArray &mnemonic, float value);
QByteArray bootCommand();

// Whether bytes 1 to 4 of the chunk are the mnemonic; a chunk shorter than
// 5 bytes names none. Byte 0 plays no part.
bool names(const QByteArray &chunk, const QByteArray &mnemonic);

// A value reply's text: the chunk decoded as UTF-8 without its first five
// characters.
QString valueText(const QByteArray &chunk);

// A flag reply compared as a whole with ">" + mnemonic + digit.
enum class Flag { Zero, One, Other };
Flag flagValue(const QByteArray &chunk, const QByteArray &mnemonic);

} // namespace protocol
