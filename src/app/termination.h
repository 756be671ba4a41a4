// SPDX-License-Identifier: GPL-3.0-or-later
// A desktop session ends its programs with SIGTERM: quit the event loop then,
// so that the windows and the application are torn down as on a normal close.
#pragma once

class QCoreApplication;

// While a write runs the request waits; this often it looks whether the
// write has ended.
constexpr int kWriteEndPollMs = 100;

void quitOnTerminationRequest(QCoreApplication &app);
