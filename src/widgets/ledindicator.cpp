// SPDX-License-Identifier: GPL-3.0-or-later
#include "ledindicator.h"

#include <QPainter>

namespace {
// The widget is kept a little larger than the lamp so the outline is not cut.
constexpr int kMargin = 10;
constexpr int kInitialSide = 28;
} // namespace

LedIndicator::LedIndicator(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(kInitialSide, kInitialSide);
}

// Every setter repaints at once rather than scheduling an update: the lamps
// are switched from inside the flashing library's callbacks too, where the
// window must show the change before the call returns.
void LedIndicator::setState(bool on)
{
    state = on;
    repaint();
}

void LedIndicator::switchLedIndicator()
{
    state = !state;
    repaint();
}

void LedIndicator::setOnColor(QColor color)
{
    onColor = color;
    repaint();
}

void LedIndicator::setOffColor(QColor color)
{
    offColor = color;
    repaint();
}

void LedIndicator::setOnPattern(Qt::BrushStyle pattern)
{
    onPattern = pattern;
    repaint();
}

void LedIndicator::setOffPattern(Qt::BrushStyle pattern)
{
    offPattern = pattern;
    repaint();
}

void LedIndicator::setLedSize(int diameter)
{
    ledSize = diameter;
    setFixedSize(diameter + kMargin, diameter + kMargin);
    repaint();
}

void LedIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setBrush(state ? QBrush(onColor, onPattern) : QBrush(offColor, offPattern));
    painter.drawEllipse(QRect(0, 0, ledSize, ledSize));
}
