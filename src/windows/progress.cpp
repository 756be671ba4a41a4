// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress.h"

#include <QCoreApplication>

float progressAccumulator = 0.0f;

void onProgressStart()
{
    QCoreApplication::processEvents();
}

void onLogMessage(int, const char16_t *)
{
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
