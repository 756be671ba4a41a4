// SPDX-License-Identifier: GPL-3.0-or-later
// Settings across a firmware update, as the window shows them: the update
// keeps what the device held before "BOOT" and, once the updated device has
// been read out and the result box is closed, asks whether to put them back;
// the window asks the owner and says how it went.
#include "mainwindow.h"

#include "firmwareupdate.h"
#include "keptsettings.h"
#include "settings.h"
#include "settingwidgets.h"
#include "ui_mainwindow.h"
#include "windowlink.h"

#include <QCheckBox>
#include <QDebug>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

QString MainWindow::formName(const settings::Key &key) const
{
    return key.kind == settings::Kind::Sensor ? QStringLiteral("Sensor") : widgetsFor(ui, key).name();
}

void MainWindow::showKeptInForm(const road::SettingValues &values)
{
    for (const auto &[key, word] : values) {
        if (key->kind == settings::Kind::Sensor) {
            ui->RadioSensorType3Bar->setChecked(word == 0);
            ui->RadioSensorType5Bar->setChecked(word == 1);
            continue;
        }
        const SettingWidgets widgets = widgetsFor(ui, *key);
        if (widgets.box)
            widgets.box->setChecked(word != 0);
        else if (widgets.field)
            widgets.field->setText(settings::displayValue(*key, word));
    }
}

void MainWindow::readOutCompleted()
{
    windowLink->readOutEnded();
}

bool MainWindow::askToRestore()
{
    QMessageBox box(QMessageBox::Question, tr("Configurações"),
                    tr("A atualização mudou as configurações do aparelho.\nRestaurar as configurações anteriores?"),
                    QMessageBox::NoButton, this);
    // Without a serial number the device cannot be told from another: the
    // owner is shown which settings these are.
    if (update->offer().match == road::DeviceMatch::Unknown)
        box.setInformativeText(tr("Configurações guardadas em %1.").arg(road::describeKept(update->offer().kept)));
    QPushButton *yes = box.addButton(tr("Sim"), QMessageBox::YesRole);
    box.addButton(tr("Não"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.exec();
    return box.clickedButton() == yes;
}

// After the write's own box: only a restore the owner asked for has a verdict.
void MainWindow::reportRestore(const road::FirmwareUpdate::Outcome &outcome)
{
    if (outcome.failure == road::FirmwareUpdate::Failure::NotHeld) {
        QMessageBox::warning(this, tr("Erro"),
                             tr("O aparelho não guardou: %1.\nAs configurações anteriores continuam em %2.")
                                 .arg(outcome.reason, outcome.keptSettings));
        return;
    }
    if (outcome.ok() && outcome.restored && restoreAnswered) {
        QMessageBox::information(this, tr("Sucesso"), tr("As configurações anteriores foram restauradas."));
        return;
    }
    if (outcome.ok())
        return;
    qDebug().noquote() << "Atualização terminada:" << outcome.reason << outcome.keptSettings;
    // The firmware went in but the settings did not come back: the owner
    // learns so, and where they are. A failed write has said its own.
    if (outcome.failure == road::FirmwareUpdate::Failure::WriteFailed || outcome.keptSettings.isEmpty())
        return;
    QString text = tr("As configurações anteriores não foram restauradas.");
    if (!outcome.reason.isEmpty())
        text += QLatin1Char('\n') + outcome.reason;
    if (!outcome.reason.contains(outcome.keptSettings))
        text += tr("\nElas continuam em %1.").arg(outcome.keptSettings);
    QMessageBox::warning(this, tr("Erro"), text);
}

// Whatever ends a restore early (the owner's own upload, a lost link), the
// kept file stays and no verdict follows.
void MainWindow::endSettingsRestore()
{
    if (windowLink->uploading())
        windowLink->lost(QString());
}
