// SPDX-License-Identifier: GPL-3.0-or-later
// A round status lamp: green while on, red while off.
#pragma once

#include <QColor>
#include <QWidget>

class LedIndicator : public QWidget {
    Q_OBJECT
public:
    explicit LedIndicator(QWidget *parent = nullptr);

    void setState(bool on);
    void setOnColor(QColor color);
    void setOffColor(QColor color);
    void setOnPattern(Qt::BrushStyle pattern);
    void setOffPattern(Qt::BrushStyle pattern);
    void setLedSize(int diameter);

    bool isOn() const { return state; }
    int diameter() const { return ledSize; }

public slots:
    void switchLedIndicator();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool state = false;
    QColor onColor = Qt::green;
    QColor offColor = Qt::red;
    Qt::BrushStyle onPattern = Qt::SolidPattern;
    Qt::BrushStyle offPattern = Qt::SolidPattern;
    int ledSize = 20;
};
