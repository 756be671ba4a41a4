// SPDX-License-Identifier: GPL-3.0-or-later
// The status lamp judged by its pixels.
#include "ledindicator.h"

#include <QImage>
#include <QtTest>

namespace {

QColor centre(LedIndicator &led)
{
    return led.grab().toImage().pixelColor(led.diameter() / 2, led.diameter() / 2);
}

} // namespace

class TestLedIndicator : public QObject {
    Q_OBJECT
private slots:
    void redWhenOffGreenWhenOn()
    {
        LedIndicator led;
        led.setLedSize(10);
        QCOMPARE(led.size(), QSize(20, 20));
        QCOMPARE(centre(led), QColor(Qt::red));
        led.setState(true);
        QCOMPARE(centre(led), QColor(Qt::green));
        led.switchLedIndicator();
        QVERIFY(!led.isOn());
    }
};

QTEST_MAIN(TestLedIndicator)
#include "tst_ledindicator.moc"
