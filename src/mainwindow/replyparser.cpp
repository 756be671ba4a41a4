// SPDX-License-Identifier: GPL-3.0-or-later
// Each reply of the device into its widget; the read-out chain itself, and
// which query follows which reply, is road::ReadOut's.
#include "mainwindow.h"

#include "mainwindowstate.h"
#include "protocol.h"
#include "settings.h"
#include "settingwidgets.h"
#include "settingslink.h"
#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>

using protocol::Flag;
using settings::Kind;

namespace {

// A flag the device sends as anything but 0 or 1 leaves the box as it was.
void checkFromFlag(QCheckBox *box, const QByteArray &chunk, const QByteArray &mnemonic)
{
    const Flag flag = protocol::flagValue(chunk, mnemonic);
    if (flag != Flag::Other)
        box->setChecked(flag == Flag::One);
}

} // namespace

void MainWindow::parseReply(QByteArray chunk)
{
    const settings::Key *key = settings::recognise(chunk);
    if (!key)
        return;
    switch (key->kind) {
    case Kind::MixtureUnit: {
        const Flag flag = protocol::flagValue(chunk, key->mnemonic());
        if (flag != Flag::Other) {
            const QString unit = flag == Flag::Zero ? QStringLiteral("mV") : QString(QChar(0x03BB));
            ui->LabelHallmeterLean->setText(tr("Hallmeter Mistura Pobre (%1)").arg(unit));
            ui->LabelHallmeterRich->setText(tr("Hallmeter Mistura Rica (%1)").arg(unit));
        }
        break;
    }
    case Kind::Sensor: {
        const bool hasBoost = settings::heldBy(*key, ui->VersionBox->text());
        ui->RadioSensorType3Bar->setEnabled(hasBoost);
        ui->RadioSensorType5Bar->setEnabled(hasBoost);
        if (hasBoost) {
            const Flag flag = protocol::flagValue(chunk, key->mnemonic());
            if (flag == Flag::Zero) {
                ui->RadioSensorType3Bar->setChecked(true);
                ui->RadioSensorType5Bar->setChecked(false);
            } else if (flag == Flag::One) {
                ui->RadioSensorType3Bar->setChecked(false);
                ui->RadioSensorType5Bar->setChecked(true);
            }
        }
        break;
    }
    case Kind::Flag:
        if (QCheckBox *box = widgetsFor(ui, *key).box)
            checkFromFlag(box, chunk, key->mnemonic());
        break;
    case Kind::Version:
    case Kind::UInt:
    case Kind::Float:
    case Kind::Mixture:
        // The field shows the device's value, never an accumulation of
        // replies: a repeated reply would otherwise double it and the next
        // upload would write that back into the device.
        if (QLineEdit *field = widgetsFor(ui, *key).field)
            field->setText(protocol::valueText(chunk));
        break;
    }
}

void MainWindow::readOutFinished()
{
    deviceAnswered = true;
    // Not from inside the port's readyRead: a question asked from there
    // would run its event loop where the port announces no further data,
    // and a K931 plugged in meanwhile would never be read.
    QTimer::singleShot(0, this, &MainWindow::readOutCompleted);
}
