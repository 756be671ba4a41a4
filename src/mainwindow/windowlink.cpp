// SPDX-License-Identifier: GPL-3.0-or-later
#include "windowlink.h"

#include "protocol.h"
#include "settings.h"
#include "settingslink.h"

#include <QSerialPort>
#include <QSerialPortInfo>

WindowLink::WindowLink(QSerialPort *port, road::ReadOut *readOut, road::PacedUpload *upload,
                       std::function<QString(const settings::Key &)> name, QObject *parent)
    : road::K931Link(parent), port(port), chain(readOut), paced(upload), name(std::move(name))
{
}

// Only a device the window has read counts: its port opens a moment before
// its application answers, and the window's scan already waits for that.
bool WindowLink::present() const
{
    return port->isOpen() && answered;
}

void WindowLink::readOut()
{
    if (!port->isOpen()) {
        emit linkLost(QStringLiteral("Aparelho não conectado"));
        return;
    }
    if (answered && !chain->running()) {
        emit readOutCompleted();
        return;
    }
    readOutAsked = true;
    if (!chain->running())
        chain->start();
}

QString WindowLink::serialNumber() const
{
    return QSerialPortInfo(*port).serialNumber();
}

QString WindowLink::portName() const
{
    return port->portName();
}

QString WindowLink::version() const
{
    return chain->replies().value(settings::firstInChain().mnemonic());
}

// The mixture thresholds' unit, as the device's sensor type says.
bool WindowLink::lambda() const
{
    for (const settings::Key &key : settings::readout()) {
        if (key.kind == settings::Kind::MixtureUnit)
            return settings::lambdaFromReply(chain->replies().value(key.mnemonic()));
    }
    return false;
}

// What the device replied, never what the fields show since.
road::SettingValues WindowLink::values() const
{
    road::SettingValues held;
    const QString firmware = version();
    for (const settings::Key *key : settings::keys()) {
        if (!settings::heldBy(*key, firmware))
            continue;
        if (const std::optional<quint32> word = settings::wordOfReply(*key, chain->replies().value(key->mnemonic())))
            held.append({key, *word});
    }
    return held;
}

// The port stays open: the device leaves it, and the window's error
// handling closes it then, as for any unplug.
bool WindowLink::sendBoot()
{
    answered = false;
    return port->write(protocol::bootCommand()) > 0;
}

void WindowLink::upload(const road::SettingValues &values)
{
    restored = values;
    restoring = Restoring::Sending;
    paced->start(values);
}

void WindowLink::uploadSent()
{
    if (restoring != Restoring::Sending)
        return;
    // Only what reads back equal counts.
    restoring = Restoring::ReadingBack;
    answered = false;
    chain->start();
}

void WindowLink::readOutEnded()
{
    answered = true;
    if (restoring == Restoring::ReadingBack) {
        restoring = Restoring::No;
        QStringList notTaken;
        for (const road::Mismatch &m : road::mismatches(restored, *chain))
            notTaken << name(*m.key);
        emit uploadEnded(notTaken.isEmpty(), notTaken.join(QStringLiteral(", ")));
        return;
    }
    if (std::exchange(readOutAsked, false))
        emit readOutCompleted();
}

void WindowLink::lost(const QString &reason)
{
    answered = false;
    readOutAsked = false;
    restoring = Restoring::No;
    emit linkLost(reason);
}
