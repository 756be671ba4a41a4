// SPDX-License-Identifier: GPL-3.0-or-later
#include "console.h"
#include "progress.h"
#include "qttranslations.h"
#include "termination.h"
#include "programmer.h"
#include "mainwindow.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstring>

namespace {

// Answered before any window or display is needed, for a terminal and for
// the manual page made from it.
bool answeredFromTheCommandLine(int argc, char **argv, int &status)
{
    if (argc != 2)
        return false;
    if (std::strcmp(argv[1], "--version") == 0) {
        printToUser("tarvik-connect " TARVIK_VERSION "\n");
        status = 0;
        return true;
    }
    if (std::strcmp(argv[1], "--help") == 0) {
        printToUser("Uso: tarvik-connect [--help] [--version]\n"
                    "Lê e muda as configurações do K931 pela sua porta serial USB e atualiza o seu\n"
                    "firmware pelo bootloader USB DFU, com uma janela. Sem opções, abre a janela.\n"
                    "\n"
                    "      --help     mostra esta ajuda e sai\n"
                    "      --version  mostra a versão e sai\n"
                    "\n"
                    "Sem linha de comando para as configurações: veja tarvik-config(1) e tarvik-dfu(1).\n");
        status = 0;
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    int status = 0;
    if (answeredFromTheCommandLine(argc, argv, status))
        return status;
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/tarvik-connect.png")));
    quitOnTerminationRequest(app);
    installQtTranslations(app);

    flashing::setLoadersPath("./.");
    flashing::setDisplayCallbacks({onProgressStart, onLogMessage, onProgressStep});
    flashing::setVerbosityLevel(1);

    MainWindow window;
    window.show();
    return app.exec();
}
