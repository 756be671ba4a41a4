// SPDX-License-Identifier: GPL-3.0-or-later
// A desktop session ends its programs with SIGTERM: quit the event loop then,
// so that the windows and the application are torn down as on a normal close.
#pragma once

class QCoreApplication;

void quitOnTerminationRequest(QCoreApplication &app);
