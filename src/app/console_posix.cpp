// SPDX-License-Identifier: GPL-3.0-or-later
#include "console.h"

#include <cstdio>

void printToUser(const char *text)
{
    std::fputs(text, stdout);
}
