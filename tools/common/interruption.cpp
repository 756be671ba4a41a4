// SPDX-License-Identifier: GPL-3.0-or-later
#include "interruption.h"
#include "interruptionstate.h"

#include <atomic>
#include <csignal>

namespace interruption {
namespace {

// Lock-free, so that a signal handler may set it and the engine's worker
// thread read it.
std::atomic<int> caught{0};
std::atomic<bool> writing{false};

} // namespace

namespace state {

const char kWriteNotice[] =
    "\nSe a memória ainda não foi apagada, nada será gravado; se já foi, a gravação termina primeiro: não "
    "desconecte o aparelho.\n";
const size_t kWriteNoticeLength = sizeof kWriteNotice - 1;

bool note(bool isInterrupt)
{
    // A closed terminal or a quit key asks the same as kill: stop, safely.
    caught = isInterrupt ? SIGINT : SIGTERM;
    return writing.load();
}

bool writingNow()
{
    return writing.load();
}

} // namespace state

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
