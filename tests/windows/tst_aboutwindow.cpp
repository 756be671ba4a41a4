// The About window and its hidden button.
#include "windowparts.h"
#include "testwindow.h"
#include "mainwindow.h"
#include "aboutwindow.h"

#include <QtTest>
#include <QtWidgets>

class TestAboutWindow : public QObject {
    Q_OBJECT
private slots:
    void contents()
    {
        AboutWindow window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Sobre"));
        QCOMPARE(window.minimumSize(), QSize(168, 128));
        QCOMPARE(window.maximumSize(), QSize(168, 128));
        auto *labels = window.findChild<QWidget *>(QStringLiteral("layoutWidget"));
        QVERIFY(labels);
        QStringList texts;
        for (QLabel *label : labels->findChildren<QLabel *>())
            texts << label->text();
        QCOMPARE(texts, (QStringList{"Tarvik Connect", "Versão v0.8", "www.brevanto.com.br"}));
        auto *link = window.findChild<QLabel *>(QStringLiteral("label"));
        QCOMPARE(link->textFormat(), Qt::MarkdownText);
        QVERIFY(link->openExternalLinks());
        QVERIFY(link->font().underline());
        auto *hidden = window.findChild<QPushButton *>(QStringLiteral("HiddenUpgradeButton"));
        QVERIFY(hidden->isFlat());
        QVERIFY(hidden->text().isEmpty());
        QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("CloseAbout"))->text(), QStringLiteral("Fechar"));

    }

    void hiddenButtonInTheCorner()
    {
        AboutWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy spy(&window, &AboutWindow::hiddenUpgradeButtonClicked);
        const QPoint corner(160, 110);
        QWidget *target = window.childAt(corner);
        QVERIFY(target);
        QCOMPARE(target->objectName(), QStringLiteral("HiddenUpgradeButton"));
        QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(&window, corner));
        QCOMPARE(spy.count(), 1);
        QVERIFY(window.isVisible());
    }

    void closeHidesAndMenuBringsTheSameWindowBack()
    {
        resetMainWindowState();
        MainWindow main(nullptr, offlineConfiguration());
        part<QAction>(&main, "actionSobre")->trigger();
        AboutWindow *about = topLevel<AboutWindow>();
        QVERIFY(about->isVisible());
        about->findChild<QPushButton *>(QStringLiteral("CloseAbout"))->click();
        QVERIFY(!about->isVisible());
        part<QAction>(&main, "actionSobre")->trigger();
        QVERIFY(about->isVisible());
        QCOMPARE(topLevel<AboutWindow>(), about);
        QCOMPARE(about->findChild<QLabel *>(QStringLiteral("label_3"))->text(), QStringLiteral("Versão v0.8"));
    }
};

QTEST_MAIN(TestAboutWindow)
#include "tst_aboutwindow.moc"
