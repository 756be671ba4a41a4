// SPDX-License-Identifier: GPL-3.0-or-later
#include "bootloaderdriver.h"

namespace bootloaderdriver {

namespace {
// Access on Linux comes from the udev rules, installed once by root: the
// advice says so, and the window has nothing to install.
class NoInstaller : public Installer {
public:
    Offer offer() override { return {}; }
    QString install() override { return QString(); }
};
} // namespace

std::unique_ptr<Installer> systemInstaller()
{
    return std::make_unique<NoInstaller>();
}

} // namespace bootloaderdriver
