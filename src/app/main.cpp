#include "progress.h"
#include "qttranslations.h"
#include "termination.h"
#include "programmer.h"
#include "mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char **argv)
{
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
