// SPDX-License-Identifier: GPL-3.0-or-later
// Why a firmware write failed, in one Portuguese line for the technician or
// the owner (the windows and tarvik-config): the file's fault, with the HEX
// line where there is one, or the device's.
#pragma once

#include <QString>

QString flashFailureReason(int result, const QString &filePath);
