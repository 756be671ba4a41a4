// SPDX-License-Identifier: GPL-3.0-or-later
#include "usbaccess.h"

#include <QCoreApplication>

// Windows gives the ROM bootloader no driver that libusb can use (or the
// chip maker's, which it cannot use either). The setup installs WinUSB for
// it; where that step was left out or failed, tarvik-driver does it, and
// the command-line tools only name it: they never start an installer.
QString usbAccessAdvice()
{
    return QCoreApplication::translate(
        "FlashWindow",
        "O Windows não deixa abrir o aparelho USB: falta o driver do modo de atualização (WinUSB para \"STM32 "
        "BOOTLOADER\"). Rode tarvik-driver (na pasta do Tarvik Connect; ele pede a permissão de administrador) e "
        "tente de novo; veja \"Driver do modo de atualização\" no menu Iniciar");
}
