#pragma once

#include "endpoints.h"

#include <QMainWindow>

QT_BEGIN_NAMESPACE
class Ui_MainWindow;
QT_END_NAMESPACE

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr, const Endpoints &endpoints = Endpoints());
    ~MainWindow() override;

    Ui_MainWindow *form() const { return ui; }

private:
    Ui_MainWindow *ui;
    Endpoints endpoints;
};
