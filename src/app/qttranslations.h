// SPDX-License-Identifier: GPL-3.0-or-later
// Qt's own texts (message box buttons, the file dialog) in Brazilian
// Portuguese like the rest of the program, from the Qt translations the
// system has installed. The program's own texts are not translated: they
// are written in Portuguese already.
#pragma once

class QCoreApplication;

// False when the system has no such translation; Qt's texts then stay English.
bool installQtTranslations(QCoreApplication &app);
