// SPDX-License-Identifier: GPL-3.0-or-later
// The two conversations with a K931 on its serial port that change or show
// its settings, for the window and for tarvik-config alike: the read-out
// chain (one query per setting, each reply handled before the next query
// goes out) and the paced upload (one set command per turn of a timer). Once
// an upload is done its owner reads the chain again; mismatches() says which
// settings the device does not hold as sent.
//
// Neither reads the port itself: the owner hands over what arrived, so that
// the window keeps its own readyRead handling. Qt Core and SerialPort only.
#pragma once

#include "settings.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTimer>

#include <optional>

class QSerialPort;

namespace road {

using Values = QList<QPair<const settings::Key *, quint32>>;

// How replies are told apart. They have no end mark.
struct Framing {
    // 0: every chunk that arrives is one reply, as a USB serial device sends
    // it. Otherwise a reply is complete once it names the awaited setting,
    // its value has begun and this much silence follows.
    int quietMs = 0;
    // 0: the chain waits as long as it takes. Otherwise a query without a
    // complete reply by then counts as unanswered and the chain goes on.
    int replyTimeoutMs = 0;
};

class ReadOut : public QObject {
    Q_OBJECT
public:
    explicit ReadOut(QSerialPort *port, Framing framing = {}, QObject *parent = nullptr);

    // The whole chain from its first query. Earlier replies stay known until
    // their settings answer again: the device held them a moment ago.
    void start();
    // Only this one setting, no chain.
    void ask(const settings::Key &key);
    void stop();
    bool running() const { return awaited != nullptr; }
    // What arrived on the port. Chunk by chunk, a recognised reply is
    // handled whenever it comes, also with no query outstanding, and its
    // successor asked: the device's word is the latest one.
    void take(const QByteArray &bytes);
    // A new device: nothing it said is known.
    void forget();

    // Each reply's value text, by mnemonic, since start().
    const QHash<QByteArray, QString> &replies() const { return replyTexts; }
    std::optional<QString> replyOf(const settings::Key &key) const;

signals:
    // A recognised reply, as it came: the chain's next query has not been
    // written yet.
    void replied(const settings::Key &key, const QByteArray &chunk);
    // Only with a reply time limit.
    void unanswered(const settings::Key &key);
    // The last link of the chain (or the one setting asked) was handled.
    void finished();

private:
    void writeQuery(const settings::Key &key);
    void advance(const settings::Key *key, bool wasSingle);
    void handle(const QByteArray &chunk);
    void replyComplete();
    void replyTimedOut();
    bool valueBegun() const;

    QSerialPort *port;
    Framing framing;
    bool single = false;
    const settings::Key *awaited = nullptr;
    QByteArray pending;
    QTimer quiet;
    QTimer timeout;
    QHash<QByteArray, QString> replyTexts;
};

// A setting the device does not hold as it was sent.
struct Mismatch {
    const settings::Key *key = nullptr;
    quint32 sent = 0;
    std::optional<QString> read; // nothing when the device did not answer
};
// The device must hold exactly the 32-bit word that was sent.
QList<Mismatch> mismatches(const Values &sent, const ReadOut &readBack);
QList<Mismatch> mismatches(const Values &sent, const QHash<QByteArray, QString> &replies);

class PacedUpload : public QObject {
    Q_OBJECT
public:
    // The pacer is the owner's (the window names its own), started and
    // stopped here at `spacingMs`: the device stores each value in its flash
    // and loses a command that arrives meanwhile.
    PacedUpload(QSerialPort *port, QTimer *pacer, int spacingMs, QObject *parent = nullptr);

    enum class First { AfterOneTurn, AtOnce };
    // Put in the settings' upload order; a running upload is dropped.
    void start(const Values &values, First first = First::AfterOneTurn);
    void stop();
    bool running() const;
    const Values &values() const { return queued; }
    int sentCount() const { return next; }
    QList<QByteArray> commands() const;

    enum class Step { Sent, Failed, Done };
    // One turn of the pacer: the next command, or, one turn after the last,
    // Done (the pacer then stopped). Failed: the port did not take the
    // command; the rest is dropped.
    Step sendNext();
    // The setting whose command was last written, or failed to be, and its bytes.
    const settings::Key *lastKey() const { return last; }
    const QByteArray &lastCommand() const { return lastBytes; }

private:
    QSerialPort *port;
    QTimer *pacer;
    int spacingMs;
    Values queued;
    int next = 0;
    const settings::Key *last = nullptr;
    QByteArray lastBytes;
    bool broken = false;
};

} // namespace road
