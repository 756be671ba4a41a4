// SPDX-License-Identifier: GPL-3.0-or-later
// Qt's own texts in Portuguese, the program's own exactly as written.
#include "qttranslations.h"

#include <QtTest>
#include <QtWidgets>

class TestQtTranslations : public QObject {
    Q_OBJECT
private slots:
    void qtsTextsArePortuguese()
    {
        QVERIFY2(installQtTranslations(*QCoreApplication::instance()),
                 "Qt's pt_BR translation is missing (Debian: qt6-translations-l10n)");
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Aviso"), QStringLiteral("Texto"),
                        QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("Cancelar"));

        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        const auto labels = dialog.findChildren<QLabel *>();
        QStringList texts;
        for (const QLabel *label : labels)
            texts << label->text();
        QVERIFY2(!texts.contains(QStringLiteral("Look in:")), qPrintable(texts.join(QStringLiteral("|"))));
        QVERIFY2(!texts.contains(QStringLiteral("File &name:")), qPrintable(texts.join(QStringLiteral("|"))));

        // The program's own English labels stay as they are.
        QCOMPARE(QCoreApplication::translate("FlashWindow", "Open Files"), QStringLiteral("Open Files"));
        QCOMPARE(QCoreApplication::translate("MainWindow", "Rpm Shift Light"), QStringLiteral("Rpm Shift Light"));
    }
};

QTEST_MAIN(TestQtTranslations)
#include "tst_qttranslations.moc"
