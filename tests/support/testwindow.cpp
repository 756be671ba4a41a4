#include "testwindow.h"

#include "app/progress.h"
#include "localhttpserver.h"
#include "mainwindow/mainwindowstate.h"

Endpoints offlineEndpoints()
{
    Endpoints endpoints;
    const QUrl closed = closedLocalUrl(QStringLiteral("/"));
    endpoints.firmwareBaseUrl = closed.toString() + QStringLiteral("fw/");
    endpoints.descriptionUrl = closed.toString() + QStringLiteral("fw/data.json");
    endpoints.probeUrl = closed.toString();
    return endpoints;
}

void resetMainWindowState()
{
    portName.clear();
    firmwareBaseUrl = kFirmwareBaseUrl;
    firmwareFileName.clear();
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
