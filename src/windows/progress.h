// SPDX-License-Identifier: GPL-3.0-or-later
// The progress accumulator that the flashing library's display callbacks
// advance, and the callbacks themselves. Everything here runs on the GUI
// thread: the library calls back on the thread that called it.
#pragma once

// Percent of a progress bar; never clamped (a bar's own 0..100 range clamps
// what it shows).
extern float progressAccumulator;

// The three display callbacks handed to the flashing library by main().
void onProgressStart();
void onLogMessage(int kind, const char16_t *text);
void onProgressStep(int increment, int total);

// How the bars read the accumulator: the flash bars round to nearest, the
// connection animation truncates.
int roundedProgress(float value);
int truncatedProgress(float value);
