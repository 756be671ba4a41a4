// SPDX-License-Identifier: GPL-3.0-or-later
// How the K931 shows up on USB, named once for the window, the manual flash
// window and the command-line tool.
#pragma once

namespace k931 {

constexpr int kUsbVendor = 0x0483;       // STMicroelectronics
constexpr int kSerialProduct = 0x5740;   // the application's virtual COM port
constexpr int kDfuProduct = 0xDF11;      // the ROM's DFU bootloader
constexpr unsigned kFlashStart = 0x08000000;
// The STM32F446RE's internal flash: 512 KiB in 4 x 16, 1 x 64 and 3 x 128 KiB
// sectors, as its ROM bootloader announces them.
constexpr unsigned kFlashBytes = 512u * 1024u;
// Its 128 KiB of SRAM, where a firmware's initial stack pointer must lie.
constexpr unsigned kSramStart = 0x20000000;
constexpr unsigned kSramBytes = 128u * 1024u;
// How its ROM bootloader announces that flash (alternate setting 0).
constexpr const char *kFlashLayout = "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,03*128Kg";

} // namespace k931
