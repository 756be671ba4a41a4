// SPDX-License-Identifier: GPL-3.0-or-later
#include "console.h"

#include <cstdio>
#include <string>

#include <windows.h>

// A window program has no console of its own: it borrows the one it was
// started from, and without one says it in a box.
void printToUser(const char *text)
{
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        SetConsoleOutputCP(CP_UTF8);
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, DWORD(std::char_traits<char>::length(text)), &written,
                  nullptr);
        FreeConsole();
        return;
    }
    const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(size_t(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
    MessageBoxW(nullptr, wide.c_str(), L"Tarvik Connect", MB_OK | MB_ICONINFORMATION);
}
