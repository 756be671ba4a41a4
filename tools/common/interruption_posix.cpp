// SPDX-License-Identifier: GPL-3.0-or-later
#include "interruption.h"
#include "interruptionstate.h"

#include <csignal>
#include <initializer_list>
#include <unistd.h>

namespace interruption {
namespace {

void onSignal(int number)
{
    if (state::note(number == SIGINT)) {
        // write() is the one way out of a handler that is safe.
        [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, state::kWriteNotice, state::kWriteNoticeLength);
    }
}

} // namespace

void catchSignals()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        // A signal the parent left ignored stays so: nohup means a closed
        // terminal is no request to stop, as a background job of a script
        // ignores Ctrl-C.
        struct sigaction inherited {};
        if (sigaction(number, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
            continue;
        sigaction(number, &action, nullptr);
    }
    ignoreBrokenPipe();
}

void ignoreBrokenPipe()
{
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace interruption
