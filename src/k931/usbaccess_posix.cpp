// SPDX-License-Identifier: GPL-3.0-or-later
#include "usbaccess.h"

#include <QCoreApplication>

QString usbAccessAdvice()
{
    return QCoreApplication::translate("FlashWindow",
                                       "Sem permissão para abrir o aparelho USB: instale as regras udev (veja o README)");
}
