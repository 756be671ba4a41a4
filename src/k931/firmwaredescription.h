// SPDX-License-Identifier: GPL-3.0-or-later
// The firmware server's description file (data.json) and the version
// number in the device's version text. Pure code: bytes in, values out.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

struct FirmwareDescription {
    bool hasModels = false;   // the key "Modelo" is present, whatever its type
    QStringList models;       // its string elements, in order, each once
    bool hasVersion = false;  // the key "Version" is present
    QString versionText;      // its text; empty when it is not a JSON string
    // Why the description is refused whole (then `models` is empty): a
    // model that cannot be part of a file name, or too many of them. The
    // names come from whoever serves the file, and each one becomes a path.
    QString problem;
    bool ok() const { return problem.isEmpty(); }
};

FirmwareDescription parseFirmwareDescriptionJson(const QByteArray &bytes);

// What a description may list, so that a mirror of it stays a few files.
constexpr int kMaxModels = 64;
constexpr int kMaxModelNameLength = 64;
// Why `name` cannot be part of a file name, in Portuguese; empty when it is
// a plain name: letters, digits, '.', '_', '-', '+' and spaces, no "..", at
// most kMaxModelNameLength characters.
QString modelNameProblem(const QString &name);
// The name as it can be shown in a message: control characters (a NUL, a
// line break) spelled out, so that what is shown is what was sent.
QString printableName(const QString &name);

// Where the firmware files and their description (data.json) are served.
inline const QString kFirmwareBaseUrl = QStringLiteral("https://firmware.brevanto.com.br/binarinhos/K931/F446RE/");
inline const QString kFirmwareDescriptionName = QStringLiteral("data.json");
// The device types as the window lists them; each has its own file per model.
QStringList firmwareTypes();
// The server's file for a model and type ("K931" and "OBD + Boost" give
// "K931_OBD_Boost.hex"); an unknown type gives the standard file. Empty for
// a model that is no plain name: no file is ever named after it.
QString firmwareFileFor(const QString &model, const QString &type);

// The number after the first "V" of a version text ("K931 V1.5 Boost" gives
// 1.5), read like the C library's atof but always with "." as the decimal
// point, whatever the system's locale; 0 without "V" or without a number.
float versionNumberAfterV(const QString &versionText);
