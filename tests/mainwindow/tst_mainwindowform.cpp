// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as a user meets it at start-up, and the hidden path from
// the About window to the manual flash window.
#include "aboutwindow.h"
#include "flashwindow.h"
#include "ledindicator.h"
#include "localhttpserver.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "mainwindowstate.h"
#include "testwindow.h"
#include "windowparts.h"

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

class TestMainWindowForm : public QObject {
    Q_OBJECT
private slots:
    void init() { resetMainWindowState(); }

    void startUpState()
    {
        // Whatever the system locale, the form speaks Portuguese.
        const QLocale previous;
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        MainWindow window(nullptr, realConfiguration(closedLocalUrl(QStringLiteral("/"))));
        QLocale::setDefault(previous);
        QWidget *ui = &window;
        QCOMPARE(part<QLabel>(ui, "label_4")->text(), QStringLiteral("Desconectado"));
        QCOMPARE(part<QLabel>(ui, "label")->text(), QStringLiteral("Versão"));
        QVERIFY(!part<QPushButton>(ui, "UpgradeButton")->isEnabled());
        QVERIFY(!part<QRadioButton>(ui, "RadioSensorType3Bar")->isEnabled());
        QCOMPARE(part<QComboBox>(ui, "K931TypeBox")->currentText(), QStringLiteral("OBD"));
        QCOMPARE(part<QComboBox>(ui, "K931TypeBox")->count(), 4);
        QCOMPARE(part<QComboBox>(ui, "ModelBox")->count(), 0);
        QVERIFY(!part<LedIndicator>(ui, "deviceLamp")->isOn());
        QVERIFY(!part<LedIndicator>(ui, "internetLamp")->isOn());
        QVERIFY(!window.findChild<QSerialPort *>()->isOpen());
        QVERIFY(portScanTimer->isActive() && internetCheckTimer.isActive() && versionCheckTimer.isActive());
        QVERIFY(!progressTimer.isActive());
    }

    void hiddenButtonBootsOnceAndShowsFlashWindow()
    {
        MainWindow window(nullptr, offlineConfiguration());
        for (int i = 0; i < 3; ++i)
            part<QAction>(&window, "actionSobre")->trigger();
        AboutWindow *about = topLevel<AboutWindow>();
        QVERIFY(about->isVisible());
        QVERIFY(!topLevel<FlashWindow>()->isVisible());
        // Closed and asked for again: the same window.
        part<QPushButton>(about, "CloseAbout")->click();
        QVERIFY(!about->isVisible());
        part<QAction>(&window, "actionSobre")->trigger();
        QCOMPARE(topLevel<AboutWindow>(), about);

        // The hidden button sits in the bottom-right corner, flat and blank.
        QVERIFY(QTest::qWaitForWindowExposed(about));
        QSignalSpy clicked(about, &AboutWindow::hiddenUpgradeButtonClicked);
        const QPoint corner(160, 110);
        QWidget *target = about->childAt(corner);
        QCOMPARE(target, part<QPushButton>(about, "HiddenUpgradeButton"));
        QVERIFY(part<QPushButton>(about, "HiddenUpgradeButton")->text().isEmpty());
        // No device: the write of "BOOT" fails on the closed port, once, and
        // the flash window opens all the same.
        warnings.clear();
        auto previous = qInstallMessageHandler(collectWarnings);
        QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(about, corner));
        qInstallMessageHandler(previous);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(warnings.filter(QStringLiteral("device not open")).size(), 1);
        QVERIFY(topLevel<FlashWindow>()->isVisible());
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

        MainWindow window(nullptr, offlineConfiguration());
        part<QComboBox>(&window, "ModelBox")->addItem(QStringLiteral("../K931"));
        ModalAnswerer answerer;
        QMetaObject::invokeMethod(&window, "on_UpgradeButton_clicked");
        QCOMPARE(answerer.boxes.size(), 1);
        QDir::setCurrent(previous);
        QVERIFY(precious.exists());
        // Refused before anything began: no download, no file named after it.
        QVERIFY(part<QLabel>(&window, "ProgessText")->text().isEmpty());
        upgradeInProgress = false;
    }
};

QTEST_MAIN(TestMainWindowForm)
#include "tst_mainwindowform.moc"
