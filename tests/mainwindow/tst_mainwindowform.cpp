// The main window's form as a user meets it at start-up: every widget where
// it belongs, with its text, and the window's size fixed.
#include "mainwindow/mainwindow.h"
#include "support/testwindow.h"
#include "ui_mainwindow.h"

#include <QFile>
#include <QtTest>
#include <QtWidgets>

class TestMainWindowForm : public QObject {
    Q_OBJECT
private slots:
    void texts_data();
    void texts();
    void windowIsFixed();
    void translationIsEmbeddedButNotLoaded();
};

void TestMainWindowForm::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    auto row = [](const char *name, const char *text) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromUtf8(text);
    };
    row("label_4", "Desconectado");
    row("label_5", "Internet");
    row("label_6", "Aparelho");
    row("UpgradeButton", "Atualizar");
    row("ProgessText", "");
    row("label_2", "Rpm Shift Light");
    row("label_3", "Turbo Pressure Alert");
    row("LabelHallmeterRich", "Hallmeter Mistura Rica");
    row("LabelHallmeterLean", "Hallmeter Mistura Pobre");
    row("ZerarPicoTurbo", "Zerar pico de turbo ao ligar");
    row("PiscaShiftLight", "Pisca Shift Light");
    row("RadioSensorType3Bar", "Sensor 3Bar");
    row("RadioSensorType5Bar", "Sensor 5Bar");
    row("SetAllCalibrations", "Configurar");
    row("label", "Versão");
}

static QString textOf(QWidget *w)
{
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    return QString();
}

void TestMainWindowForm::texts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    MainWindow window(nullptr, offlineEndpoints());
    auto *w = window.findChild<QWidget *>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(textOf(w), text);
}

void TestMainWindowForm::windowIsFixed()
{
    MainWindow window(nullptr, offlineEndpoints());
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Tarvik Connect"));
    QCOMPARE(window.minimumSize(), QSize(400, 600));
    QCOMPARE(window.maximumSize(), QSize(400, 600));
    QCOMPARE(window.size(), QSize(400, 600));

    Ui_MainWindow *ui = window.form();
    QCOMPARE(ui->menuSobre->title(), QStringLiteral("Ajuda"));
    QCOMPARE(ui->menuBar->actions().size(), 1);
    QCOMPARE(ui->menuBar->actions().first(), ui->menuSobre->menuAction());
    QCOMPARE(ui->menuSobre->actions(), QList<QAction *>{ui->actionSobre});
    QCOMPARE(ui->actionSobre->text(), QStringLiteral("Sobre"));
    QVERIFY(ui->VersionBox->isReadOnly());
}

void TestMainWindowForm::translationIsEmbeddedButNotLoaded()
{
    QFile qm(QStringLiteral(":/i18n/TarvikConnect_pt_BR.qm"));
    QVERIFY(qm.open(QIODevice::ReadOnly));
    QVERIFY(qm.size() > 0);
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/i18n/TarvikConnect_pt_BR.qm")));
    QCOMPARE(translator.language(), QStringLiteral("pt_BR"));
    QVERIFY(translator.isEmpty());

    // Whatever the system locale, the form speaks Portuguese.
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    MainWindow window(nullptr, offlineEndpoints());
    QLocale::setDefault(previous);
    QCOMPARE(window.form()->label_4->text(), QStringLiteral("Desconectado"));
    QCOMPARE(window.form()->label->text(), QStringLiteral("Versão"));
}

QTEST_MAIN(TestMainWindowForm)
#include "tst_mainwindowform.moc"
