// Renders the program's windows into PNG files for the documentation.
// Usage: tarvik-screenshots OUTPUT_DIR
#include "mainwindow/mainwindow.h"
#include "ui_flashwindow.h"
#include "windows/aboutwindow.h"
#include "windows/flashwindow.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

bool save(QWidget &window, const QDir &dir, const char *name)
{
    window.show();
    QCoreApplication::processEvents();
    const QString path = dir.filePath(QString::fromLatin1(name));
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/tarvik-connect.png")));
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: tarvik-screenshots OUTPUT_DIR\n");
        return 2;
    }
    QDir dir(args[1]);
    if (!dir.mkpath(QStringLiteral(".")))
        return 1;

    // Endpoints nobody answers: the screenshots must not touch the network.
    Endpoints offline;
    offline.firmwareBaseUrl = offline.descriptionUrl = offline.probeUrl = QStringLiteral("http://127.0.0.1:9/");
    MainWindow window(nullptr, offline);
    bool ok = save(window, dir, "main-window.png");
    ok = save(*window.about(), dir, "about-window.png") && ok;
    FlashWindow *flash = window.manualFlashWindow();
    flash->form()->textEdit->append(QStringLiteral("Procurando aparelho\n"));
    flash->form()->textEdit->append(QStringLiteral("Conectado\n"));
    flash->form()->SelectFileButton->setEnabled(true);
    ok = save(*flash, dir, "flash-window.png") && ok;
    return ok ? 0 : 1;
}
