// SPDX-License-Identifier: GPL-3.0-or-later
#include "settingslink.h"

#include "protocol.h"

#include <QSerialPort>

#include <utility>

namespace road {

ReadOut::ReadOut(QSerialPort *port, Framing framing, QObject *parent)
    : QObject(parent)
    , port(port)
    , framing(framing)
{
    quiet.setSingleShot(true);
    timeout.setSingleShot(true);
    connect(&quiet, &QTimer::timeout, this, &ReadOut::replyComplete);
    connect(&timeout, &QTimer::timeout, this, &ReadOut::replyTimedOut);
    // A device pulled out answers nothing more: with a time limit, what is
    // still asked counts as unanswered at once rather than after the wait.
    connect(port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        const bool lost = error == QSerialPort::ResourceError || error == QSerialPort::ReadError
                       || error == QSerialPort::WriteError;
        if (lost && this->framing.replyTimeoutMs > 0 && running())
            timeout.start(0);
    });
}

void ReadOut::start()
{
    single = false;
    writeQuery(settings::firstInChain());
}

void ReadOut::ask(const settings::Key &key)
{
    single = true;
    writeQuery(key);
}

void ReadOut::stop()
{
    awaited = nullptr;
    single = false;
    pending.clear();
    quiet.stop();
    timeout.stop();
}

void ReadOut::forget()
{
    stop();
    replyTexts.clear();
}

std::optional<QString> ReadOut::replyOf(const settings::Key &key) const
{
    const auto found = replyTexts.constFind(key.mnemonic());
    return found == replyTexts.constEnd() ? std::nullopt : std::optional<QString>(*found);
}

void ReadOut::writeQuery(const settings::Key &key)
{
    awaited = &key;
    pending.clear();
    quiet.stop();
    if (framing.quietMs > 0) {
        // Bytes from before the query (a late answer to an earlier one)
        // would be read as its reply.
        port->readAll();
    }
    const QByteArray query = protocol::query(key.mnemonic());
    const bool written = port->isOpen() && port->write(query) == query.size();
    if (framing.replyTimeoutMs > 0)
        timeout.start(written ? framing.replyTimeoutMs : 0);
}

void ReadOut::take(const QByteArray &bytes)
{
    if (framing.quietMs == 0) {
        handle(bytes);
        return;
    }
    if (!awaited)
        return;
    pending += bytes;
    // The tail of an earlier answer ahead of this one is no part of it.
    const qsizetype own = pending.indexOf('>' + awaited->mnemonic());
    if (own > 0)
        pending.remove(0, own);
    if (valueBegun())
        quiet.start(framing.quietMs);
}

bool ReadOut::valueBegun() const
{
    return awaited && settings::recognise(pending) == awaited && pending.startsWith('>')
        && !protocol::valueText(pending).trimmed().isEmpty();
}

void ReadOut::replyComplete()
{
    const QByteArray chunk = std::exchange(pending, QByteArray());
    handle(chunk);
}

void ReadOut::replyTimedOut()
{
    // A value that began just before the limit is taken as it stands.
    if (valueBegun()) {
        quiet.stop();
        replyComplete();
        return;
    }
    const settings::Key *key = awaited;
    if (!key)
        return;
    const bool wasSingle = single;
    pending.clear();
    emit unanswered(*key);
    if (awaited != key)
        return; // stopped, or asked anew, by the owner
    advance(key, wasSingle);
}

void ReadOut::handle(const QByteArray &chunk)
{
    const settings::Key *key = settings::recognise(chunk);
    if (!key)
        return;
    const QString text = protocol::valueText(chunk);
    replyTexts.insert(key->mnemonic(), framing.quietMs > 0 ? text.trimmed() : text);
    timeout.stop();
    const settings::Key *before = awaited;
    const bool wasSingle = single;
    emit replied(*key, chunk);
    if (awaited != before)
        return; // stopped, or asked anew, by the owner
    advance(key, wasSingle && before);
}

void ReadOut::advance(const settings::Key *key, bool wasSingle)
{
    const settings::Key *next = wasSingle ? nullptr : settings::nextInChain(key);
    if (!next) {
        stop();
        emit finished();
        return;
    }
    writeQuery(*next);
}

QList<Mismatch> mismatches(const Values &sent, const QHash<QByteArray, QString> &replies)
{
    QList<Mismatch> found;
    for (const auto &[key, word] : sent) {
        const auto reply = replies.constFind(key->mnemonic());
        const std::optional<QString> read =
            reply == replies.constEnd() ? std::nullopt : std::optional<QString>(*reply);
        if (!read || settings::wordOfReply(*key, *read) != word)
            found.append({key, word, read});
    }
    return found;
}

QList<Mismatch> mismatches(const Values &sent, const ReadOut &readBack)
{
    return mismatches(sent, readBack.replies());
}

PacedUpload::PacedUpload(QSerialPort *port, QTimer *pacer, int spacingMs, QObject *parent)
    : QObject(parent)
    , port(port)
    , pacer(pacer)
    , spacingMs(spacingMs)
{
    // The spacing is the least time the device needs between two commands:
    // a coarse timer may fire early.
    pacer->setTimerType(Qt::PreciseTimer);
    // The port takes a command into its buffer even after the device has
    // gone; the failure comes later, as an error of the port.
    connect(port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (running() && (error == QSerialPort::WriteError || error == QSerialPort::ResourceError))
            broken = true;
    });
}

void PacedUpload::start(const Values &values, First first)
{
    queued.clear();
    for (const settings::Key *key : settings::keys()) {
        for (const auto &pair : values) {
            if (pair.first == key)
                queued.append(pair);
        }
    }
    next = 0;
    last = nullptr;
    lastBytes.clear();
    broken = false;
    pacer->start(first == First::AtOnce ? 0 : spacingMs);
}

void PacedUpload::stop()
{
    pacer->stop();
}

bool PacedUpload::running() const
{
    return pacer->isActive();
}

QList<QByteArray> PacedUpload::commands() const
{
    QList<QByteArray> list;
    for (const auto &[key, word] : queued)
        list << settings::setCommand(*key, word);
    return list;
}

PacedUpload::Step PacedUpload::sendNext()
{
    // Counted again from this turn: a repeating timer catches up on a turn
    // it fired late, and the next command would follow this one too soon.
    pacer->start(spacingMs);
    if (broken) {
        if (!last && next < queued.size())
            last = queued.at(next).first;
        pacer->stop();
        return Step::Failed;
    }
    if (next < queued.size()) {
        const auto &[key, word] = queued.at(next);
        last = key;
        lastBytes = settings::setCommand(*key, word);
        const qint64 written = port->isOpen() ? port->write(lastBytes) : -1;
        if (written != lastBytes.size()) {
            pacer->stop();
            return Step::Failed;
        }
        ++next;
        return Step::Sent;
    }
    // One turn after the last command: the device has had its time to store it.
    pacer->stop();
    return Step::Done;
}

} // namespace road
