// The main window as it stands right after start-up, and the hidden path
// from the About window to the manual flash window.
#include "mainwindow/mainwindow.h"
#include "mainwindow/mainwindowstate.h"
#include "support/testwindow.h"
#include "ui_mainwindow.h"
#include "widgets/ledindicator.h"
#include "windows/aboutwindow.h"
#include "windows/flashwindow.h"

#include <QtTest>
#include <QtWidgets>

namespace {

QStringList warnings;

void collectWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg)
        warnings << message;
}

} // namespace

class TestMainWindowWiring : public QObject {
    Q_OBJECT
private slots:
    void init() { resetMainWindowState(); }

    void startUpState()
    {
        MainWindow window(nullptr, offlineEndpoints());
        Ui_MainWindow *ui = window.form();
        QVERIFY(!ui->UpgradeButton->isEnabled());
        QVERIFY(!ui->RadioSensorType3Bar->isEnabled());
        QVERIFY(!ui->RadioSensorType5Bar->isEnabled());
        QCOMPARE(ui->K931TypeBox->count(), 4);
        QCOMPARE(ui->K931TypeBox->currentText(), QStringLiteral("OBD"));
        QStringList types;
        for (int i = 0; i < ui->K931TypeBox->count(); ++i)
            types << ui->K931TypeBox->itemText(i);
        QCOMPARE(types, (QStringList{"OBD", "OBD + Boost", "OBD + Flex", "OBD + Boost + Flex"}));
        QCOMPARE(ui->ModelBox->count(), 0);
        QCOMPARE(ui->label_4->text(), QStringLiteral("Desconectado"));

        // The lamps sit in their grids at row 1, column 0, small and off.
        struct { LedIndicator *lamp; QGridLayout *grid; } lamps[] = {
            {window.deviceLamp(), ui->gridLayout}, {window.internetLamp(), ui->gridLayout_3}};
        for (auto &l : lamps) {
            const int index = l.grid->indexOf(l.lamp);
            QVERIFY(index >= 0);
            int row, column, rows, columns;
            l.grid->getItemPosition(index, &row, &column, &rows, &columns);
            QCOMPARE(row, 1);
            QCOMPARE(column, 0);
            QCOMPARE(l.lamp->size(), QSize(20, 20));
            QCOMPARE(l.lamp->diameter(), 10);
            QVERIFY(!l.lamp->isOn());
        }

        QVERIFY(portScanTimer && portScanTimer->isActive());
        QCOMPARE(portScanTimer->interval(), 1000);
        QCOMPARE(portScanTimer->parent(), &window);
        QVERIFY(internetCheckTimer.isActive());
        QCOMPARE(internetCheckTimer.interval(), 5000);
        QVERIFY(versionCheckTimer.isActive());
        QCOMPARE(versionCheckTimer.interval(), 1000);
        QVERIFY(!progressTimer.isActive());
        QVERIFY(!window.port()->isOpen());
    }

    void hiddenButtonBootsOnceAndShowsFlashWindow()
    {
        MainWindow window(nullptr, offlineEndpoints());
        for (int i = 0; i < 3; ++i)
            window.form()->actionSobre->trigger();
        QVERIFY(window.about()->isVisible());
        QVERIFY(!window.manualFlashWindow()->isVisible());

        // No device: the write of "BOOT" fails on the closed port, once, and
        // the window opens all the same.
        warnings.clear();
        auto previous = qInstallMessageHandler(collectWarnings);
        emit window.about()->hiddenUpgradeButtonClicked();
        qInstallMessageHandler(previous);
        QCOMPARE(warnings.filter(QStringLiteral("device not open")).size(), 1);
        QVERIFY(window.manualFlashWindow()->isVisible());
    }

    void modelNameFromServerStaysInItsFolder()
    {
        // The model names come from the server and name the firmware file
        // that the upgrade deletes and flashes: "../x" must not reach out.
        QTemporaryDir outer;
        QVERIFY(QDir(outer.path()).mkdir(QStringLiteral("work")));
        const QString previous = QDir::currentPath();
        QDir::setCurrent(outer.filePath(QStringLiteral("work")));
        QFile precious(outer.filePath(QStringLiteral("K931_OBD.hex")));
        QVERIFY(precious.open(QIODevice::WriteOnly));
        precious.close();

        MainWindow window(nullptr, offlineEndpoints());
        window.form()->ModelBox->addItem(QStringLiteral("../K931"));
        QMetaObject::invokeMethod(&window, "on_UpgradeButton_clicked");
        QDir::setCurrent(previous);
        QVERIFY(precious.exists());
        QCOMPARE(firmwareFileName, QStringLiteral("../K931_OBD.hex"));
        upgradeInProgress = false;
    }
};

QTEST_MAIN(TestMainWindowWiring)
#include "tst_mainwindowwiring.moc"
