// SPDX-License-Identifier: GPL-3.0-or-later
// What the system's handlers (interruption_posix.cpp, interruption_windows.cpp)
// record; safe to call from a signal handler.
#pragma once

#include <cstddef>

namespace interruption::state {

// Told to the user when a request arrives while a write runs.
extern const char kWriteNotice[];
extern const size_t kWriteNoticeLength;
// Records a request (Ctrl-C, or one to end the program) and says whether a
// write is running.
bool note(bool isInterrupt);
bool writingNow();

} // namespace interruption::state
