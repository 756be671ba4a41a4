// SPDX-License-Identifier: GPL-3.0-or-later
#include "console.h"
#include "firmwaresource.h"
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
    if (argc != 2 || std::strcmp(argv[1], "--firmware-source") == 0)
        return false;
    if (std::strcmp(argv[1], "--version") == 0) {
        printToUser("tarvik-connect " TARVIK_VERSION "\n");
        status = 0;
        return true;
    }
    if (std::strcmp(argv[1], "--help") == 0) {
        printToUser("Uso: tarvik-connect [--firmware-source FONTE] [--help] [--version]\n"
                    "Lê e muda as configurações do K931 pela sua porta serial USB e atualiza o seu\n"
                    "firmware pelo bootloader USB DFU, com uma janela. Sem opções, abre a janela.\n"
                    "\n"
                    "      --firmware-source FONTE\n"
                    "                 o firmware vem de FONTE em vez do servidor do fabricante: um\n"
                    "                 endereço https:// (um espelho), uma pasta ou file:// com data.json\n"
                    "                 e os arquivos HEX (veja tarvik-config mirror), ou http:// só para\n"
                    "                 127.0.0.1\n"
                    "      --help     mostra esta ajuda e sai\n"
                    "      --version  mostra a versão e sai\n"
                    "\n"
                    "Sem linha de comando para as configurações: veja tarvik-config(1) e tarvik-dfu(1).\n");
        status = 0;
        return true;
    }
    return false;
}

// The window's addresses, from --firmware-source where it is given: the
// internet lamp then tells whether that source answers.
bool configurationFromTheCommandLine(int argc, char **argv, MainWindowConfiguration &configuration)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--firmware-source") != 0)
            continue;
        const road::FirmwareSource source =
            road::firmwareSource(i + 1 < argc ? QString::fromLocal8Bit(argv[i + 1]) : QString(QLatin1Char('-')));
        if (!source.ok() || i + 1 >= argc) {
            printToUser(qUtf8Printable(QStringLiteral("tarvik-connect: --firmware-source: %1\n")
                                           .arg(i + 1 < argc ? source.error : QStringLiteral("falta a FONTE"))));
            return false;
        }
        configuration.firmwareBaseUrl = source.baseUrl;
        configuration.probeUrl = source.probeUrl;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    int status = 0;
    if (answeredFromTheCommandLine(argc, argv, status))
        return status;
    MainWindowConfiguration configuration;
    if (!configurationFromTheCommandLine(argc, argv, configuration))
        return 2;
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/tarvik-connect.png")));
    quitOnTerminationRequest(app);
    installQtTranslations(app);

    flashing::setLoadersPath("./.");
    flashing::setDisplayCallbacks({onProgressStart, onLogMessage, onProgressStep});
    flashing::setVerbosityLevel(1);

    MainWindow window(nullptr, configuration);
    window.show();
    return app.exec();
}
