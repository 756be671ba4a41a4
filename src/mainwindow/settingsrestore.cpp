// SPDX-License-Identifier: GPL-3.0-or-later
// Settings across a firmware update: a new firmware may come back with its
// defaults. What the device held was kept before "BOOT"; once the updated
// device has been read out, and the update's own boxes are closed, the owner
// is offered those settings again, once, and only for the device they came
// from.
#include "mainwindow.h"

#include "keptsettings.h"
#include "mainwindowstate.h"
#include "protocol.h"
#include "settings.h"
#include "settingwidgets.h"
#include "settingslink.h"
#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QDebug>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QTimer>

#include <utility>

namespace {

using Values = QList<QPair<const settings::Key *, quint32>>;

// The kept values the device does not hold now, by their names in the form.
QStringList differing(const Values &kept, const road::ReadOut &readOut, Ui_MainWindow *ui)
{
    QStringList names;
    for (const road::Mismatch &m : road::mismatches(kept, readOut))
        names << (m.key->kind == settings::Kind::Sensor ? QStringLiteral("Sensor") : widgetsFor(ui, *m.key).name());
    return names;
}

void showInForm(Ui_MainWindow *ui, const Values &values)
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

} // namespace

QString MainWindow::readOutVersion() const
{
    return readOut->replies().value(settings::firstInChain().mnemonic());
}

// The mixture thresholds' unit, as the device's sensor type says.
bool MainWindow::readOutInLambda() const
{
    for (const settings::Key &key : settings::readout()) {
        if (key.kind == settings::Kind::MixtureUnit)
            return settings::lambdaFromReply(readOut->replies().value(key.mnemonic()));
    }
    return false;
}

void MainWindow::readOutCompleted()
{
    if (restoringSettings) {
        finishSettingsRestore();
        return;
    }
    offerKeptSettings();
}

void MainWindow::offerKeptSettings()
{
    // Never over the update's own boxes, nor during an upload or an update.
    if (!deviceAnswered || !serialPort->isOpen() || upgradeRunning || upgradeInProgress || commandTimer->isActive()
        || restoringSettings)
        return;
    // A recovery in a run that kept nothing itself (the window was closed
    // after the attempt that left the device in its bootloader): what was
    // kept for this device then is found in the data folder.
    if (settingsToOffer.isEmpty() && lookForKeptSettings) {
        lookForKeptSettings = false;
        if (const auto found = road::keptSettingsToOffer(QSerialPortInfo(*serialPort).serialNumber()))
            settingsToOffer = found->path;
    }
    if (settingsToOffer.isEmpty())
        return;
    QString why;
    const std::optional<road::KeptSettings> kept = road::readKeptSettings(settingsToOffer, why);
    // The rule an import follows too: another unit is never offered, a
    // setting the new firmware has no place for stays out.
    road::SettingsFit fit;
    if (kept)
        fit = road::fitSettings(kept->contents, readOutVersion(), readOutInLambda());
    else
        fit.problem = why;
    if (!kept || !fit.ok() || fit.values.isEmpty()) {
        qDebug().noquote() << "Configurações guardadas não oferecidas:" << settingsToOffer << fit.problem;
        settingsToOffer.clear();
        return;
    }
    const road::DeviceMatch match = road::matchDevice(*kept, QSerialPortInfo(*serialPort).serialNumber());
    if (match == road::DeviceMatch::Other) {
        // They wait for their own device.
        qDebug().noquote() << "Configurações guardadas de outro aparelho:" << settingsToOffer;
        return;
    }
    const QString offered = std::exchange(settingsToOffer, QString()); // once per kept file
    road::markKeptSettingsOffered(*kept);
    // Answered: a later recovery does not offer it again.
    if (offered == settingsKeptPath)
        settingsKeptPath.clear();
    if (differing(fit.values, *readOut, ui).isEmpty()) {
        // The new firmware kept them: nothing to restore, nothing to keep.
        road::forgetKeptSettings(offered);
        return;
    }
    QMessageBox box(QMessageBox::Question, tr("Configurações"),
                    tr("A atualização mudou as configurações do aparelho.\nRestaurar as configurações anteriores?"),
                    QMessageBox::NoButton, this);
    // Without a serial number the device cannot be told from another: the
    // owner is shown which settings these are.
    if (match == road::DeviceMatch::Unknown)
        box.setInformativeText(tr("Configurações guardadas em %1.").arg(road::describeKept(*kept)));
    QPushButton *yes = box.addButton(tr("Sim"), QMessageBox::YesRole);
    box.addButton(tr("Não"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    const QString askedFor = QSerialPortInfo(*serialPort).serialNumber();
    box.exec();
    if (box.clickedButton() != yes)
        return; // the file stays for "tarvik-config import"
    // The K931 may have been pulled out and another plugged in while the
    // question was open: the settings go only into the device they were
    // offered for, once it has been read again, and otherwise the file stays.
    if (!serialPort->isOpen() || !deviceAnswered || QSerialPortInfo(*serialPort).serialNumber() != askedFor) {
        qDebug().noquote() << "Aparelho trocado durante a pergunta; configurações não enviadas:" << offered;
        return;
    }
    showInForm(ui, fit.values);
    on_SetAllCalibrations_clicked();
    // Refused: the box said why, the file stays.
    if (!commandTimer->isActive())
        return;
    restoringValues = fit.values;
    restoringPath = offered;
    restoringSettings = true;
}

// After the upload, the chain again: only what reads back equal counts.
void MainWindow::readBackRestoredSettings()
{
    deviceAnswered = false;
    readOut->start();
}

void MainWindow::finishSettingsRestore()
{
    restoringSettings = false;
    const QStringList notTaken = differing(restoringValues, *readOut, ui);
    if (notTaken.isEmpty()) {
        road::forgetKeptSettings(restoringPath);
        QMessageBox::information(this, tr("Sucesso"), tr("As configurações anteriores foram restauradas."));
        return;
    }
    QMessageBox::warning(this, tr("Erro"),
                         tr("O aparelho não guardou: %1.\nAs configurações anteriores continuam em %2.")
                             .arg(notTaken.join(QStringLiteral(", ")), restoringPath));
}

// Whatever ends a restore early (the owner's own upload, a lost link), the
// kept file stays and no verdict follows.
void MainWindow::endSettingsRestore()
{
    if (!std::exchange(restoringSettings, false))
        return;
    qDebug().noquote() << "Restauração interrompida; as configurações continuam em" << restoringPath;
}
