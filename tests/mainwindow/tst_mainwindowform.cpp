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
    void widgets_data();
    void widgets();
    void windowIsFixed();
    void gridCells_data();
    void gridCells();
    void versionRow();
    void initialStateAfterSetupUi();
    void translationIsEmbeddedButNotLoaded();
};

void TestMainWindowForm::widgets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");

    auto row = [](const char *name, const char *cls, QRect geometry, const QString &text = QString()) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(cls) << geometry << text;
    };
    row("gridLayoutWidget", "QWidget", {0, 550, 31, 31});
    row("line", "QFrame", {0, 540, 401, 20});
    row("label_4", "QLabel", {20, 560, 91, 16}, "Desconectado");
    row("gridLayoutWidget_2", "QWidget", {0, 0, 391, 361});
    row("layoutWidget", "QWidget", {20, 450, 374, 51});
    row("ModelBox", "QComboBox", {60, 370, 281, 22});
    row("gridLayoutWidget_3", "QWidget", {280, 550, 31, 31});
    row("label_5", "QLabel", {300, 550, 91, 16}, "Internet");
    row("progressBar", "QProgressBar", {60, 510, 311, 20});
    row("K931TypeBox", "QComboBox", {60, 410, 131, 22});
    row("label_6", "QLabel", {20, 550, 91, 16}, "Aparelho");
    row("UpgradeButton", "QPushButton", {220, 410, 121, 21}, "Atualizar");
    row("ProgessText", "QLabel", {160, 510, 91, 16}, "");
    row("menuBar", "QMenuBar", {0, 0, 400, 21});
}

static QString textOf(QWidget *w)
{
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    return QString();
}

void TestMainWindowForm::widgets()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);

    MainWindow window(nullptr, offlineEndpoints());
    auto *w = window.findChild<QWidget *>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), className);
    QCOMPARE(w->geometry(), geometry);
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
    QCOMPARE(window.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(window.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);

    Ui_MainWindow *ui = window.form();
    QCOMPARE(ui->menuSobre->title(), QStringLiteral("Ajuda"));
    QCOMPARE(ui->menuBar->actions().size(), 1);
    QCOMPARE(ui->menuBar->actions().first(), ui->menuSobre->menuAction());
    QCOMPARE(ui->menuSobre->actions(), QList<QAction *>{ui->actionSobre});
    QCOMPARE(ui->actionSobre->text(), QStringLiteral("Sobre"));
    QCOMPARE(ui->line->frameShape(), QFrame::HLine);
    QCOMPARE(ui->line->frameShadow(), QFrame::Sunken);
    QCOMPARE(ui->ProgessText->alignment(), Qt::AlignCenter);
    QCOMPARE(ui->progressBar->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(ui->progressBar->value(), 0);
    for (QGridLayout *grid : {ui->gridLayout, ui->gridLayout_2, ui->gridLayout_3})
        QCOMPARE(grid->contentsMargins(), QMargins());
}

void TestMainWindowForm::gridCells_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("columnSpan");
    QTest::addColumn<QString>("text");
    auto cell = [](const char *name, int r, int c, int span, const QString &text = QString()) {
        QTest::newRow(name) << QString::fromLatin1(name) << r << c << span << text;
    };
    cell("label_2", 0, 0, 1, "Rpm Shift Light");
    cell("RpmShiftLightVal", 0, 1, 1);
    cell("label_3", 1, 0, 1, "Turbo Pressure Alert");
    cell("TurboPressureAlertVal", 1, 1, 1);
    cell("LabelHallmeterRich", 2, 0, 1, "Hallmeter Mistura Rica");
    cell("SetHallmeterRicoVal", 2, 1, 1);
    cell("LabelHallmeterLean", 3, 0, 1, "Hallmeter Mistura Pobre");
    cell("SetHallmeterPobreVal", 3, 1, 1);
    cell("ZerarPicoTurbo", 5, 0, 2, "Zerar pico de turbo ao ligar");
    cell("PiscaShiftLight", 6, 0, 1, "Pisca Shift Light");
    cell("RadioSensorType3Bar", 7, 0, 1, "Sensor 3Bar");
    cell("RadioSensorType5Bar", 8, 0, 1, "Sensor 5Bar");
    cell("SetAllCalibrations", 8, 1, 1, "Configurar");
}

void TestMainWindowForm::gridCells()
{
    QFETCH(QString, name);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(int, columnSpan);
    QFETCH(QString, text);

    MainWindow window(nullptr, offlineEndpoints());
    QGridLayout *grid = window.form()->gridLayout_2;
    auto *w = window.findChild<QWidget *>(name);
    QVERIFY(w);
    const int index = grid->indexOf(w);
    QVERIFY(index >= 0);
    int r, c, rs, cs;
    grid->getItemPosition(index, &r, &c, &rs, &cs);
    QCOMPARE(r, row);
    QCOMPARE(c, column);
    QCOMPARE(rs, 1);
    QCOMPARE(cs, columnSpan);
    QCOMPARE(textOf(w), text);
    if (auto *edit = qobject_cast<QLineEdit *>(w)) {
        QCOMPARE(edit->maximumSize(), QSize(100, 30));
        QCOMPARE(edit->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        QVERIFY(!edit->isReadOnly());
        QVERIFY(edit->text().isEmpty());
    }
    if (qobject_cast<QLabel *>(w))
        QCOMPARE(w->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
}

void TestMainWindowForm::versionRow()
{
    MainWindow window(nullptr, offlineEndpoints());
    Ui_MainWindow *ui = window.form();
    QCOMPARE(ui->horizontalLayout_4->count(), 3);
    QCOMPARE(ui->horizontalLayout_4->itemAt(0)->widget(), ui->label);
    QCOMPARE(ui->label->text(), QStringLiteral("Versão"));
    QCOMPARE(ui->horizontalLayout_4->itemAt(1)->widget(), ui->VersionBox);
    QVERIFY(ui->horizontalLayout_4->itemAt(2)->spacerItem());
    QVERIFY(ui->VersionBox->isReadOnly());
    QCOMPARE(ui->VersionBox->minimumWidth(), 280);
    QCOMPARE(ui->VersionBox->maximumSize(), QSize(280, 30));
    QCOMPARE(ui->SetAllCalibrations->maximumSize(), QSize(100, 100));
    QCOMPARE(ui->SetAllCalibrations->iconSize(), QSize(40, 20));
}

void TestMainWindowForm::initialStateAfterSetupUi()
{
    // The bare form, before the window's constructor adjusts it.
    QMainWindow host;
    Ui_MainWindow ui;
    ui.setupUi(&host);
    for (QWidget *w : host.findChildren<QWidget *>())
        QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
    QCOMPARE(ui.ModelBox->count(), 0);
    QCOMPARE(ui.K931TypeBox->count(), 0);
    QVERIFY(!ui.ZerarPicoTurbo->isChecked());
    QVERIFY(!ui.PiscaShiftLight->isChecked());
    QVERIFY(!ui.RadioSensorType3Bar->isChecked());
    QVERIFY(!ui.RadioSensorType5Bar->isChecked());
    // The radios share a parent and so exclude each other.
    QCOMPARE(ui.RadioSensorType3Bar->parentWidget(), ui.RadioSensorType5Bar->parentWidget());
    QVERIFY(ui.RadioSensorType3Bar->autoExclusive());
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
