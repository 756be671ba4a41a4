// SPDX-License-Identifier: GPL-3.0-or-later
#include "testwindow.h"

#include "localhttpserver.h"
#include "mainwindowstate.h"
#include "progress.h"

MainWindowConfiguration realConfiguration(const QUrl &root)
{
    MainWindowConfiguration configuration;
    configuration.probeUrl = root.resolved(QUrl(QStringLiteral("/"))).toString();
    configuration.firmwareBaseUrl = root.resolved(QUrl(QStringLiteral("/fw/"))).toString();
    return configuration;
}

MainWindowConfiguration quickConfiguration(const QUrl &root)
{
    MainWindowConfiguration c = realConfiguration(root);
    c.portScanIntervalMs = 50;
    c.portOpenDelayMs = 50;
    c.progressTickMs = 1;
    c.internetCheckIntervalMs = 100;
    c.probeTimeoutMs = 1000;
    c.descriptionParseDelayMs = 300; // a download on a loaded machine still lands first
    c.versionCheckIntervalMs = 50;
    c.commandIntervalMs = 50;
    c.upgradeStepDelayMs = 300;
    c.dfuPollIntervalMs = 50;
    c.dfuWaitLimitMs = 3000;
    c.flashWindow.progressTickMs = 5;
    c.flashWindow.removalPollMs = 100;
    return c;
}

MainWindowConfiguration offlineConfiguration()
{
    return quickConfiguration(closedLocalUrl(QStringLiteral("/")));
}

void resetMainWindowState()
{
    portName.clear();
    firmwareBaseUrl = kFirmwareBaseUrl;
    firmwareFilePath.clear();
    serverVersionText.clear();
    serverVersion = 0.0f;
    upgradeInProgress = false;
    deviceAnswered = false;
    updateCheckStarted = false;
    progressTimer.stop();
    internetCheckTimer.stop();
    versionCheckTimer.stop();
    progressAccumulator = 0.0f;
}
