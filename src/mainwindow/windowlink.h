// SPDX-License-Identifier: GPL-3.0-or-later
// The window's K931 as the firmware update reaches it: the port the window
// opened, the read-out it already runs and its paced upload. The window
// keeps finding, opening and reading the device itself; it tells the link
// when a read-out ended, an upload's last command went out or the device was
// lost, and the link answers the update from what the window knows.
#pragma once

#include "firmwareupdate.h"

#include <functional>

class QSerialPort;

namespace road {
class ReadOut;
class PacedUpload;
}

class WindowLink : public road::K931Link {
    Q_OBJECT
public:
    // `name` words a setting the device did not take, as the form calls it.
    WindowLink(QSerialPort *port, road::ReadOut *readOut, road::PacedUpload *upload,
               std::function<QString(const settings::Key &)> name, QObject *parent = nullptr);

    bool present() const override;
    void readOut() override;
    QString serialNumber() const override;
    QString portName() const override;
    QString version() const override;
    bool lambda() const override;
    road::SettingValues values() const override;
    bool sendBoot() override;
    void upload(const road::SettingValues &values) override;

    // From the window.
    void readOutEnded();
    void uploadSent();
    void lost(const QString &reason);
    bool uploading() const { return restoring != Restoring::No; }

private:
    enum class Restoring { No, Sending, ReadingBack };

    QSerialPort *port;
    road::ReadOut *chain;
    road::PacedUpload *paced;
    std::function<QString(const settings::Key &)> name;
    bool answered = false;     // the device on the port has been read out
    bool readOutAsked = false; // the update waits for one
    Restoring restoring = Restoring::No;
    road::SettingValues restored;
};
