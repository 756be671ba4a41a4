// SPDX-License-Identifier: GPL-3.0-or-later
#include "termination.h"

// A window program on Windows has no console whose Ctrl-C could reach it; a
// session's end closes its windows, which waits for a write like any close.
void quitOnTerminationRequest(QCoreApplication &)
{
}
