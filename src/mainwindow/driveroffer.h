// SPDX-License-Identifier: GPL-3.0-or-later
// The owner's question when the bootloader cannot be opened and the system
// lets the program install the update mode's driver itself: nothing is
// installed or replaced without the owner's "Sim".
#pragma once

#include <QString>

class QWidget;

enum class DriverAnswer {
    NotOffered, // nothing to install here: the usual advice stands
    Declined,   // "Não": the device waits in its bootloader, as before
    Installed,  // the bootloader may be looked for again
    Failed,     // "Sim", but the install did not succeed: `why` says it
};

DriverAnswer offerBootloaderDriver(QWidget *parent, QString &why);
