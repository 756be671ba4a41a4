// SPDX-License-Identifier: GPL-3.0-or-later
#include "aboutwindow.h"

#include "ui_aboutwindow.h"

AboutWindow::AboutWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui_AboutWindow)
{
    ui->setupUi(this);
}

AboutWindow::~AboutWindow()
{
    delete ui;
}

void AboutWindow::on_CloseAbout_clicked()
{
    close();
}

void AboutWindow::on_HiddenUpgradeButton_clicked()
{
    emit hiddenUpgradeButtonClicked();
}
