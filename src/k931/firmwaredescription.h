// SPDX-License-Identifier: GPL-3.0-or-later
// The firmware server's description file (data.json) and the version
// number in the device's version text. Pure code: bytes in, values out.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

struct FirmwareDescription {
    bool hasModels = false;   // the key "Modelo" is present, whatever its type
    QStringList models;       // its string elements, in order
    bool hasVersion = false;  // the key "Version" is present
    QString versionText;      // its text; empty when it is not a JSON string
};

FirmwareDescription parseFirmwareDescriptionJson(const QByteArray &bytes);

// Where the firmware files and their description (data.json) are served.
inline const QString kFirmwareBaseUrl = QStringLiteral("https://firmware.brevanto.com.br/binarinhos/K931/F446RE/");
inline const QString kFirmwareDescriptionName = QStringLiteral("data.json");
// The device types as the window lists them; each has its own file per model.
QStringList firmwareTypes();
// The server's file for a model and type ("K931" and "OBD + Boost" give
// "K931_OBD_Boost.hex"); an unknown type gives the standard file.
QString firmwareFileFor(const QString &model, const QString &type);

// The number after the first "V" of a version text ("K931 V1.5 Boost" gives
// 1.5), read like the C library's atof but always with "." as the decimal
// point, whatever the system's locale; 0 without "V" or without a number.
float versionNumberAfterV(const QString &versionText);
