// SPDX-License-Identifier: GPL-3.0-or-later
// One update from the source to the settings put back, against a K931 that
// answers at once and a bootloader whose answers are set beforehand: which
// device is written, which kept settings go where, and what each failure
// leaves behind.
#include "firmwareupdate.h"

#include "datafolder.h"
#include "firmwaresource.h"
#include "hexfile.h"
#include "readonlyfolder.h"
#include "scriptedbackend.h"

#include <QtTest>

using Update = road::FirmwareUpdate;
using Step = Update::Step;
using Failure = Update::Failure;

namespace {

const QString kSentBoot = QStringLiteral("206436955246");
const QString kAnotherK931 = QStringLiteral("2069369B5246");
const QString kAThirdK931 = QStringLiteral("3671345F3033");
const QString kOldVersion = QStringLiteral("K931 V1.5 Boost");
const QString kNewVersion = QStringLiteral("K931 V1.6 Boost");
constexpr quint32 kOwnersRpm = 7000;
constexpr quint32 kDefaultRpm = 6000;

const settings::Key *rpm()
{
    return settings::findKey(QStringLiteral("rpm"));
}

// A K931 that answers every request before the call returns, as the
// command line's does.
class FakeK931 : public road::K931Link {
public:
    bool connected = true;
    bool holdsUploads = true;
    QString serial = kSentBoot;
    QString port = QStringLiteral("/dev/ttyACM0");
    QString firmware = kOldVersion;
    road::SettingValues held{{rpm(), kOwnersRpm}};
    int boots = 0;
    QList<road::SettingValues> uploads;

    bool present() const override { return connected; }
    void readOut() override
    {
        if (connected)
            emit readOutCompleted();
        else
            emit linkLost(QStringLiteral("sem resposta"));
    }
    QString serialNumber() const override { return serial; }
    QString portName() const override { return port; }
    QString version() const override { return firmware; }
    bool lambda() const override { return false; }
    road::SettingValues values() const override { return held; }
    bool sendBoot() override
    {
        ++boots;
        connected = false;
        return true;
    }
    void upload(const road::SettingValues &values) override
    {
        uploads << values;
        if (holdsUploads)
            held = values;
        emit uploadEnded(holdsUploads, holdsUploads ? QString() : QStringLiteral("RPM"));
    }
    // The owner re-plugs it: the new firmware with its defaults.
    void comeBackUpdated()
    {
        connected = true;
        firmware = kNewVersion;
        held = {{rpm(), kDefaultRpm}};
    }
};

road::UpdateConfiguration fastRoad()
{
    road::UpdateConfiguration c;
    c.stepDelayMs = 0;
    c.bootloaderWaitMs = 400;
    c.bootloaderPollMs = 5;
    c.bootloaderSettleMs = 50;
    c.returnWaitMs = 300;
    c.returnPollMs = 5;
    c.applicationStartMs = 0;
    return c;
}

struct Ran {
    Update::Outcome outcome;
    QList<Step> steps;
    QList<Update::Question> questions;
};

// Runs one update to its end; each question is answered by `answers`,
// after the signal, as a front end does.
Ran run(FakeK931 &link, road::UpdateOrder order,
        const std::function<bool(Update::Question)> &answers = [](Update::Question) { return true; })
{
    Ran ran;
    bool ended = false;
    Update update(&link, std::move(order), fastRoad());
    QObject::connect(&update, &Update::stepChanged, [&](Step step) { ran.steps << step; });
    QObject::connect(&update, &Update::questionAsked, [&](Update::Question question, const QString &) {
        ran.questions << question;
        QTimer::singleShot(0, &update, [&update, &answers, question] { update.answer(answers(question)); });
    });
    QObject::connect(&update, &Update::finished, [&](const Update::Outcome &outcome) {
        ran.outcome = outcome;
        ended = true;
    });
    update.start();
    if (!QTest::qWaitFor([&] { return ended; }, 10000))
        qWarning("the update never ended");
    return ran;
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    file.write(bytes);
    return path;
}

QByteArray runnableHex()
{
    flashing::FirmwareImage image;
    image.segments.push_back({0x08000000, runnableBytes(4096, 7)});
    return QByteArray::fromStdString(toIntelHex(image));
}


} // namespace

class TestFirmwareUpdate : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        home = std::make_unique<QTemporaryDir>();
        qputenv("XDG_DATA_HOME", QFile::encodeName(home->path()));
        auto owned = std::make_unique<ScriptedBackend>();
        backend = owned.get();
        scope = std::make_unique<BackendScope>(std::move(owned));
        // "BOOT" brings up the bootloader of the chip it went to.
        backend->serials = {kSentBoot.toStdString()};
        hex = writeFile(QDir(home->path()).filePath(QStringLiteral("K931.hex")), runnableHex());
        QVERIFY(!hex.isEmpty());
    }
    void cleanup() { scope.reset(); }

    // Settings kept by an earlier update wait in the data folder; this
    // update could keep none and went on: it offers nothing, least of all
    // the earlier file, which stays as it was.
    void anEarlierUpdatesFileIsNeverOffered()
    {
        QString why;
        const QString earlier = road::keepSettings(kSentBoot, kOldVersion, false, {{rpm(), 6500}}, why);
        QVERIFY2(!earlier.isEmpty(), qPrintable(why));
        if (!testfolders::makeReadOnly(road::keptSettingsFolder()))
            QSKIP("the kept settings folder cannot be made read-only here");
        FakeK931 link;
        backend->deviceCount = 1;
        backend->duringWrite = [&link] { link.comeBackUpdated(); };
        road::UpdateOrder order;
        order.file = hex;
        const Ran ran = run(link, order);
        testfolders::makeWritable(road::keptSettingsFolder());
        QVERIFY2(ran.outcome.ok(), qPrintable(ran.outcome.reason));
        QCOMPARE(ran.questions, QList<Update::Question>{Update::Question::ContinueWithoutCopy});
        QVERIFY(ran.outcome.written);
        QVERIFY(!ran.outcome.restored);
        QVERIFY(ran.outcome.keptSettings.isEmpty());
        QVERIFY(link.uploads.isEmpty());
        const auto kept = road::readKeptSettings(earlier, why);
        QVERIFY(kept && !kept->offered);
    }

    // download, check, keep, "BOOT", bootloader, write, re-plug, restore:
    // the values read back equal, and only then the kept file goes.
    void theWholeRoadPutsTheSettingsBack()
    {
        const QString source = QDir(home->path()).filePath(QStringLiteral("source"));
        QVERIFY(QDir().mkpath(source));
        writeFile(QDir(source).filePath(QStringLiteral("data.json")), R"({"Modelo": ["K931"], "Version": "1.6"})");
        writeFile(QDir(source).filePath(QStringLiteral("K931_OBD_Boost.hex")), runnableHex());
        FakeK931 link;
        backend->deviceCount = 1;
        backend->duringWrite = [&link] { link.comeBackUpdated(); };
        road::UpdateOrder order;
        order.server = road::firmwareSource(source).baseUrl;
        order.type = QStringLiteral("OBD + Boost");
        order.workFolder = QDir(home->path()).filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(order.workFolder));
        const Ran ran = run(link, order);
        QVERIFY2(ran.outcome.ok(), qPrintable(ran.outcome.reason));
        const QList<Step> road{Step::Description, Step::Download, Step::FileCheck, Step::ReadOut,
                               Step::KeepSettings, Step::Boot, Step::WaitForBootloader, Step::Connect,
                               Step::Write, Step::WaitForK931, Step::ReadOutAgain, Step::RestoreQuestion,
                               Step::Restore};
        QCOMPARE(ran.steps, road);
        QCOMPARE(ran.questions, QList<Update::Question>{Update::Question::RestoreKeptSettings});
        QCOMPARE(link.boots, 1);
        const road::SettingValues owners{{rpm(), kOwnersRpm}};
        QCOMPARE(link.uploads, QList<road::SettingValues>{owners});
        QVERIFY(ran.outcome.written && ran.outcome.restored);
        QVERIFY(road::keptSettingsOf(kSentBoot).isEmpty()); // held: forgotten
        QVERIFY(QDir(order.workFolder).isEmpty());           // the download never lingers
    }

    // Another K931 plugged in while the restore question was open gets
    // nothing; so does one whose values did not read back. The file stays.
    void theFileGoesOnlyIntoItsDeviceHoldingIt_data()
    {
        QTest::addColumn<bool>("swapped");
        QTest::addColumn<QString>("pluggedIn"); // its serial number
        QTest::addColumn<int>("failure");
        QTest::newRow("another K931") << true << kAnotherK931 << int(Failure::DeviceSwapped);
        // No serial number to tell it by: its port tells it apart.
        QTest::newRow("one without serial number") << true << QString() << int(Failure::DeviceSwapped);
        QTest::newRow("not held") << false << QString() << int(Failure::NotHeld);
    }
    void theFileGoesOnlyIntoItsDeviceHoldingIt()
    {
        QFETCH(bool, swapped);
        QFETCH(QString, pluggedIn);
        QFETCH(int, failure);
        FakeK931 link;
        link.holdsUploads = swapped;
        backend->deviceCount = 1;
        backend->duringWrite = [&link] { link.comeBackUpdated(); };
        road::UpdateOrder order;
        order.file = hex;
        const Ran ran = run(link, order, [&](Update::Question question) {
            if (question == Update::Question::RestoreKeptSettings && swapped) {
                link.serial = pluggedIn;
                link.port = QStringLiteral("/dev/ttyACM1");
            }
            return true;
        });
        QCOMPARE(int(ran.outcome.failure), failure);
        QVERIFY(ran.outcome.written);
        QVERIFY(!ran.outcome.restored);
        QCOMPARE(link.uploads.size(), swapped ? 0 : 1);
        QVERIFY(!ran.outcome.keptSettings.isEmpty());
        QVERIFY(QFile::exists(ran.outcome.keptSettings));
    }

    // A run found the device in its bootloader (an earlier one was cut
    // short): what was kept for it is found in the data folder, offered
    // once, and the next recovery does not offer it again.
    void aRecoveryFindsKeptSettingsOnce()
    {
        QString why;
        const QString kept = road::keepSettings(kSentBoot, kOldVersion, false, {{rpm(), kOwnersRpm}}, why);
        QVERIFY2(!kept.isEmpty(), qPrintable(why));
        FakeK931 link;
        link.connected = false;
        backend->deviceCount = 1;
        backend->duringWrite = [&link] { link.comeBackUpdated(); };
        road::UpdateOrder order;
        order.file = hex;
        {
            // Asked, never answered (the program ended at the question):
            // the next recovery asks again.
            bool asked = false;
            Update update(&link, order, fastRoad());
            QObject::connect(&update, &Update::questionAsked, [&asked] { asked = true; });
            update.start();
            QVERIFY(QTest::qWaitFor([&asked] { return asked; }, 10000));
        }
        link.connected = false;
        const auto no = [](Update::Question) { return false; };
        Ran ran = run(link, order, no);
        QVERIFY2(ran.outcome.ok(), qPrintable(ran.outcome.reason));
        QCOMPARE(ran.questions, QList<Update::Question>{Update::Question::RestoreKeptSettings});
        QCOMPARE(ran.outcome.keptSettings, kept);

        link.connected = false;
        ran = run(link, order, no);
        QVERIFY2(ran.outcome.ok(), qPrintable(ran.outcome.reason));
        QVERIFY(ran.questions.isEmpty());
        QVERIFY(QFile::exists(kept)); // it stays for an import
        QCOMPARE(link.boots, 0);

        // Named by the owner, the same file goes in and stays: only a file
        // the update kept or found itself is forgotten.
        link.connected = false;
        order.restore = kept;
        ran = run(link, order);
        QVERIFY2(ran.outcome.ok() && ran.outcome.restored, qPrintable(ran.outcome.reason));
        QVERIFY(!ran.outcome.keptByProgram);
        QVERIFY(QFile::exists(kept));
    }

    // Two K931s, one left in its bootloader: after "BOOT" only the one sent
    // it is written. Two bootloaders, neither of them its own: nothing is
    // erased, and the reason says why.
    void onlyTheBootloaderOfTheDeviceSentBootIsWritten_data()
    {
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("written"); // empty: none
        QTest::newRow("the other listed first") << QStringList{kAnotherK931, kSentBoot} << QStringLiteral("USB1");
        QTest::newRow("neither is it") << QStringList{kAnotherK931, kAThirdK931} << QString();
    }
    void onlyTheBootloaderOfTheDeviceSentBootIsWritten()
    {
        QFETCH(QStringList, listed);
        QFETCH(QString, written);
        backend->deviceCount = int(listed.size());
        backend->serials.clear();
        for (const QString &serial : listed)
            backend->serials.push_back(serial.toStdString());
        FakeK931 link;
        backend->duringWrite = [&link] { link.comeBackUpdated(); };
        road::UpdateOrder order;
        order.file = hex;
        const Ran ran = run(link, order, [](Update::Question) { return false; });
        if (written.isEmpty()) {
            QCOMPARE(ran.outcome.failure, Failure::NoBootloader);
            QVERIFY(!ran.outcome.reason.isEmpty());
            QVERIFY(backend->connectedIndexes.empty());
            QVERIFY(backend->writtenImages.empty());
            QVERIFY(ran.outcome.inBootloader && !ran.outcome.flashChanged);
        } else {
            QVERIFY2(ran.outcome.ok(), qPrintable(ran.outcome.reason));
            QCOMPARE(backend->connectedIndexes, std::vector<std::string>{written.toStdString()});
            QCOMPARE(backend->writtenImages.size(), size_t(1));
        }
    }

    // Each step that fails ends the update there, with its reason, and
    // nothing after it is begun: no "BOOT" for a file that cannot go in, no
    // write without a bootloader, and kept settings stay where they are.
    void eachFailureEndsItsStep_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("failure");
        QTest::addColumn<int>("boots");
        QTest::addColumn<int>("writes");
        QTest::addColumn<bool>("reasoned");
        QTest::newRow("download") << "download" << int(Failure::Download) << 0 << 0 << true;
        QTest::newRow("bad file") << "bad file" << int(Failure::BadFile) << 0 << 0 << true;
        QTest::newRow("no bootloader") << "no bootloader" << int(Failure::NoBootloader) << 1 << 0 << false;
        QTest::newRow("connect refused") << "connect" << int(Failure::ConnectRefused) << 1 << 0 << true;
        QTest::newRow("write fails") << "write" << int(Failure::WriteFailed) << 1 << 1 << true;
        QTest::newRow("never comes back") << "gone" << int(Failure::NeverCameBack) << 1 << 1 << true;
    }
    void eachFailureEndsItsStep()
    {
        QFETCH(QString, fault);
        QFETCH(int, failure);
        QFETCH(int, boots);
        QFETCH(int, writes);
        QFETCH(bool, reasoned);
        FakeK931 link;
        backend->deviceCount = fault == QLatin1String("no bootloader") ? 0 : 1;
        backend->connectResult = fault == QLatin1String("connect") ? flashing::kAccessDenied : 0;
        backend->writeResult = fault == QLatin1String("write") ? flashing::kVerifyMismatch : 0;
        if (fault != QLatin1String("gone"))
            backend->duringWrite = [&link] { link.comeBackUpdated(); };
        road::UpdateOrder order;
        order.file = hex;
        if (fault == QLatin1String("bad file"))
            order.file = writeFile(QDir(home->path()).filePath(QStringLiteral("page.hex")), "<html></html>");
        if (fault == QLatin1String("download")) {
            order.file.clear();
            order.server = road::firmwareSource(QDir(home->path()).filePath(QStringLiteral("empty"))).baseUrl;
            QVERIFY(QDir().mkpath(QDir(home->path()).filePath(QStringLiteral("empty"))));
            order.workFolder = home->path();
        }
        const Ran ran = run(link, order);
        QCOMPARE(int(ran.outcome.failure), failure);
        QCOMPARE(!ran.outcome.reason.isEmpty(), reasoned);
        QCOMPARE(link.boots, boots);
        QCOMPARE(int(backend->writtenImages.size()), writes);
        QVERIFY(link.uploads.isEmpty());
        // A write's failure carries its code and its words; a refused file
        // its check's, so that a front end can word it.
        if (fault == QLatin1String("write") || fault == QLatin1String("connect"))
            QCOMPARE(ran.outcome.code, fault == QLatin1String("write") ? int(flashing::kVerifyMismatch)
                                                                      : int(flashing::kAccessDenied));
        if (fault == QLatin1String("bad file"))
            QVERIFY(ran.outcome.code != flashing::kOk && !ran.outcome.fileProblem.isEmpty()
                    && ran.outcome.reason.contains(ran.outcome.fileProblem));
        QCOMPARE(ran.outcome.inBootloader, boots == 1 && fault != QLatin1String("gone"));
        // Kept before "BOOT", the settings outlive any failure after it.
        if (boots == 1)
            QVERIFY(QFile::exists(ran.outcome.keptSettings));
        else
            QVERIFY(road::keptSettingsOf(kSentBoot).isEmpty());
    }

    // The window's model box names the file whatever the description
    // lists, also nothing at all: the type's suffix alone is asked for.
    void aModelAsGivenIsAskedForUnlisted()
    {
        const QString source = QDir(home->path()).filePath(QStringLiteral("source"));
        QVERIFY(QDir().mkpath(source));
        QVERIFY(!writeFile(QDir(source).filePath(QStringLiteral("data.json")),
                           R"({"Modelo": [], "Version": "1.6"})").isEmpty());
        FakeK931 link;
        road::UpdateOrder order;
        order.server = road::firmwareSource(source).baseUrl;
        order.type = QStringLiteral("OBD");
        order.workFolder = home->path();
        order.modelAsGiven = true;
        const Ran ran = run(link, order);
        QCOMPARE(ran.outcome.failure, Failure::Download);
        QVERIFY2(ran.outcome.download.requested.toString().endsWith(QStringLiteral("/_OBD.hex")),
                 qPrintable(ran.outcome.download.requested.toString()));
        QCOMPARE(link.boots, 0);
        order.modelAsGiven = false;
        QCOMPARE(run(link, order).outcome.failure, Failure::NoSuchModel);
    }

    // Stopped before "BOOT", the device still holds what was kept of it:
    // the file goes. Stopped while waiting for the bootloader after "BOOT":
    // the device still holds its firmware, nothing was erased, the kept
    // settings stay.
    void aStopWhileWaitingErasesNothing()
    {
        FakeK931 link;
        road::UpdateOrder order;
        order.file = hex;
        {
            Update early(&link, order, fastRoad());
            std::optional<Update::Outcome> outcome;
            connect(&early, &Update::finished, [&outcome](const Update::Outcome &ended) { outcome = ended; });
            connect(&early, &Update::settingsKept, &early, &Update::stop);
            early.start();
            QTRY_VERIFY(outcome);
            QCOMPARE(outcome->failure, Failure::Stopped);
            QCOMPARE(link.boots, 0);
            QVERIFY(outcome->keptSettings.isEmpty());
            QVERIFY(road::keptSettingsOf(kSentBoot).isEmpty());
        }
        Update update(&link, order, fastRoad());
        std::optional<Update::Outcome> outcome;
        connect(&update, &Update::finished, [&outcome](const Update::Outcome &ended) { outcome = ended; });
        update.start();
        QTRY_COMPARE(update.step(), Step::WaitForBootloader);
        update.stop();
        QVERIFY(outcome);
        QCOMPARE(outcome->failure, Failure::Stopped);
        QVERIFY(outcome->inBootloader && !outcome->flashChanged);
        QVERIFY(backend->writtenImages.empty());
        QVERIFY(QFile::exists(outcome->keptSettings));
    }

    // A stop asked in the middle of the write (the window keeps its events
    // going for the progress) ends the update only once the write is
    // whole, and says it was written.
    void aStopDuringTheWriteWaitsForIt()
    {
        FakeK931 link;
        backend->deviceCount = 1;
        road::UpdateOrder order;
        order.file = hex;
        Update update(&link, order, fastRoad());
        QList<Update::Outcome> outcomes;
        connect(&update, &Update::finished, [&outcomes](const Update::Outcome &ended) { outcomes << ended; });
        bool endedDuringWrite = false;
        backend->duringWrite = [&] {
            update.stop();
            endedDuringWrite = !outcomes.isEmpty();
        };
        update.start();
        QTRY_COMPARE(outcomes.size(), 1);
        QVERIFY(!endedDuringWrite);
        QCOMPARE(outcomes[0].failure, Failure::Stopped);
        QVERIFY(outcomes[0].written && !outcomes[0].inBootloader);
        QTest::qWait(50);
        QCOMPARE(outcomes.size(), 1);
    }

private:
    std::unique_ptr<QTemporaryDir> home;
    ScriptedBackend *backend = nullptr;
    std::unique_ptr<BackendScope> scope;
    QString hex;
};

QTEST_GUILESS_MAIN(TestFirmwareUpdate)
#include "tst_firmwareupdate.moc"
