// SPDX-License-Identifier: GPL-3.0-or-later
// The read-out chain and the paced upload against the simulated K931 on its
// pseudo-terminal, without a window: what the device receives, in which
// order and how far apart, and what is reported back.
#include "serialtestbed.h"
#include "simulatedk931.h"

#include "protocol.h"
#include "settings.h"
#include "settingslink.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// As tarvik-config tells replies apart, with a shorter limit for the silent cases.
constexpr road::Framing kQuiet{15, 400};
constexpr int kSpacingMs = 200;
// A millisecond's rounding between the pacer's clock and the test's.
constexpr int kMinTurnMs = kSpacingMs - 1;
constexpr int kDoneTimeoutMs = 8000;

QList<QByteArray> chainQueries()
{
    QList<QByteArray> queries;
    for (const settings::Key *key = &settings::firstInChain(); key; key = settings::nextInChain(key))
        queries << protocol::query(key->mnemonic());
    return queries;
}

const settings::Key &key(const char *mnemonic)
{
    return *settings::keyFor(QByteArray(mnemonic));
}

} // namespace

class TestSettingsLink : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void readOutWalksTheChain_data();
    void readOutWalksTheChain();
    void silentSettingIsUnansweredAndTheChainGoesOn();
    void uploadIsPacedInUploadOrder();
    void lostLinkMidUploadIsAFailure();
    void readBackNamesWhatWasNotTaken();

private:
    void runUpload(road::PacedUpload &upload, QTimer &pacer, std::function<void()> onSent = {});
    std::unique_ptr<SerialTestbed> testbed;
    std::unique_ptr<SimulatedK931> device;
    std::unique_ptr<QSerialPort> port;
    QList<road::PacedUpload::Step> steps;
    QList<qint64> stepTimes; // when each step returned, by the sender's clock
    QElapsedTimer clock;
};

void TestSettingsLink::initTestCase()
{
    // Ports of its own (ttyACM40 on): their lock files are no other suite's.
    testbed = std::make_unique<SerialTestbed>(40);
    QVERIFY2(SerialTestbed::available(), "run with LD_PRELOAD=libumockdev-preload.so.0");
}

void TestSettingsLink::init()
{
    device = std::make_unique<SimulatedK931>(*testbed);
    QVERIFY(device->plug());
    port = std::make_unique<QSerialPort>(device->portName());
    QVERIFY(port->open(QIODevice::ReadWrite));
    steps.clear();
    stepTimes.clear();
    clock.start();
}

void TestSettingsLink::cleanup()
{
    port.reset();
    device.reset();
}

void TestSettingsLink::readOutWalksTheChain_data()
{
    QTest::addColumn<int>("quietMs");
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<QString>("rpm"); // as kept
    QTest::newRow("chunks") << 0 << int(SimulatedK931::Behaviour::Answer) << QStringLiteral("6500");
    QTest::newRow("quiet") << kQuiet.quietMs << int(SimulatedK931::Behaviour::Answer) << QStringLiteral("6500");
    // The reply in two reads: only the quiet time after its value joins them.
    QTest::newRow("quiet, split reply") << kQuiet.quietMs << int(SimulatedK931::Behaviour::Split)
                                        << QStringLiteral("6500");
    QTest::newRow("quiet, carriage return") << kQuiet.quietMs << int(SimulatedK931::Behaviour::TrailingCR)
                                            << QStringLiteral("6500");
    QTest::newRow("chunks, carriage return") << 0 << int(SimulatedK931::Behaviour::TrailingCR)
                                             << QStringLiteral("6500\r");
}

void TestSettingsLink::readOutWalksTheChain()
{
    QFETCH(int, quietMs);
    QFETCH(int, behaviour);
    QFETCH(QString, rpm);
    device->setBehaviour("RPML", SimulatedK931::Behaviour(behaviour));
    road::ReadOut readOut(port.get(), {quietMs, quietMs ? kQuiet.replyTimeoutMs : 0});
    connect(port.get(), &QSerialPort::readyRead, &readOut, [&] { readOut.take(port->readAll()); });
    QSignalSpy finished(&readOut, &road::ReadOut::finished);
    QSignalSpy replied(&readOut, &road::ReadOut::replied);
    QSignalSpy unanswered(&readOut, &road::ReadOut::unanswered);
    readOut.start();
    QVERIFY(finished.wait(kDoneTimeoutMs));
    QCOMPARE(device->receivedBytes(), chainQueries());
    QCOMPARE(replied.size(), int(settings::readout().size()));
    QCOMPARE(unanswered.size(), 0);
    QCOMPARE(readOut.replyOf(key("RPML")), std::optional<QString>(rpm));
    QCOMPARE(readOut.replyOf(key("VERS")), std::optional<QString>(QString::fromLatin1(device->values.value("VERS"))));
    QVERIFY(!readOut.running());
    // Once: nothing more is asked after the last link.
    QTest::qWait(100);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(device->receivedBytes().size(), chainQueries().size());
}

void TestSettingsLink::silentSettingIsUnansweredAndTheChainGoesOn()
{
    device->setBehaviour("TURA", SimulatedK931::Behaviour::Silent);
    road::ReadOut readOut(port.get(), kQuiet);
    connect(port.get(), &QSerialPort::readyRead, &readOut, [&] { readOut.take(port->readAll()); });
    QSignalSpy finished(&readOut, &road::ReadOut::finished);
    QSignalSpy unanswered(&readOut, &road::ReadOut::unanswered);
    QElapsedTimer clock;
    clock.start();
    readOut.start();
    QVERIFY(finished.wait(kDoneTimeoutMs));
    QCOMPARE(unanswered.size(), 1);
    QCOMPARE(unanswered.first().first().value<settings::Key>().mnemonic(), QByteArray("TURA"));
    QVERIFY(clock.elapsed() >= kQuiet.replyTimeoutMs);
    QCOMPARE(device->receivedBytes(), chainQueries());
    QCOMPARE(readOut.replyOf(key("TURA")), std::nullopt);
    QVERIFY(readOut.replyOf(key("KBOS")).has_value());

    // One setting alone: its reply, and no chain after it.
    device->clearBehaviours();
    device->received.clear();
    readOut.ask(key("HALR"));
    QVERIFY(finished.wait(kDoneTimeoutMs));
    QCOMPARE(device->receivedBytes(), QList<QByteArray>{"?HALR"});
}

void TestSettingsLink::runUpload(road::PacedUpload &upload, QTimer &pacer, std::function<void()> onSent)
{
    connect(&pacer, &QTimer::timeout, this, [&, onSent] {
        steps << upload.sendNext();
        stepTimes << clock.elapsed();
        if (steps.last() == road::PacedUpload::Step::Sent && onSent)
            onSent();
    });
    QTRY_VERIFY_WITH_TIMEOUT(!upload.running(), kDoneTimeoutMs);
}

void TestSettingsLink::uploadIsPacedInUploadOrder()
{
    QTimer pacer;
    road::PacedUpload upload(port.get(), &pacer, kSpacingMs);
    // Given in the read-out's order; sent in the upload's.
    road::Values values;
    for (const settings::Key &k : settings::readout()) {
        if (k.uploadRank >= 0)
            values.append({&k, settings::parseValue(k, QString::fromLatin1(k.factoryReply)).word});
    }
    const qint64 pressedAt = clock.elapsed();
    upload.start(values);
    // A busy machine holds the event loop once for a turn and a half: the
    // turn after that must still wait its full time.
    int sent = 0;
    runUpload(upload, pacer, [&sent] {
        if (++sent == 2)
            QThread::msleep(kSpacingMs * 3 / 2);
    });
    QList<QByteArray> expected;
    for (const settings::Key *k : settings::keys())
        expected << settings::setCommand(*k, settings::parseValue(*k, QString::fromLatin1(k->factoryReply)).word);
    QCOMPARE(device->receivedBytes(), expected);
    QCOMPARE(upload.commands(), expected);
    QCOMPARE(steps.size(), expected.size() + 1);
    QCOMPARE(steps.last(), road::PacedUpload::Step::Done);
    // The first after one turn, each a full turn after the one before (a
    // turn that fired late is no reason for the next to come early), Done a
    // turn after the last.
    QVERIFY2(stepTimes.first() - pressedAt >= kMinTurnMs, qPrintable(QString::number(stepTimes.first() - pressedAt)));
    for (int i = 1; i < stepTimes.size(); ++i)
        QVERIFY2(stepTimes[i] - stepTimes[i - 1] >= kMinTurnMs, qPrintable(QString::number(i)));

    // At once, when asked: the first leaves without a turn, the rest paced.
    device->received.clear();
    steps.clear();
    stepTimes.clear();
    const qint64 againAt = clock.elapsed();
    upload.start({{&key("RPML"), 7000}, {&key("KSBM"), 0}}, road::PacedUpload::First::AtOnce);
    QTRY_VERIFY_WITH_TIMEOUT(!upload.running(), kDoneTimeoutMs);
    QCOMPARE(device->receivedBytes(),
             (QList<QByteArray>{settings::setCommand(key("KSBM"), 0), settings::setCommand(key("RPML"), 7000)}));
    QCOMPARE(steps.size(), 3);
    QVERIFY2(stepTimes.first() - againAt < kMinTurnMs, qPrintable(QString::number(stepTimes.first() - againAt)));
    QVERIFY(stepTimes[1] - stepTimes[0] >= kMinTurnMs);
}

void TestSettingsLink::lostLinkMidUploadIsAFailure()
{
    QTimer pacer;
    road::PacedUpload upload(port.get(), &pacer, kSpacingMs);
    road::Values values;
    for (const settings::Key *k : settings::keys())
        values.append({k, 1});
    upload.start(values);
    runUpload(upload, pacer, [&] {
        if (upload.sentCount() == 2)
            device->unplug();
    });
    QCOMPARE(steps.last(), road::PacedUpload::Step::Failed);
    QVERIFY(!steps.contains(road::PacedUpload::Step::Done));
    QVERIFY(upload.sentCount() < values.size());
    QVERIFY(upload.lastKey());
    QVERIFY(!upload.running());
}

void TestSettingsLink::readBackNamesWhatWasNotTaken()
{
    device->ignoredSettings.insert("RPML");
    QTimer pacer;
    road::PacedUpload upload(port.get(), &pacer, kSpacingMs);
    road::ReadOut readBack(port.get(), kQuiet);
    connect(port.get(), &QSerialPort::readyRead, &readBack, [&] { readBack.take(port->readAll()); });
    QSignalSpy finished(&readBack, &road::ReadOut::finished);
    const road::Values values{{&key("RPML"), 7200}, {&key("TURA"), settings::parseValue(key("TURA"), "1.75").word}};
    connect(&pacer, &QTimer::timeout, this, [&] {
        if (upload.sendNext() == road::PacedUpload::Step::Done)
            readBack.start();
    });
    upload.start(values);
    QVERIFY(finished.wait(kDoneTimeoutMs));
    const QList<road::Mismatch> found = road::mismatches(upload.values(), readBack);
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().key, &key("RPML"));
    QCOMPARE(found.first().sent, 7200u);
    QCOMPARE(found.first().read, std::optional<QString>(QStringLiteral("6500")));
    // A setting the device never answered is not taken either.
    QHash<QByteArray, QString> replies = readBack.replies();
    replies.remove("TURA");
    QCOMPARE(road::mismatches(values, replies).size(), 2);
    QCOMPARE(road::mismatches(values, replies).last().read, std::nullopt);
}

QTEST_GUILESS_MAIN(TestSettingsLink)
#include "tst_settingslink.moc"
