// SPDX-License-Identifier: GPL-3.0-or-later
// Every delay and period of the main window and of the manual flash window,
// each with the reason for its value, and the web addresses the main window
// talks to. The program always runs with these values; tests build the
// windows with local servers and shorter delays through the configurations
// below.
#pragma once

#include "bootloaderwait.h"
#include "firmwaredescription.h"
#include "protocol.h"

#include <QString>

namespace delays {

// Looking for the device's serial port once a second costs nothing and is
// faster than a person plugs a cable.
constexpr int kPortScanIntervalMs = 1000;
// The port is listed as soon as USB enumerates it, seconds before the
// device's firmware listens on it.
constexpr int kPortOpenDelayMs = 5000;
// One step of the connection animation and of the flash progress display.
constexpr int kProgressTickMs = 50;
// How often the internet lamp is brought up to date.
constexpr int kInternetCheckIntervalMs = 5000;
// A probe that has not finished by then counts as no internet, before the
// next check is due.
constexpr int kProbeTimeoutMs = 4000;
// The firmware description is read this long after its download starts: a
// slow server still has time to deliver the small file.
constexpr int kDescriptionParseDelayMs = 5000;
// How often the server's version is compared with the device's.
constexpr int kVersionCheckIntervalMs = 1000;
// Between two set commands, as the device needs them.
constexpr int kCommandIntervalMs = protocol::kSetCommandSpacingMs;
// After "BOOT" and after the warning box: the device needs this long to
// leave its application and come up as a bootloader.
constexpr int kUpgradeStepDelayMs = 4000;
// How often the upgrade looks for the bootloader on USB, and how long: as
// long as the command-line update waits.
constexpr int kDfuPollIntervalMs = road::kBootloaderPollMs;
constexpr int kDfuWaitLimitMs = road::kBootloaderWaitMs;
// A firmware download that moves no byte for this long has failed: the user
// waits for it with the upgrade button disabled.
constexpr int kDownloadStallLimitMs = 30000;
// How often the flash window looks whether the written device has left USB.
constexpr int kRemovalPollMs = 1000;

} // namespace delays

inline const QString kInternetProbeUrl = QStringLiteral("http://www.example.com/");

struct FlashWindowConfiguration {
    int progressTickMs = delays::kProgressTickMs;
    int removalPollMs = delays::kRemovalPollMs;
};

struct MainWindowConfiguration {
    QString firmwareBaseUrl = kFirmwareBaseUrl; // ends in "/"
    QString probeUrl = kInternetProbeUrl;
    int portScanIntervalMs = delays::kPortScanIntervalMs;
    int portOpenDelayMs = delays::kPortOpenDelayMs;
    int progressTickMs = delays::kProgressTickMs;
    int internetCheckIntervalMs = delays::kInternetCheckIntervalMs;
    int probeTimeoutMs = delays::kProbeTimeoutMs;
    int descriptionParseDelayMs = delays::kDescriptionParseDelayMs;
    int versionCheckIntervalMs = delays::kVersionCheckIntervalMs;
    int commandIntervalMs = delays::kCommandIntervalMs;
    int upgradeStepDelayMs = delays::kUpgradeStepDelayMs;
    int dfuPollIntervalMs = delays::kDfuPollIntervalMs;
    int dfuWaitLimitMs = delays::kDfuWaitLimitMs;
    int downloadStallLimitMs = delays::kDownloadStallLimitMs;
    FlashWindowConfiguration flashWindow;

    // The description lies beside the firmware files.
    QString descriptionUrl() const { return firmwareBaseUrl + kFirmwareDescriptionName; }
};
