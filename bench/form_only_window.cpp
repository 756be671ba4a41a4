// SPDX-License-Identifier: GPL-3.0-or-later
// A reference for the start-up benchmark: the main window's form and its two
// lamps, without the timers, the serial port, the network manager and the
// hidden windows, so that the benchmark can show what those add.
#include "ui_mainwindow.h"
#include "ledindicator.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    Ui_MainWindow ui;
    ui.setupUi(&window);
    for (QGridLayout *place : {ui.gridLayout, ui.gridLayout_3}) {
        auto *lamp = new LedIndicator;
        place->addWidget(lamp, 1, 0);
        lamp->setLedSize(10);
    }
    window.show();
    return app.exec();
}
