// SPDX-License-Identifier: GPL-3.0-or-later
// Settings across a firmware update: a new firmware may come back with its
// defaults. What the device held was kept before "BOOT"; once the updated
// device has been read out, the owner is offered those settings again.
#include "mainwindow.h"

#include "mainwindowstate.h"
#include "protocol.h"
#include "settings.h"
#include "settingwidgets.h"
#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QDebug>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace {

using Values = QList<QPair<const settings::Key *, quint32>>;

// The kept values the device does not hold now.
QStringList differing(const Values &kept, const QHash<QByteArray, QString> &replies, Ui_MainWindow *ui)
{
    QStringList names;
    for (const auto &[key, word] : kept) {
        if (settings::wordOfReply(*key, replies.value(key->mnemonic())) != word)
            names << (key->kind == settings::Kind::Sensor ? QStringLiteral("Sensor") : widgetsFor(ui, *key).name());
    }
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
    return readOutReplies.value(settings::firstInChain().mnemonic());
}

// The mixture thresholds' unit, as the device's sensor type says.
bool MainWindow::readOutInLambda() const
{
    for (const settings::Key &key : settings::readout()) {
        if (key.kind == settings::Kind::MixtureUnit)
            return readOutReplies.value(key.mnemonic()) == QLatin1String("1");
    }
    return false;
}

// The file written before "BOOT", if it is a sound one for this device: a
// file that is malformed, or whose device had another unit or no Boost where
// this one has it, is never offered.
bool MainWindow::loadKeptSettings(Values &values) const
{
    QFile file(settingsToOffer);
    if (file.size() > settings::kMaxFileBytes || !file.open(QIODevice::ReadOnly))
        return false;
    const settings::FileContents kept = settings::fromFile(file.readAll());
    const settings::Unit unit = readOutInLambda() ? settings::Unit::Lambda : settings::Unit::MilliVolt;
    if (!kept.error.isEmpty() || kept.values.isEmpty() || kept.unit != unit
        || settings::versionHasBoost(kept.version) != settings::versionHasBoost(readOutVersion()))
        return false;
    values = kept.values;
    return true;
}

void MainWindow::readOutCompleted()
{
    if (restoringSettings) {
        finishSettingsRestore();
        return;
    }
    if (settingsToOffer.isEmpty())
        return;
    Values kept;
    if (!loadKeptSettings(kept)) {
        qDebug().noquote() << "Configurações guardadas não oferecidas:" << settingsToOffer;
        settingsToOffer.clear();
        return;
    }
    if (differing(kept, readOutReplies, ui).isEmpty()) {
        // The new firmware kept them: nothing to restore, nothing to keep.
        QFile::remove(settingsToOffer);
        settingsToOffer.clear();
        return;
    }
    QMessageBox box(QMessageBox::Question, tr("Configurações"),
                    tr("A atualização mudou as configurações do aparelho.\nRestaurar as configurações anteriores?"),
                    QMessageBox::NoButton, this);
    QPushButton *yes = box.addButton(tr("Sim"), QMessageBox::YesRole);
    box.addButton(tr("Não"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.exec();
    if (box.clickedButton() != yes) {
        settingsToOffer.clear(); // the file stays for "tarvik-config import"
        return;
    }
    showInForm(ui, kept);
    restoringValues = kept;
    restoringSettings = true;
    on_SetAllCalibrations_clicked();
    if (!commandTimer->isActive())
        restoringSettings = false; // refused: the box said why, the file stays
}

// After the upload, the chain again: only what reads back equal counts.
void MainWindow::readBackRestoredSettings()
{
    deviceAnswered = false;
    serialPort->write(protocol::query(settings::firstInChain().mnemonic()));
}

void MainWindow::finishSettingsRestore()
{
    restoringSettings = false;
    const QStringList notTaken = differing(restoringValues, readOutReplies, ui);
    if (notTaken.isEmpty()) {
        QFile::remove(settingsToOffer);
        settingsToOffer.clear();
        QMessageBox::information(this, tr("Sucesso"), tr("As configurações anteriores foram restauradas."));
        return;
    }
    QMessageBox::warning(this, tr("Erro"),
                         tr("O aparelho não guardou: %1.\nAs configurações anteriores continuam em %2.")
                             .arg(notTaken.join(QStringLiteral(", ")), settingsToOffer));
    settingsToOffer.clear();
}
