// SPDX-License-Identifier: GPL-3.0-or-later
#include "termination.h"

#include "programmer.h"

#include <QCoreApplication>

#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Written by the signal handler, read by the event loop (the only safe way
// out of a handler).
int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// Quitting in the middle of a write would hide its result while it goes on;
// the user would unplug a half-written device. The write's own time limits
// bound the wait. A write that failed makes the exit status say so.
void quitOnceNoWriteRuns(QCoreApplication &app)
{
    if (!flashing::writeInProgress()) {
        app.quit();
        return;
    }
    std::fputs("Aguarde o fim da atualização\n", stderr);
    auto *poll = new QTimer(&app);
    QObject::connect(poll, &QTimer::timeout, &app, [&app, poll] {
        if (flashing::writeInProgress())
            return;
        poll->stop();
        app.exit(flashing::lastWriteResult() == flashing::kOk ? 0 : 1);
    });
    poll->start(kWriteEndPollMs);
}
} // namespace

void quitOnTerminationRequest(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
        quitOnceNoWriteRuns(app);
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // Ctrl-C in the terminal that started the window, its terminal closed, a
    // session's end: each would otherwise end the process in the middle of a
    // write.
    for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT})
        sigaction(signal, &action, nullptr);
    // The debug lines go to whatever started the window: a pipe closed early
    // (piped into head) must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
}
