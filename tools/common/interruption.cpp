// SPDX-License-Identifier: GPL-3.0-or-later
#include "interruption.h"

#include <atomic>
#include <csignal>
#include <initializer_list>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace interruption {
namespace {

// Lock-free, so that the handler may set it and the engine's worker thread
// read it.
std::atomic<int> caught{0};
std::atomic<bool> writing{false};
constexpr const char kWriteNotice[] =
    "\nSe a memória ainda não foi apagada, nada será gravado; se já foi, a gravação termina primeiro: não "
    "desconecte o aparelho.\n";

void onSignal(int number)
{
    // A closed terminal or a quit key asks the same as kill: stop, safely.
    caught = number == SIGINT ? SIGINT : SIGTERM;
#ifndef _WIN32
    // write() is the one way out of a handler that is safe.
    if (writing.load()) {
        [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, kWriteNotice, sizeof kWriteNotice - 1);
    }
#endif
}

} // namespace

void catchSignals()
{
#ifndef _WIN32
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaction(number, &action, nullptr);
    // Output into a pipe that was closed (| head) fails quietly instead.
    std::signal(SIGPIPE, SIG_IGN);
#else
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
#endif
}

bool requested()
{
    return caught.load() != 0;
}

int signalNumber()
{
    return caught.load();
}

void setWriting(bool now)
{
    writing = now;
}

int exitStatus()
{
    return 128 + caught.load();
}

} // namespace interruption
