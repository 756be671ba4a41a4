// SPDX-License-Identifier: GPL-3.0-or-later
// Sending the edited settings back to the device: seven set commands, one
// every 500 ms.
#include "mainwindow.h"

#include "mainwindowstate.h"
#include "protocol.h"
#include "settings.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QMessageBox>
#include <QTimer>


using protocol::Mnemonic;

namespace {

// The command line's rules for the same settings.
bool isValid(protocol::Mnemonic mnemonic, const QString &text)
{
    const settings::Key *key = settings::keyFor(mnemonic);
    return key && settings::parseValue(*key, text).error.isEmpty();
}

QString reasonFor(protocol::Mnemonic mnemonic)
{
    return settings::parseValue(*settings::keyFor(mnemonic), QString()).error;
}

} // namespace

// A field that does not convert would be sent as 0 and written into the
// device; better to say which one and send nothing.
bool MainWindow::validateCalibrationFields()
{
    QStringList invalid;
    if (!isValid(Mnemonic::Rpml, ui->RpmShiftLightVal->text()))
        invalid << ui->label_2->text();
    if (!isValid(Mnemonic::Tura, ui->TurboPressureAlertVal->text()))
        invalid << ui->label_3->text();
    if (!isValid(Mnemonic::Halr, ui->SetHallmeterRicoVal->text()))
        invalid << ui->LabelHallmeterRich->text();
    if (!isValid(Mnemonic::Halp, ui->SetHallmeterPobreVal->text()))
        invalid << ui->LabelHallmeterLean->text();
    if (invalid.isEmpty())
        return true;
    QMessageBox::warning(this, tr("Aviso"),
                         tr("Valor inválido em: %1\n\nRpm Shift Light: %2.\nDemais campos: %3.")
                             .arg(invalid.join(QStringLiteral(", ")), reasonFor(Mnemonic::Rpml),
                                  reasonFor(Mnemonic::Tura)));
    return false;
}

void MainWindow::on_SetAllCalibrations_clicked()
{
    // Every press ends the upload under way, also one that is refused below:
    // the user asked for something else, and must not hear "Sucesso" after
    // the refusal.
    commandTimer->stop();
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

    commandIndex = 0;
    commandQueue.clear();
    commandQueue << protocol::setCommand(Mnemonic::Ksbm, ui->PiscaShiftLight->isChecked() ? 1 : 0)
                 << protocol::setFloatCommand(Mnemonic::Tura, ui->TurboPressureAlertVal->text().toFloat())
                 << protocol::setCommand(Mnemonic::Rpml, ui->RpmShiftLightVal->text().toUInt(nullptr, 10))
                 << protocol::setFloatCommand(Mnemonic::Halr, ui->SetHallmeterRicoVal->text().toFloat())
                 << protocol::setFloatCommand(Mnemonic::Halp, ui->SetHallmeterPobreVal->text().toFloat())
                 << protocol::setCommand(Mnemonic::Turz, ui->ZerarPicoTurbo->isChecked() ? 1 : 0);
    if (ui->RadioSensorType3Bar->isChecked())
        commandQueue << protocol::setCommand(Mnemonic::Kbos, 0);
    else if (ui->RadioSensorType5Bar->isChecked())
        commandQueue << protocol::setCommand(Mnemonic::Kbos, 1);
    commandTimer->start(configuration.commandIntervalMs);
}

void MainWindow::sendNextCommand()
{
    if (commandIndex < commandQueue.size()) {
        const QByteArray &command = commandQueue.at(commandIndex);
        const qint64 written = serialPort->isOpen() ? serialPort->write(command) : -1;
        qDebug() << "Enviando:" << command;
        if (written != command.size()) {
            reportUploadFailure();
            return;
        }
        ++commandIndex;
        return;
    }
    commandTimer->stop();
    qDebug() << "Todos os dados foram enviados.";
    QMessageBox::information(this, tr("Sucesso"), tr("Todas as calibrações foram enviadas com sucesso!"));
}

// The rest of the queue is dropped: the device got only part of the settings,
// and the user must hear it rather than a success.
void MainWindow::reportUploadFailure()
{
    commandTimer->stop();
    QMessageBox::warning(this, tr("Erro"),
                         tr("Falha ao enviar as calibrações: o aparelho não recebeu todos os valores.\n"
                            "Verifique a conexão e tente novamente."));
}
