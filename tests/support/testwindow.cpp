#include "testwindow.h"

#include "app/progress.h"
#include "localhttpserver.h"
#include "mainwindow/mainwindowstate.h"

Endpoints serverEndpoints(const QUrl &root)
{
    Endpoints endpoints;
    endpoints.probeUrl = root.resolved(QUrl(QStringLiteral("/"))).toString();
    endpoints.firmwareBaseUrl = root.resolved(QUrl(QStringLiteral("/fw/"))).toString();
    endpoints.descriptionUrl = root.resolved(QUrl(QStringLiteral("/fw/data.json"))).toString();
    return endpoints;
}

Endpoints offlineEndpoints()
{
    return serverEndpoints(closedLocalUrl(QStringLiteral("/")));
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
