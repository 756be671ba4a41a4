// SPDX-License-Identifier: GPL-3.0-or-later
// Ctrl-C and SIGTERM in the command-line tools. Ending the process at once
// would leave a device half-written or in its bootloader without a word, so
// the signal only sets a flag: a running write ends first, the waits look at
// the flag between their polls, and the tool then says where the device is.
#pragma once

namespace interruption {

// From here on SIGINT and SIGTERM are caught. `duringWrite` is printed (to
// standard error) when a signal arrives while a write runs.
void catchSignals(const char *duringWrite);
// Whether a signal came, and which (0 when none).
bool requested();
int signalNumber();
// Marks the part during which a signal must not cut anything short.
void setWriting(bool writing);
// The exit status of a process ended by that signal (128 + signal).
int exitStatus();

} // namespace interruption
