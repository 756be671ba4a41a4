// SPDX-License-Identifier: GPL-3.0-or-later
// Where a window program prints its --help and --version: its terminal on
// Linux; on Windows the console it was started from, attached on demand
// (console_posix.cpp, console_windows.cpp).
#pragma once

// Prints UTF-8 text where the user who typed the command sees it.
void printToUser(const char *text);
