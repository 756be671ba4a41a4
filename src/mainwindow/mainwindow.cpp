#include "mainwindow.h"

#include "ui_mainwindow.h"

MainWindow::MainWindow(QWidget *parent, const Endpoints &endpointsToUse)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
    , endpoints(endpointsToUse)
{
    ui->setupUi(this);
}

MainWindow::~MainWindow()
{
    delete ui;
}
