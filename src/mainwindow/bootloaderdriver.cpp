// SPDX-License-Identifier: GPL-3.0-or-later
#include "bootloaderdriver.h"

namespace bootloaderdriver {

namespace {
std::unique_ptr<Installer> &current()
{
    static std::unique_ptr<Installer> installer;
    return installer;
}
} // namespace

Installer &installer()
{
    if (!current())
        current() = systemInstaller();
    return *current();
}

std::unique_ptr<Installer> replaceInstaller(std::unique_ptr<Installer> replacement)
{
    std::unique_ptr<Installer> previous = std::move(current());
    current() = std::move(replacement);
    return previous;
}

} // namespace bootloaderdriver
