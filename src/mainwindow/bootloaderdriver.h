// SPDX-License-Identifier: GPL-3.0-or-later
// The update mode's driver, put in place from the window where the system
// needs one the program can install: on Windows WinUSB for the STM32
// bootloader through tarvik-driver.exe (bootloaderdriver_windows.cpp);
// elsewhere nothing is offered (bootloaderdriver_posix.cpp). Tests put an
// installer of their own in its place.
#pragma once

#include <QString>

#include <memory>

namespace bootloaderdriver {

enum class Need {
    None,        // nothing the program can install: the usual advice stands
    Missing,     // the bootloader has no driver
    OtherDriver, // it has another program's driver, which installing replaces
};

struct Offer {
    Need need = Need::None;
    QString otherDriver; // Windows' name of that driver, when known
};

class Installer {
public:
    virtual ~Installer() = default;
    // Asked when the bootloader was listed but could not be opened.
    virtual Offer offer() = 0;
    // Installs with an administrator's rights and returns when it ended,
    // the window still painting; empty when done, else why not.
    virtual QString install() = 0;
};

// The system's installer, or the one a test put in its place.
Installer &installer();
// Puts `replacement` in place and hands back the one before (tests).
std::unique_ptr<Installer> replaceInstaller(std::unique_ptr<Installer> replacement);
// The system's own, from the file CMake chose for it.
std::unique_ptr<Installer> systemInstaller();

} // namespace bootloaderdriver
