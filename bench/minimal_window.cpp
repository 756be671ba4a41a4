// SPDX-License-Identifier: GPL-3.0-or-later
// The references for the start-up benchmark: the least a Qt Widgets program
// with one main window does; built a second time with one line of text, which
// costs the font set-up that any window with text pays.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
#ifdef WITH_TEXT
    window.setCentralWidget(new QLabel(QStringLiteral("Tarvik Connect")));
#endif
    window.resize(400, 600);
    window.show();
    return app.exec();
}
