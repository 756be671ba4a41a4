// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindowstate.h"

#include "windowconfiguration.h"

QString portName;
QString firmwareBaseUrl = kFirmwareBaseUrl;
QString firmwareFilePath;
QString serverVersionText;
float serverVersion = 0.0f;
bool upgradeInProgress = false;
bool deviceAnswered = false;
bool updateCheckStarted = false;
QTimer progressTimer;
QTimer internetCheckTimer;
QTimer versionCheckTimer;
QTimer *portScanTimer = nullptr;
