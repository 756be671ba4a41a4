// SPDX-License-Identifier: GPL-3.0-or-later
#include "settingwidgets.h"

#include "settings.h"
#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

QString SettingWidgets::name() const
{
    return label ? label->text() : box ? box->text() : QString();
}

SettingWidgets widgetsFor(Ui_MainWindow *ui, const settings::Key &key)
{
    const QByteArray m = key.mnemonic();
    if (m == "VERS")
        return {ui->VersionBox, nullptr, ui->label};
    if (m == "RPML")
        return {ui->RpmShiftLightVal, nullptr, ui->label_2};
    if (m == "TURA")
        return {ui->TurboPressureAlertVal, nullptr, ui->label_3};
    if (m == "HALP")
        return {ui->SetHallmeterPobreVal, nullptr, ui->LabelHallmeterLean};
    if (m == "HALR")
        return {ui->SetHallmeterRicoVal, nullptr, ui->LabelHallmeterRich};
    if (m == "TURZ")
        return {nullptr, ui->ZerarPicoTurbo, nullptr};
    if (m == "KSBM")
        return {nullptr, ui->PiscaShiftLight, nullptr};
    return {};
}
