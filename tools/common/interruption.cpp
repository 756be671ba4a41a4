// SPDX-License-Identifier: GPL-3.0-or-later
#include "interruption.h"

#include <atomic>
#include <csignal>
#include <cstring>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace interruption {
namespace {

volatile std::sig_atomic_t caught = 0;
std::atomic<bool> writing{false};
const char *writeNotice = "";

void onSignal(int number)
{
    caught = number;
#ifndef _WIN32
    // write() is the one way out of a handler that is safe.
    if (writing.load()) {
        [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, writeNotice, std::strlen(writeNotice));
    }
#endif
}

} // namespace

void catchSignals(const char *duringWrite)
{
    writeNotice = duringWrite;
#ifndef _WIN32
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#else
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
#endif
}

bool requested()
{
    return caught != 0;
}

int signalNumber()
{
    return int(caught);
}

void setWriting(bool now)
{
    writing = now;
}

int exitStatus()
{
    return 128 + int(caught);
}

} // namespace interruption
