// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress.h"

#include <QCoreApplication>
#include <QDebug>
#include <QString>

float progressAccumulator = 0.0f;

void onProgressStart()
{
    QCoreApplication::processEvents();
}

void onLogMessage(int, const char16_t *text)
{
    // The engine's lines (where the old firmware's copy went, or why there
    // is none) belong in the program's log.
    if (text)
        qDebug().noquote() << QString::fromUtf16(text);
    // Summed in double and stored as float, as the bars have always read it.
    progressAccumulator = float(double(progressAccumulator) + 0.1);
    QCoreApplication::processEvents();
}

void onProgressStep(int increment, int)
{
    progressAccumulator = progressAccumulator + float(increment);
    QCoreApplication::processEvents();
}

int roundedProgress(float value)
{
    return int(double(value) + 0.5);
}

int truncatedProgress(float value)
{
    return int(value);
}
