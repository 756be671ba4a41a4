// SPDX-License-Identifier: GPL-3.0-or-later
// Ctrl-C, SIGTERM, a closed terminal (SIGHUP) and SIGQUIT in the
// command-line tools. Ending the process at once would leave a device
// half-written or in its bootloader without a word, so the signal only sets
// a flag: a write that has begun changing the flash ends first, one that has
// not stops before it does, the waits look at the flag between their polls,
// and the tool then says where the device is. A closed pipe (SIGPIPE) only
// ends the output, never the write.
#pragma once

namespace interruption {

// How often a wait looks whether a signal came: Ctrl-C is answered within
// a moment, at no cost.
constexpr int kPollMs = 100;

// From here on, output into a pipe that was closed (| head, | true) fails
// quietly: the work goes on and the exit status is the work's. Called first
// thing in every command.
void ignoreBrokenPipe();
// From here on those signals are caught, save one the parent left ignored
// (nohup's SIGHUP). One arriving while a write runs is answered on standard
// error with what will happen to the device.
void catchSignals();
// Whether a signal came, and which (0 when none). SIGHUP and SIGQUIT count
// as SIGTERM; on Windows Ctrl-C counts as SIGINT, a closed console window as
// SIGTERM.
bool requested();
int signalNumber();
// Marks the part during which a signal must not cut anything short.
void setWriting(bool writing);
// The exit status of a process ended by that signal (128 + signal).
int exitStatus();

} // namespace interruption
