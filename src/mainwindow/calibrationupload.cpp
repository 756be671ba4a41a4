// SPDX-License-Identifier: GPL-3.0-or-later
// Sending the edited settings back to the device: seven set commands, one
// per turn of commandTimer, paced by road::PacedUpload.
#include "mainwindow.h"

#include "mainwindowstate.h"
#include "protocol.h"
#include "settings.h"
#include "settingwidgets.h"
#include "settingslink.h"
#include "ui_mainwindow.h"
#include "windowlink.h"

#include <QDebug>
#include <QMessageBox>
#include <QTimer>

#include <optional>

namespace {

// The word a setting is sent as, taken from its widget; nothing for a
// sensor range with neither button checked.
std::optional<quint32> formWord(Ui_MainWindow *ui, const settings::Key &key)
{
    if (key.kind == settings::Kind::Sensor) {
        if (ui->RadioSensorType3Bar->isChecked())
            return 0;
        if (ui->RadioSensorType5Bar->isChecked())
            return 1;
        return std::nullopt;
    }
    const SettingWidgets widgets = widgetsFor(ui, key);
    if (widgets.box)
        return widgets.box->isChecked() ? 1 : 0;
    if (widgets.field)
        return settings::parseValue(key, widgets.field->text()).word;
    return std::nullopt;
}

} // namespace

// A field that does not convert would be sent as 0 and written into the
// device; better to say which one, and why, and send nothing.
bool MainWindow::validateCalibrationFields()
{
    QStringList invalid;
    QStringList reasons;
    // Named in the read-out's order, the form's from top to bottom.
    for (const settings::Key &key : settings::readout()) {
        const SettingWidgets widgets = widgetsFor(ui, key);
        if (!widgets.field || key.uploadRank < 0)
            continue;
        const QString error = settings::parseValue(key, widgets.field->text()).error;
        if (error.isEmpty())
            continue;
        invalid << widgets.name();
        reasons << tr("%1: %2.").arg(widgets.name(), error);
    }
    if (invalid.isEmpty())
        return true;
    QMessageBox::warning(this, tr("Aviso"),
                         tr("Valor inválido em: %1\n\n%2")
                             .arg(invalid.join(QStringLiteral(", ")), reasons.join(QLatin1Char('\n'))));
    return false;
}

void MainWindow::on_SetAllCalibrations_clicked()
{
    // Every press ends the upload under way, also one that is refused below:
    // the user asked for something else, and must not hear "Sucesso" after
    // the refusal. A restore under way ends too: the user's values win.
    upload->stop();
    endSettingsRestore();
    // Set commands between "BOOT" and the bootloader would be lost.
    if (upgradeRunning) {
        QMessageBox::warning(this, tr("Aviso"), tr("Aguarde o fim da atualização"));
        return;
    }
    if (!serialPort->isOpen()) {
        QMessageBox::warning(this, tr("Aviso"), tr("Aparelho não conectado"));
        return;
    }
    // Fields never filled from the device would overwrite its settings with
    // whatever the boxes happen to hold.
    if (!deviceAnswered) {
        QMessageBox::warning(this, tr("Aviso"),
                             tr("As configurações do aparelho ainda não foram lidas.\n"
                                "Aguarde a leitura e tente novamente."));
        return;
    }
    if (!validateCalibrationFields())
        return;

    road::Values values;
    for (const settings::Key *key : settings::keys()) {
        if (const std::optional<quint32> word = formWord(ui, *key))
            values.append({key, *word});
    }
    upload->start(values);
}

void MainWindow::sendNextCommand()
{
    switch (upload->sendNext()) {
    case road::PacedUpload::Step::Sent:
        qDebug() << "Enviando:" << upload->lastCommand();
        return;
    case road::PacedUpload::Step::Failed:
        reportUploadFailure();
        return;
    case road::PacedUpload::Step::Done:
        break;
    }
    qDebug() << "Todos os dados foram enviados.";
    // Restored settings count only once they read back equal.
    if (windowLink->uploading()) {
        windowLink->uploadSent();
        return;
    }
    QMessageBox::information(this, tr("Sucesso"), tr("Todas as calibrações foram enviadas com sucesso!"));
    // What the device holds now is read again: settings kept before an
    // update must be these, not those of the last read-out.
    if (serialPort->isOpen() && !commandTimer->isActive())
        readOut->start();
}

// The rest of the queue is dropped: the device got only part of the settings,
// and the user must hear it rather than a success.
void MainWindow::reportUploadFailure()
{
    upload->stop();
    endSettingsRestore();
    QMessageBox::warning(this, tr("Erro"),
                         tr("Falha ao enviar as calibrações: o aparelho não recebeu todos os valores.\n"
                            "Verifique a conexão e tente novamente."));
}
