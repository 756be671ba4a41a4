// Why a manual write failed, in one Portuguese line for the technician: the
// file's fault (with the HEX line where there is one) or the device's.
#pragma once

#include <QString>

QString flashFailureReason(int result, const QString &filePath);
