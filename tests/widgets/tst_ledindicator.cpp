// The status lamp judged by its pixels.
#include "ledindicator.h"

#include <QImage>
#include <QtTest>

namespace {

QImage render(LedIndicator &led)
{
    return led.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QColor centre(const QImage &image, int diameter)
{
    return image.pixelColor(diameter / 2, diameter / 2);
}

// The lamp's painted extent along the top-left diagonal and across its middle
// row: where non-background pixels are.
int paintedWidth(const QImage &image, QColor background)
{
    const int y = image.height() > 0 ? (image.width() - 10) / 2 : 0;
    int first = -1, last = -1;
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixelColor(x, y) != background) {
            if (first < 0)
                first = x;
            last = x;
        }
    }
    return first < 0 ? 0 : last - first + 1;
}

} // namespace

class TestLedIndicator : public QObject {
    Q_OBJECT
private slots:
    void newLampIsOffRedAndSized()
    {
        LedIndicator led;
        QVERIFY(!led.isOn());
        QCOMPARE(led.size(), QSize(28, 28));
        const QImage image = render(led);
        QCOMPARE(centre(image, 20), QColor(Qt::red));
        // Outside the 20-pixel circle the widget stays unpainted.
        QVERIFY(image.pixelColor(25, 25) != QColor(Qt::red));
    }

    void onIsGreen()
    {
        LedIndicator led;
        led.setState(true);
        QCOMPARE(centre(render(led), 20), QColor(Qt::green));
        led.switchLedIndicator();
        QCOMPARE(centre(render(led), 20), QColor(Qt::red));
        led.switchLedIndicator();
        QVERIFY(led.isOn());
    }

    void ledSizeResizesWidgetAndCircle()
    {
        LedIndicator led;
        led.setLedSize(10);
        QCOMPARE(led.size(), QSize(20, 20));
        const QImage image = render(led);
        const QColor background = image.pixelColor(19, 19);
        QCOMPARE(centre(image, 10), QColor(Qt::red));
        // The outline is drawn by the default pen: one pixel wider than the
        // diameter, starting at the top-left corner.
        QCOMPARE(paintedWidth(image, background), 11);
        QVERIFY(image.pixelColor(0, 5) != background);
        QCOMPARE(image.pixelColor(15, 5), background);
    }

    void outlineDrawnByDefaultPenWithoutAntialiasing()
    {
        LedIndicator led;
        const QImage image = render(led);
        // The leftmost pixel of the middle row is the black outline, not red.
        QCOMPARE(image.pixelColor(0, 10), QColor(Qt::black));
        // No antialiasing: only the fill, the outline and the background.
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                colours.insert(image.pixel(x, y));
        QCOMPARE(colours.size(), 3);
    }

    void settersRepaintAtOnce()
    {
        // repaint(), not update(): the new state is on screen when the setter
        // returns, without an event loop turn.
        LedIndicator led;
        led.show();
        QVERIFY(QTest::qWaitForWindowExposed(&led));
        struct Counter : QObject {
            int paints = 0;
            bool eventFilter(QObject *, QEvent *e) override
            {
                if (e->type() == QEvent::Paint)
                    ++paints;
                return false;
            }
        } counter;
        led.installEventFilter(&counter);
        led.setState(true);
        QCOMPARE(counter.paints, 1);
        led.setState(true);
        QCOMPARE(counter.paints, 2);
        led.setLedSize(10);
        QCOMPARE(counter.paints, 3);
    }
};

QTEST_MAIN(TestLedIndicator)
#include "tst_ledindicator.moc"
