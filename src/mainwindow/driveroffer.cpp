// SPDX-License-Identifier: GPL-3.0-or-later
#include "driveroffer.h"

#include "bootloaderdriver.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}
} // namespace

DriverAnswer offerBootloaderDriver(QWidget *parent, QString &why)
{
    using namespace bootloaderdriver;
    const Offer offer = installer().offer();
    if (offer.need == Need::None)
        return DriverAnswer::NotOffered;
    QMessageBox box(QMessageBox::Question, tr("Driver do modo de atualização"), QString(), QMessageBox::NoButton,
                    parent);
    if (offer.need == Need::Missing) {
        box.setText(tr("O Windows ainda não tem o driver do modo de atualização. Instalar agora?"));
        box.setInformativeText(tr("O Windows pede a permissão de administrador; depois a atualização continua."));
    } else {
        const QString which = offer.otherDriver.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(offer.otherDriver);
        box.setText(tr("O modo de atualização do K931 está com o driver de outro programa%1, que o Tarvik Connect não "
                       "consegue usar. Instalar agora o driver do modo de atualização (WinUSB) no lugar dele?")
                        .arg(which));
        box.setInformativeText(tr("O outro programa deixa de ver o bootloader até que o driver dele seja escolhido "
                                  "de novo no Gerenciador de Dispositivos."));
    }
    QPushButton *yes = box.addButton(tr("Sim"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(tr("Não"), QMessageBox::NoRole);
    // Replacing another program's driver is never the default.
    box.setDefaultButton(offer.need == Need::Missing ? yes : no);
    box.exec();
    if (box.clickedButton() != yes)
        return DriverAnswer::Declined;
    why = installer().install();
    return why.isEmpty() ? DriverAnswer::Installed : DriverAnswer::Failed;
}
