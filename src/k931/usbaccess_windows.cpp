// SPDX-License-Identifier: GPL-3.0-or-later
#include "usbaccess.h"

#include <QCoreApplication>

// Windows gives the ROM bootloader no driver that libusb can use; the
// owner installs WinUSB for it once, with Zadig.
QString usbAccessAdvice()
{
    return QCoreApplication::translate(
        "FlashWindow",
        "O Windows não deixa abrir o aparelho USB: instale uma vez o driver WinUSB para \"STM32 BOOTLOADER\" com o "
        "Zadig (veja \"Driver do modo de atualização\" no menu Iniciar, em Tarvik Connect) e tente de novo");
}
