// The fixed web addresses the main window talks to, kept in one place. The
// program always uses the defaults; tests construct the window with local
// servers instead.
#pragma once

#include <QString>

inline const QString kFirmwareBaseUrl = QStringLiteral("https://firmware.brevanto.com.br/binarinhos/K931/F446RE/");
inline const QString kFirmwareDescriptionUrl = QStringLiteral("https://firmware.brevanto.com.br/binarinhos/K931/F446RE/data.json");
inline const QString kInternetProbeUrl = QStringLiteral("http://www.example.com/");

struct Endpoints {
    QString firmwareBaseUrl = kFirmwareBaseUrl;        // ends in "/"
    QString descriptionUrl = kFirmwareDescriptionUrl;
    QString probeUrl = kInternetProbeUrl;
};
