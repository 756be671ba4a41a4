// SPDX-License-Identifier: GPL-3.0-or-later
// State of the main window's code that outlives any one call: shared between
// the member functions of its several source files and, for the timers,
// existing before the window does.
#pragma once

#include <QString>
#include <QTimer>

extern QString portName;
extern QString firmwareBaseUrl;
extern QString firmwareFilePath;
extern QString serverVersionText;
extern float serverVersion;
extern bool upgradeInProgress;
extern bool deviceAnswered;
extern bool updateCheckStarted;
extern QTimer progressTimer;
extern QTimer internetCheckTimer;
extern QTimer versionCheckTimer;
extern QTimer *portScanTimer;
