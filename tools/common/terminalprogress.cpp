// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminalprogress.h"

#include "programmer.h"
#include "textcodec.h"

#include <algorithm>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace terminalprogress {

namespace {

constexpr int kBarWidth = 40;
constexpr int kLineStepPercent = 10;

// The display callbacks are plain functions: this is what they draw from.
struct State {
    std::FILE *stream = stderr;
    bool terminal = false;
    bool logLines = false;
    int percent = 0;
    int drawn = -1;
} state;

bool isTerminal(std::FILE *stream)
{
#ifdef _WIN32
    (void)stream;
    return false;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

void draw()
{
    if (state.terminal) {
        if (state.percent == state.drawn)
            return;
        const int filled = state.percent * kBarWidth / 100;
        std::fprintf(state.stream, "\r[%.*s%*s] %3d%%", filled, "########################################",
                     kBarWidth - filled, "", state.percent);
    } else {
        if (state.drawn >= 0 && state.percent / kLineStepPercent == state.drawn / kLineStepPercent)
            return;
        std::fprintf(state.stream, "%d%%\n", state.percent);
    }
    state.drawn = state.percent;
    std::fflush(state.stream);
}

void onStart()
{
    state.percent = 0;
    state.drawn = -1;
    draw();
}

void onLog(int, const char16_t *text)
{
    if (!state.logLines)
        return;
    if (state.terminal) {
        std::fprintf(state.stream, "\r%-60s\n", flashing::utf16ToUtf8(text).c_str());
        state.drawn = -1; // the bar goes below the line
    } else {
        std::fprintf(state.stream, "%s\n", flashing::utf16ToUtf8(text).c_str());
    }
    draw();
}

void onStep(int increment, int)
{
    state.percent = std::min(100, state.percent + increment);
    draw();
}

} // namespace

void show(std::FILE *stream, bool logLines)
{
    state = State{stream, isTerminal(stream), logLines};
    flashing::setDisplayCallbacks({onStart, onLog, onStep});
}

void end()
{
    if (state.terminal && state.drawn >= 0)
        std::fprintf(state.stream, "\n");
    std::fflush(state.stream);
}

} // namespace terminalprogress
