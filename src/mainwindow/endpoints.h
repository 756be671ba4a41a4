// The fixed web addresses and waiting limits of the main window, kept in one
// place. The program always uses the defaults; tests construct the window
// with local servers and shorter limits.
#pragma once

#include <QString>

inline const QString kFirmwareBaseUrl = QStringLiteral("https://firmware.brevanto.com.br/binarinhos/K931/F446RE/");
inline const QString kFirmwareDescriptionUrl =
    QStringLiteral("https://firmware.brevanto.com.br/binarinhos/K931/F446RE/data.json");
inline const QString kInternetProbeUrl = QStringLiteral("http://www.example.com/");

// How long the upgrade waits for the device to show up in its DFU bootloader.
constexpr int kDfuWaitLimitMs = 30000;
// An internet probe that has not finished by then counts as no internet.
constexpr int kProbeTimeoutMs = 4000;
// The device's port is opened this long after it shows up.
constexpr int kPortOpenDelayMs = 5000;
// The upgrade's pause after "BOOT" and after the warning box.
constexpr int kUpgradeStepDelayMs = 4000;
// A firmware download that moves no byte for this long has failed: the user
// waits for it with the upgrade button disabled.
constexpr int kDownloadStallLimitMs = 30000;

struct Endpoints {
    QString firmwareBaseUrl = kFirmwareBaseUrl; // ends in "/"
    QString descriptionUrl = kFirmwareDescriptionUrl;
    QString probeUrl = kInternetProbeUrl;
    int dfuWaitLimitMs = kDfuWaitLimitMs;
    int probeTimeoutMs = kProbeTimeoutMs;
    int portOpenDelayMs = kPortOpenDelayMs;
    int upgradeStepDelayMs = kUpgradeStepDelayMs;
    int downloadStallLimitMs = kDownloadStallLimitMs;
};
