// SPDX-License-Identifier: GPL-3.0-or-later
// A write's progress on the command line: a bar redrawn in place when the
// stream is a terminal, one line every ten percent when it is a log or a
// pipe (where a bar would be hundreds of carriage returns).
#pragma once

#include <cstdio>

namespace terminalprogress {

// Installs the flashing library's display callbacks. With `logLines` the
// engine's own lines are printed above the bar.
void show(std::FILE *stream, bool logLines);
// Ends the bar's line once the write has returned.
void end();

} // namespace terminalprogress
