// SPDX-License-Identifier: GPL-3.0-or-later
#include "interruption.h"
#include "interruptionstate.h"

#include <windows.h>

namespace interruption {
namespace {

// Windows ends the process once this handler returns from a closed console
// (and after a few seconds in any case): while a write runs the handler
// waits for it, so that the device is not left half-written.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    if (state::note(interrupt)) {
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), state::kWriteNotice, DWORD(state::kWriteNoticeLength), &written,
                  nullptr);
    }
    if (!interrupt) {
        while (state::writingNow())
            Sleep(50);
    }
    return TRUE;
}

} // namespace

void catchSignals()
{
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

// Windows has no SIGPIPE: a write into a closed pipe fails with an error.
void ignoreBrokenPipe()
{
}

} // namespace interruption
