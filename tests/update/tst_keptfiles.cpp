// SPDX-License-Identifier: GPL-3.0-or-later
// What the program keeps for the owner, in a data folder that others may
// also write to: strangers' files named like copies, a clock that was
// ahead, links, pipes, and the copy an owner goes back to.
#include "datafolder.h"
#include "firmwarecopies.h"
#include "keptsettings.h"
#include "readonlyfolder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QtTest>

#include <functional>
#include <limits>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

flashing::FirmwareImage someFlash(uint8_t fill)
{
    flashing::FirmwareImage image;
    image.segments.push_back({0x08000000, std::vector<uint8_t>(64, fill)});
    return image;
}

QString keepCopy(const QString &folder, road::CopyOrigin origin, const QString &writing = QString())
{
    road::FirmwareCopyKeeper keeper({folder, QStringLiteral("K931 V1.5"), origin, writing});
    keeper.keep(someFlash(0x11));
    return keeper.path();
}

QStringList paths(const QList<road::FirmwareCopy> &copies)
{
    QStringList list;
    for (const road::FirmwareCopy &copy : copies)
        list << copy.path;
    return list;
}

QStringList newestFirst(QStringList made)
{
    std::reverse(made.begin(), made.end());
    return made;
}

void touch(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(":00000001FF\n");
}

QString indexPath(const QString &folder)
{
    return QDir(folder).filePath(QStringLiteral("copias.json"));
}

// The index's entries, newest first as written, changed by `edit`.
void editIndex(const QString &folder, const std::function<void(QJsonArray &)> &edit)
{
    QFile index(indexPath(folder));
    QVERIFY(index.open(QIODevice::ReadOnly));
    QJsonObject root = QJsonDocument::fromJson(index.readAll()).object();
    index.close();
    QJsonArray copies = root.value(QStringLiteral("copies")).toArray();
    edit(copies);
    root.insert(QStringLiteral("copies"), copies);
    QVERIFY(index.open(QIODevice::WriteOnly | QIODevice::Truncate));
    index.write(QJsonDocument(root).toJson());
}

void setEntry(QJsonArray &copies, int i, const char *field, const QJsonValue &value)
{
    QJsonObject entry = copies.at(i).toObject();
    entry.insert(QLatin1String(field), value);
    copies.replace(i, entry);
}

int hexFiles(const QString &folder)
{
    return int(QDir(folder).entryList({QStringLiteral("*.hex")}, QDir::Files).size());
}


} // namespace

class TestKeptFiles : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        home = std::make_unique<QTemporaryDir>();
        qputenv("XDG_DATA_HOME", QFile::encodeName(home->path()));
        folder = road::backupFolder();
        QVERIFY(QDir().mkpath(folder));
    }

    // A stranger's file shaped like a copy is never removed, whatever the
    // count; the program's own are, oldest first, down to the newest ten.
    void onlyTheProgramsOwnCopiesAreRotated()
    {
        const QString stranger = QDir(folder).filePath(QStringLiteral("2024-05-01_120000_my_tuned_map.hex"));
        touch(stranger);
        QStringList made;
        for (int i = 0; i < road::kFirmwareCopiesKept + 3; ++i)
            made << keepCopy(folder, road::CopyOrigin::Unknown);
        QVERIFY(QFile::exists(stranger));
        QCOMPARE(paths(road::listFirmwareCopies(folder).copies), newestFirst(made.mid(3)));
        QCOMPARE(QDir(folder).entryList({QStringLiteral("*.hex")}, QDir::Files).size(), road::kFirmwareCopiesKept + 1);
    }

    // Copies written while the clock was years ahead still count as older
    // than the one made now: the order is the one they were written in.
    void aClockAheadNeverRemovesTheNewCopy()
    {
        QStringList made;
        for (int i = 0; i < road::kFirmwareCopiesKept; ++i)
            made << keepCopy(folder, road::CopyOrigin::Unknown);
        QFile index(QDir(folder).filePath(QStringLiteral("copias.json")));
        QVERIFY(index.open(QIODevice::ReadOnly));
        QJsonObject root = QJsonDocument::fromJson(index.readAll()).object();
        index.close();
        QJsonArray copies = root.value(QStringLiteral("copies")).toArray();
        for (auto entry : copies) {
            QJsonObject copy = entry.toObject();
            copy.insert(QStringLiteral("written"), QStringLiteral("2099-01-01T00:00:00"));
            entry = copy;
        }
        root.insert(QStringLiteral("copies"), copies);
        QVERIFY(index.open(QIODevice::WriteOnly | QIODevice::Truncate));
        index.write(QJsonDocument(root).toJson());
        index.close();
        for (const QString &path : made) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QDateTime(QDate(2099, 1, 1), QTime(0, 0)), QFileDevice::FileModificationTime));
        }
        road::FirmwareCopyKeeper keeper({folder, QStringLiteral("K931 V1.5"), road::CopyOrigin::Unknown, {}});
        keeper.keep(someFlash(0x22));
        QVERIFY(keeper.report().startsWith(QStringLiteral("Cópia do firmware anterior guardada em ") + keeper.path()));
        QVERIFY(QFile::exists(keeper.path()));
        QCOMPARE(paths(road::listFirmwareCopies(folder).copies), newestFirst(made.mid(1) << keeper.path()));
    }

    // Going back to an old copy keeps it, and copies of a half-written
    // flash never push out the good one taken before "BOOT".
    void theCopiesAnOwnerNeedsStay()
    {
        const QString good = keepCopy(folder, road::CopyOrigin::RunningFirmware);
        QStringList made;
        for (int i = 0; i < road::kFirmwareCopiesKept; ++i)
            made << keepCopy(folder, road::CopyOrigin::FoundInBootloader);
        QVERIFY(QFile::exists(good));
        const QString oldest = made.first();
        for (int i = 0; i < 4; ++i)
            keepCopy(folder, road::CopyOrigin::FoundInBootloader, oldest);
        QVERIFY(QFile::exists(good));
        QVERIFY(QFile::exists(oldest));
        QVERIFY(paths(road::listFirmwareCopies(folder).copies).contains(oldest));
    }

    // Links, pipes and an index that names places outside the folder: no
    // file outside is touched, nothing blocks, the listing goes on.
    void aHostileFolderLosesNothing()
    {
        const QString outside = home->filePath(QStringLiteral("outside.hex"));
        touch(outside);
        for (int i = 0; i < 3; ++i)
            keepCopy(folder, road::CopyOrigin::Unknown);
        // A dangling link named like a copy, a pipe, and an index entry
        // pointing out of the folder.
        QVERIFY(QFile::link(home->filePath(QStringLiteral("gone")),
                            QDir(folder).filePath(QStringLiteral("2020-01-01_000000.hex"))));
        QCOMPARE(::mkfifo(QFile::encodeName(QDir(folder).filePath(QStringLiteral("fifo.hex"))).constData(), 0600), 0);
        QFile index(QDir(folder).filePath(QStringLiteral("copias.json")));
        QVERIFY(index.open(QIODevice::ReadOnly));
        QByteArray text = index.readAll();
        index.close();
        text.replace("\"copies\": [", "\"copies\": [{\"file\": \"../outside.hex\", \"sequence\": 0, \"origin\": \"desconhecida\"},"
                                      "{\"file\": \"2020-01-01_000000.hex\", \"sequence\": 1},{\"file\": \"fifo.hex\", \"sequence\": 2},");
        QVERIFY(index.open(QIODevice::WriteOnly | QIODevice::Truncate));
        index.write(text);
        index.close();
        for (int i = 0; i < road::kFirmwareCopiesKept + 2; ++i)
            keepCopy(folder, road::CopyOrigin::Unknown);
        QVERIFY(QFile::exists(outside));
        QVERIFY(QFileInfo(QDir(folder).filePath(QStringLiteral("2020-01-01_000000.hex"))).isSymLink());
        QVERIFY(QFileInfo::exists(QDir(folder).filePath(QStringLiteral("fifo.hex"))));
        QCOMPARE(road::listFirmwareCopies(folder).copies.size(), road::kFirmwareCopiesKept);

        // The index itself a pipe: read without waiting, nothing removed.
        QVERIFY(QFile::remove(index.fileName()));
        QCOMPARE(::mkfifo(QFile::encodeName(index.fileName()).constData(), 0600), 0);
        const int before = int(QDir(folder).entryList({QStringLiteral("*.hex")}, QDir::Files).size());
        road::FirmwareCopyKeeper keeper({folder, QString(), road::CopyOrigin::Unknown, {}});
        keeper.keep(someFlash(0x33));
        QVERIFY2(keeper.report().contains(QStringLiteral("nenhuma cópia antiga foi apagada")), qPrintable(keeper.report()));
        QCOMPARE(int(QDir(folder).entryList({QStringLiteral("*.hex")}, QDir::Files).size()), before + 1);

        // The folder a link into another place: followed, and said.
        const QString elsewhere = home->filePath(QStringLiteral("stick"));
        QVERIFY(QDir().mkpath(elsewhere));
        const QString linked = home->filePath(QStringLiteral("linked"));
        QVERIFY(QFile::link(elsewhere, linked));
        road::FirmwareCopyKeeper viaLink({linked, QString(), road::CopyOrigin::Unknown, {}});
        viaLink.keep(someFlash(0x44));
        QVERIFY2(viaLink.report().contains(QStringLiteral("é um link para ") + elsewhere), qPrintable(viaLink.report()));
    }

    // An index that cannot be read is set aside, never replaced by one that
    // forgets what it listed; the copies it named stay.
    void anUnreadableIndexIsSetAside_data()
    {
        QTest::addColumn<QByteArray>("broken");
        QTest::newRow("cut short") << QByteArray("{\"format\": 1, \"copies\": [{\"file\": ");
        QTest::newRow("oversized") << QByteArray("{\"format\": 1, \"copies\": []}").append(2 * 1024 * 1024, ' ');
    }
    void anUnreadableIndexIsSetAside()
    {
        QFETCH(QByteArray, broken);
        const QString good = keepCopy(folder, road::CopyOrigin::RunningFirmware);
        QStringList old{good};
        for (int i = 0; i < 3; ++i)
            old << keepCopy(folder, road::CopyOrigin::Unknown);
        QFile index(indexPath(folder));
        QVERIFY(index.open(QIODevice::WriteOnly | QIODevice::Truncate));
        index.write(broken);
        index.close();
        road::FirmwareCopyKeeper keeper({folder, QStringLiteral("K931 V1.5"), road::CopyOrigin::Unknown, {}});
        keeper.keep(someFlash(0x55));
        const QStringList aside = QDir(folder).entryList({QStringLiteral("copias*.json")}, QDir::Files);
        QCOMPARE(aside.size(), 2);
        const QString setAside = QDir(folder).filePath(aside.at(aside.at(0) == QLatin1String("copias.json") ? 1 : 0));
        QVERIFY2(keeper.report().contains(setAside), qPrintable(keeper.report()));
        QFile kept(setAside);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), broken);
        const road::CopyListing listing = road::listFirmwareCopies(folder);
        QCOMPARE(paths(listing.copies), QStringList{keeper.path()});
        QVERIFY2(listing.note.contains(setAside), qPrintable(listing.note)); // the older ones are not forgotten
        for (int i = 0; i < road::kFirmwareCopiesKept + 2; ++i)
            keepCopy(folder, road::CopyOrigin::Unknown);
        for (const QString &path : old)
            QVERIFY2(QFile::exists(path), qPrintable(path));
    }

    // Sequences an editor repeated or pushed to the end of their range, and
    // a file listed twice: no copy leaves the index unless it leaves the
    // disk, and the newest stays the newest.
    void aTamperedIndexDropsNoCopy()
    {
        QStringList made;
        for (int i = 0; i < road::kFirmwareCopiesKept; ++i)
            made << keepCopy(folder, road::CopyOrigin::Unknown);
        // Newest first: the oldest takes the sequence of the one above it.
        editIndex(folder, [](QJsonArray &copies) { setEntry(copies, copies.size() - 1, "sequence", 1); });
        made << keepCopy(folder, road::CopyOrigin::Unknown);
        QCOMPARE(road::listFirmwareCopies(folder).copies.size(), road::kFirmwareCopiesKept);
        QCOMPARE(hexFiles(folder), road::kFirmwareCopiesKept);

        editIndex(folder, [](QJsonArray &copies) {
            for (int i = 0; i < copies.size(); ++i)
                setEntry(copies, i, "sequence", std::numeric_limits<qint64>::max() - i);
        });
        QStringList last;
        for (int i = 0; i < 2; ++i)
            last << keepCopy(folder, road::CopyOrigin::Unknown);
        const QStringList listed = paths(road::listFirmwareCopies(folder).copies);
        QCOMPARE(listed.size(), road::kFirmwareCopiesKept);
        QCOMPARE(listed.mid(0, 3), newestFirst(made.mid(made.size() - 1) + last));
        QCOMPARE(hexFiles(folder), road::kFirmwareCopiesKept);

        // The oldest entry names the newest file as well.
        editIndex(folder, [](QJsonArray &copies) {
            setEntry(copies, copies.size() - 1, "file", copies.at(0).toObject().value(QStringLiteral("file")));
        });
        const QString newest = keepCopy(folder, road::CopyOrigin::Unknown);
        QVERIFY(QFile::exists(last.at(1)));
        QCOMPARE(paths(road::listFirmwareCopies(folder).copies).mid(0, 2), (QStringList{newest, last.at(1)}));
    }

    // A lock left by a program that died is taken over; a folder that
    // cannot be written, or an index that cannot be, is said as it is: a
    // copy is said kept only once it is listed.
    void eachObstacleIsSaidAsItIs()
    {
        const pid_t child = fork();
        if (child == 0) {
            QLockFile held(QDir(folder).filePath(QStringLiteral(".copias.lock")));
            _exit(held.lock() ? 0 : 1); // no unlock: the lock stays behind
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QCOMPARE(WEXITSTATUS(status), 0);
        QVERIFY(QFile::exists(QDir(folder).filePath(QStringLiteral(".copias.lock"))));
        road::FirmwareCopyKeeper keeper({folder, QStringLiteral("K931 V1.5"), road::CopyOrigin::Unknown, {}});
        keeper.keep(someFlash(0x66));
        QVERIFY2(keeper.report().startsWith(QStringLiteral("Cópia do firmware anterior guardada em ")),
                 qPrintable(keeper.report()));
        QVERIFY(QDir(folder).mkdir(QStringLiteral(".copias.lock")));
        road::FirmwareCopyKeeper locked({folder, QStringLiteral("K931 V1.5"), road::CopyOrigin::Unknown, {}});
        locked.keep(someFlash(0x66));
        QVERIFY2(locked.report().contains(QStringLiteral("não é um bloqueio deste programa")), qPrintable(locked.report()));
        QVERIFY(QDir(folder).rmdir(QStringLiteral(".copias.lock")));

        QVERIFY(QFile::remove(indexPath(folder)));
        QVERIFY(QDir(folder).mkdir(QStringLiteral("copias.json")));
        road::FirmwareCopyKeeper unlisted({folder, QStringLiteral("K931 V1.5"), road::CopyOrigin::Unknown, {}});
        unlisted.keep(someFlash(0x77));
        QVERIFY(QFile::exists(unlisted.path()));
        QVERIFY2(!unlisted.report().contains(QStringLiteral("guardada em")), qPrintable(unlisted.report()));
        QVERIFY2(unlisted.report().contains(unlisted.path() + QStringLiteral(", mas não")), qPrintable(unlisted.report()));
        QVERIFY(QDir(folder).rmdir(QStringLiteral("copias.json")));

        QVERIFY(testfolders::makeReadOnly(folder));
        road::FirmwareCopyKeeper refused({folder, QStringLiteral("K931 V1.5"), road::CopyOrigin::Unknown, {}});
        refused.keep(someFlash(0x88));
        const QString said = refused.report();
        testfolders::makeWritable(folder);
        QVERIFY2(!said.contains(QStringLiteral("outro programa")), qPrintable(said));
        QVERIFY2(said.contains(QStringLiteral("não é possível gravar na pasta")), qPrintable(said));
    }

    // Every program finds the window's own data folder, and none of them
    // changes the process's name to find it.
    void theDataFolderIsTheWindows()
    {
        const QString own = QCoreApplication::applicationName();
        QCoreApplication::setApplicationName(QStringLiteral("tarvik-config"));
        QSignalSpy renamed(qApp, &QCoreApplication::applicationNameChanged);
        const QString folder = road::dataFolder();
        QCOMPARE(renamed.count(), 0);
        QCoreApplication::setApplicationName(QStringLiteral("tarvik-connect"));
        QCOMPARE(folder, QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
        QCOMPARE(road::dataFolder(), folder);
        QCoreApplication::setApplicationName(own);
    }

    // Kept settings go by device: the newest of this serial number first,
    // none of another; a pipe or a link at a kept file's name is refused at
    // once.
    void keptSettingsKnowTheirDevice()
    {
        const settings::Key *rpm = settings::findKey(QStringLiteral("rpm"));
        QVERIFY(rpm);
        QString why;
        const QString a1 = road::keepSettings(QStringLiteral("AAA"), QStringLiteral("K931 V1.5"), false, {{rpm, 7000}}, why);
        const QString b = road::keepSettings(QStringLiteral("BBB"), QStringLiteral("K931 V1.5"), false, {{rpm, 6000}}, why);
        const QString a2 = road::keepSettings(QStringLiteral("AAA"), QStringLiteral("K931 V1.5"), false, {{rpm, 7600}}, why);
        QVERIFY2(!a1.isEmpty() && !b.isEmpty() && !a2.isEmpty(), qPrintable(why));
        const QList<road::KeptSettings> ofA = road::keptSettingsOf(QStringLiteral("AAA"));
        QCOMPARE(ofA.size(), 2);
        QCOMPARE(ofA.first().path, a2);
        QCOMPARE(ofA.first().contents.values.first().second, 7600u);
        QCOMPARE(road::matchDevice(ofA.first(), QStringLiteral("BBB")), road::DeviceMatch::Other);
        QCOMPARE(road::matchDevice(ofA.first(), QString()), road::DeviceMatch::Unknown);
        // Listed for a restore by the time each records, not by a name
        // another clock gave.
        QFile newest(a2);
        QVERIFY(newest.open(QIODevice::ReadOnly));
        QByteArray bytes = newest.readAll();
        const QByteArray recorded = QJsonDocument::fromJson(bytes).object().value("kept").toString().toUtf8();
        bytes.replace(recorded, "2099-01-01T00:00:00.000");
        const QString renamed = QDir(road::keptSettingsFolder()).filePath(QStringLiteral("2001-01-01_000000_AAA.json"));
        QFile late(renamed);
        QVERIFY(late.open(QIODevice::WriteOnly) && late.write(bytes) == bytes.size());
        late.close();
        const QList<road::KeptSettings> forChip = road::keptSettingsOfChip(QStringLiteral("AAA"));
        QCOMPARE(forChip.size(), 3);
        QCOMPARE(forChip.first().path, renamed);
        QCOMPARE(road::keptSettingsOfChip(QString()).size(), 4);

        const QString pipe = QDir(road::keptSettingsFolder()).filePath(QStringLiteral("pipe.json"));
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        QVERIFY(!road::readKeptSettings(pipe, why));
        QCOMPARE(why, QStringLiteral("não é um arquivo comum"));
        const QString link = QDir(road::keptSettingsFolder()).filePath(QStringLiteral("link.json"));
        QVERIFY(QFile::link(b, link));
        QVERIFY(!road::readKeptSettings(link, why));
        road::forgetKeptSettings(link);
        QVERIFY(QFile::exists(b)); // the link's target is not the program's to remove
    }

private:
    std::unique_ptr<QTemporaryDir> home;
    QString folder;
};

QTEST_GUILESS_MAIN(TestKeptFiles)
#include "tst_keptfiles.moc"
