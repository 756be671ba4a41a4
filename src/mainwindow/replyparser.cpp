// SPDX-License-Identifier: GPL-3.0-or-later
// Each reply of the device into its widget, then the next query of the
// read-out chain.
#include "mainwindow.h"

#include "mainwindowstate.h"
#include "protocol.h"
#include "settings.h"
#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QLineEdit>

using protocol::Flag;
using protocol::Mnemonic;

namespace {

// A flag the device sends as anything but 0 or 1 leaves the box as it was.
void checkFromFlag(QCheckBox *box, const QByteArray &chunk, Mnemonic mnemonic)
{
    const Flag flag = protocol::flagValue(chunk, mnemonic);
    if (flag != Flag::Other)
        box->setChecked(flag == Flag::One);
}

} // namespace

void MainWindow::parseReply(QByteArray chunk)
{
    const Mnemonic mnemonic = protocol::recognise(chunk);
    QLineEdit *valueField = nullptr;
    switch (mnemonic) {
    case Mnemonic::None:
        return;
    case Mnemonic::Vers: valueField = ui->VersionBox; break;
    case Mnemonic::Rpml: valueField = ui->RpmShiftLightVal; break;
    case Mnemonic::Tura: valueField = ui->TurboPressureAlertVal; break;
    case Mnemonic::Halp: valueField = ui->SetHallmeterPobreVal; break;
    case Mnemonic::Halr: valueField = ui->SetHallmeterRicoVal; break;
    case Mnemonic::Turz: checkFromFlag(ui->ZerarPicoTurbo, chunk, mnemonic); break;
    case Mnemonic::Sont: {
        const Flag flag = protocol::flagValue(chunk, mnemonic);
        if (flag != Flag::Other) {
            const QString unit = flag == Flag::Zero ? QStringLiteral("mV") : QString(QChar(0x03BB));
            ui->LabelHallmeterLean->setText(tr("Hallmeter Mistura Pobre (%1)").arg(unit));
            ui->LabelHallmeterRich->setText(tr("Hallmeter Mistura Rica (%1)").arg(unit));
        }
        break;
    }
    case Mnemonic::Ksbm: checkFromFlag(ui->PiscaShiftLight, chunk, mnemonic); break;
    case Mnemonic::Kbos: {
        const bool hasBoost = settings::versionHasBoost(ui->VersionBox->text());
        ui->RadioSensorType3Bar->setEnabled(hasBoost);
        ui->RadioSensorType5Bar->setEnabled(hasBoost);
        if (hasBoost) {
            const Flag flag = protocol::flagValue(chunk, mnemonic);
            if (flag == Flag::Zero) {
                ui->RadioSensorType3Bar->setChecked(true);
                ui->RadioSensorType5Bar->setChecked(false);
            } else if (flag == Flag::One) {
                ui->RadioSensorType3Bar->setChecked(false);
                ui->RadioSensorType5Bar->setChecked(true);
            }
        }
        deviceAnswered = true;
        return;
    }
    }
    // The field shows the device's value, never an accumulation of replies:
    // a repeated reply would otherwise double it and the next upload would
    // write that back into the device.
    if (valueField)
        valueField->setText(protocol::valueText(chunk));
    serialPort->write(protocol::query(protocol::nextInChain(mnemonic)));
}
