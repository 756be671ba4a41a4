// SPDX-License-Identifier: GPL-3.0-or-later
// The About window: name, version and the maker's web address, and a
// hidden button in its lower right corner that leads to the manual flash
// window.
#pragma once

#include <QMainWindow>

QT_BEGIN_NAMESPACE
class Ui_AboutWindow;
QT_END_NAMESPACE

class AboutWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit AboutWindow(QWidget *parent = nullptr);
    ~AboutWindow() override;

signals:
    void hiddenUpgradeButtonClicked();

private slots:
    void on_CloseAbout_clicked();
    void on_HiddenUpgradeButton_clicked();

private:
    Ui_AboutWindow *ui;
};
