// Building the main window for tests: local endpoints only, and the
// process-wide state of the window's code back at its start values (a test
// executable builds several windows in one process).
#pragma once

#include "mainwindow/endpoints.h"

Endpoints offlineEndpoints();
void resetMainWindowState();
