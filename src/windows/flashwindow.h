// SPDX-License-Identifier: GPL-3.0-or-later
// The technicians' manual flash window: connects to a device already in its
// DFU bootloader, writes a local Intel HEX file into it and closes itself
// once the device is unplugged.
#pragma once

#include "windowconfiguration.h"

#include <QMainWindow>

QT_BEGIN_NAMESPACE
class Ui_FlashWindow;
QT_END_NAMESPACE

class QCloseEvent;
class QFileDialog;

class FlashWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit FlashWindow(QWidget *parent = nullptr,
                         const FlashWindowConfiguration &configuration = FlashWindowConfiguration());
    ~FlashWindow() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_ConnectButton_clicked();
    void on_SelectFileButton_clicked();
    void on_FlashButton_clicked();

private:
    void writeNotDone(const QString &reason);
    void updateFlashProgress();
    void checkDeviceRemoved();

    Ui_FlashWindow *ui;
    FlashWindowConfiguration configuration;
};
