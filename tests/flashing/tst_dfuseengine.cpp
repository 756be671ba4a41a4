// SPDX-License-Identifier: GPL-3.0-or-later
// The flashing engine against the simulated STM32F446 bootloader, through
// the library's public calls as the windows make them.
#include "dfuseengine.h"
#include "hexfile.h"
#include "programmer.h"
#include "simulatedstm32.h"
#include "intelhex.h"
#include "firmwarefile.h"
#include "memorylayout.h"
#include "textcodec.h"

#include <QTemporaryDir>
#include <QtTest>

#include <thread>

using flashing::FirmwareImage;
using Faults = SimulatedStm32::Faults;
Q_DECLARE_METATYPE(SimulatedStm32::Faults)

namespace {

struct CallbackLog {
    int steps = 0;
    int logs = 0;
    int starts = 0;
    int zeroSteps = 0;
    bool otherThread = false;
    std::thread::id thread;
    QStringList texts;
} callbackLog;

void noteThread()
{
    if (std::this_thread::get_id() != callbackLog.thread)
        callbackLog.otherThread = true;
}

const flashing::DisplayCallbacks kCallbacks{
    [] { ++callbackLog.starts; noteThread(); },
    [](int, const char16_t *text) {
        ++callbackLog.logs;
        callbackLog.texts << QString::fromStdString(flashing::utf16ToUtf8(text));
        noteThread();
    },
    [](int step, int) {
        callbackLog.steps += step;
        callbackLog.zeroSteps += step == 0;
        noteThread();
    }};

FirmwareImage imageAt(uint32_t address, size_t size, uint32_t seed = 1)
{
    FirmwareImage image;
    image.segments.push_back({address, randomBytes(size, seed)});
    return image;
}

} // namespace

class TestDfuseEngine : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void writeReadsBackAndErasesOnlyCoveredSectors();
    void splitImageAndShortBlocks();
    void faults_data();
    void faults();
    void cableFaults_data();
    void cableFaults();
    void imageOutsideFlashIsRefusedBeforeErasing();
    void skipEraseAndNoVerify();
    void binaryImageAtStartAddress();
    void reentrantCallsDuringAWriteAreRefused();
    void backupHoldsWhatTheWriteErases();
    void noCopyNeverStopsTheWrite();
    void stopBeforeTheEraseWritesNothing();

private:
    int write(const FirmwareImage &image, unsigned skipErase = 0, unsigned verify = 1,
              const flashing::WriteHooks &hooks = {});
    int writeFile(const QString &path, unsigned skipErase = 0, unsigned verify = 1);
    QString saveHex(const FirmwareImage &image, const QString &name = QStringLiteral("fw.hex"));
    bool bytesMatch(const FirmwareImage &image) const;

    bool lastFlashChanged = false;
    std::unique_ptr<SimulatedBus> bus;
    std::shared_ptr<SimulatedStm32> device;
    std::unique_ptr<QTemporaryDir> dir;
};

void TestDfuseEngine::init()
{
    bus = std::make_unique<SimulatedBus>();
    device = bus->plugChip();
    dir = std::make_unique<QTemporaryDir>();
    callbackLog = CallbackLog{};
    callbackLog.thread = std::this_thread::get_id();
    flashing::setDisplayCallbacks(kCallbacks);
    flashing::setVerbosityLevel(1);
    flashing::DfuDeviceInfo *list = nullptr;
    QCOMPARE(flashing::getDfuDeviceList(&list, 0xDF11, 0x0483), 1);
    QCOMPARE(flashing::connectDfuBootloader(list[0].usbIndex), 0);
}

void TestDfuseEngine::cleanup()
{
    bus.reset();
    flashing::setDisplayCallbacks({nullptr, nullptr, nullptr});
}

QString TestDfuseEngine::saveHex(const FirmwareImage &image, const QString &name)
{
    QFile file(dir->filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(QByteArray::fromStdString(toIntelHex(image)));
    return file.fileName();
}

int TestDfuseEngine::writeFile(const QString &path, unsigned skipErase, unsigned verify)
{
    return flashing::downloadFile(reinterpret_cast<const char16_t *>(path.utf16()), 0x08000000, skipErase,
                                  verify, u"");
}

int TestDfuseEngine::write(const FirmwareImage &image, unsigned skipErase, unsigned verify,
                           const flashing::WriteHooks &hooks)
{
    const flashing::WriteResult written = flashing::downloadImageWith(image, skipErase, verify, hooks);
    lastFlashChanged = written.flashChanged;
    return written.code;
}

bool TestDfuseEngine::bytesMatch(const FirmwareImage &image) const
{
    for (const auto &segment : image.segments) {
        const auto at = device->flash.begin() + (segment.address - SimulatedStm32::kFlashBase);
        if (!std::equal(segment.data.begin(), segment.data.end(), at))
            return false;
    }
    return true;
}

void TestDfuseEngine::writeReadsBackAndErasesOnlyCoveredSectors()
{
    // Sector 7 holds data of its own that a 100 KiB image must not disturb.
    std::fill(device->flash.end() - 0x20000, device->flash.end(), 0x5A);
    const FirmwareImage image = imageAt(0x08000000, 100 * 1024);
    QCOMPARE(write(image), 0);
    QVERIFY(bytesMatch(image));
    QCOMPARE(device->eraseCounts, (std::array<int, 8>{1, 1, 1, 1, 1, 0, 0, 0}));
    QVERIFY(std::all_of(device->flash.end() - 0x20000, device->flash.end(), [](uint8_t b) { return b == 0x5A; }));
    QVERIFY(!device->massEraseSeen);
    QVERIFY(!device->readUnprotectSeen);
    QVERIFY(!device->readPastEndSeen);
    QCOMPARE(device->state(), flashing::dfu::kDfuIdle);

    QCOMPARE(callbackLog.steps, 100);
    QCOMPARE(callbackLog.starts, 1);
    QVERIFY(callbackLog.logs >= 3);
    QVERIFY(!callbackLog.otherThread);
}

void TestDfuseEngine::splitImageAndShortBlocks()
{
    FirmwareImage image;
    image.segments.push_back({0x08000001, randomBytes(3000, 2)});  // unaligned, short last block
    image.segments.push_back({0x08020000, randomBytes(4096, 3)});  // whole blocks
    image.segments.push_back({0x0807FFF0, randomBytes(16, 4)});    // the last bytes of flash
    QCOMPARE(write(image), 0);
    QVERIFY(bytesMatch(image));
    QCOMPARE(device->eraseCounts, (std::array<int, 8>{1, 0, 0, 0, 0, 1, 0, 1}));
    QVERIFY(!device->readPastEndSeen);
    QCOMPARE(callbackLog.steps, 100);
}

void TestDfuseEngine::faults_data()
{
    QTest::addColumn<Faults>("faults");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("flashUntouched");
    Faults f;
    f.eraseFails = true;
    QTest::newRow("erase fails") << f << int(flashing::kEraseError) << true;
    // The code of a file outside the flash, from the device during the
    // erase: the old firmware may be gone all the same.
    f = {};
    f.eraseRefused = true;
    QTest::newRow("erase refused") << f << int(flashing::kAddressOutsideFlash) << true;
    f = {};
    f.writeFails = true;
    QTest::newRow("write fails") << f << int(flashing::kWriteError) << false;
    f = {};
    f.corruptReadBack = true;
    QTest::newRow("read-back corrupted") << f << int(flashing::kVerifyMismatch) << false;
    f = {};
    f.writeProtectedSector = 2;
    QTest::newRow("write-protected sector") << f << int(flashing::kVerifyMismatch) << false;
    f = {};
    f.readProtected = true;
    QTest::newRow("read protection") << f << int(flashing::kReadProtected) << true;
    // Stalled and lost transfers: cableFaults; a device gone mid-transfer
    // is met through libusb and emulated USB (tst_libusbpath).
}

void TestDfuseEngine::faults()
{
    QFETCH(Faults, faults);
    QFETCH(int, expected);
    QFETCH(bool, flashUntouched);

    const FirmwareImage image = imageAt(0x08000000, 64 * 1024, 7);
    device->faults = faults;
    const int result = write(image);
    QCOMPARE(result, expected);
    QVERIFY(result != 0);
    QVERIFY(lastFlashChanged);
    if (flashUntouched)
        QVERIFY(std::all_of(device->flash.begin(), device->flash.end(), [](uint8_t b) { return b == 0xFF; }));
    QVERIFY(!device->massEraseSeen);
    QVERIFY(!device->readUnprotectSeen);

    // The next write, once the fault is gone, succeeds from whatever state
    // the failure left.
    device->faults = {};
    callbackLog.steps = 0;
    QCOMPARE(write(image), 0);
    QVERIFY(bytesMatch(image));
    QCOMPARE(callbackLog.steps, 100);
}

namespace {

struct ProgressRecord : flashing::ProgressSink {
    void phaseStarted(flashing::Phase, size_t) override {}
    void advanced(double expectedMs) override
    {
        doneMs += expectedMs;
        backwards = backwards || expectedMs < 0;
    }
    double doneMs = 0;
    bool backwards = false;
};

Faults losing(int fromBlock, int count, int every = 1)
{
    Faults f;
    f.lostBlockAnswers = {fromBlock, count, every};
    return f;
}

} // namespace

// A flaky cable, on a 64 KiB image: data blocks 1-32 are written, 33-64
// read back. What the cable loses is sent again, within its bounds; what the
// device refuses is not. `taken`: the data blocks the device saw in all.
void TestDfuseEngine::cableFaults_data()
{
    QTest::addColumn<Faults>("faults");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("lost");
    QTest::addColumn<int>("taken");
    using flashing::kRetriesPerBlock;
    using flashing::kRetriesPerWrite;
    const int ok = flashing::kOk;
    const int usb = flashing::kUsbError;
    QTest::newRow("a block written") << losing(10, 1) << ok << 1 << 65;
    QTest::newRow("a block read back") << losing(40, 1) << ok << 1 << 65;
    QTest::newRow("one block, as often as allowed") << losing(10, kRetriesPerBlock) << ok << kRetriesPerBlock
                                                    << 64 + kRetriesPerBlock;
    QTest::newRow("one block written, once too often")
        << losing(10, kRetriesPerBlock + 2) << usb << kRetriesPerBlock + 1 << 9 + kRetriesPerBlock + 1;
    QTest::newRow("one block read, once too often")
        << losing(40, kRetriesPerBlock + 2) << usb << kRetriesPerBlock + 1 << 39 + kRetriesPerBlock + 1;
    QTest::newRow("every other block, as often as allowed")
        << losing(10, kRetriesPerWrite, 2) << ok << kRetriesPerWrite << 64 + kRetriesPerWrite;
    QTest::newRow("every other block, once too often")
        << losing(10, kRetriesPerWrite + 5, 2) << usb << kRetriesPerWrite + 1 << 10 + 2 * kRetriesPerWrite;
    Faults f;
    f.stallTransfer = 2; // the first erase
    QTest::newRow("an erase stalled") << f << ok << 0 << 64;
    f.stallTransfer = 30; // the status of block 5, taken but not yet written
    QTest::newRow("a status stalled") << f << ok << 0 << 65;
    // The read-back still judges what was written.
    f = losing(10, 1);
    f.corruptReadBack = true;
    QTest::newRow("sent again, then misread") << f << int(flashing::kVerifyMismatch) << 1 << 65;
    f = {};
    f.writeFails = true;
    QTest::newRow("errWRITE is the device's") << f << int(flashing::kWriteError) << 0 << 1;
}

void TestDfuseEngine::cableFaults()
{
    QFETCH(Faults, faults);
    QFETCH(int, expected);
    QFETCH(int, lost);
    QFETCH(int, taken);

    flashing::MemoryLayout layout;
    QVERIFY(flashing::parseMemoryLayout(SimulatedStm32::kFlashLayout, layout));
    flashing::DfuseEngine engine(*device, layout, SimulatedStm32::kTransferSize);
    const FirmwareImage image = imageAt(0x08000000, 64 * 1024, 51);
    if (faults.stallTransfer >= 0)
        faults.stallTransfer += device->transfers;
    device->faults = faults;
    ProgressRecord progress;
    QCOMPARE(engine.write(image, true, true, &progress), expected);
    QCOMPARE(device->lostAnswers, lost);
    QCOMPARE(device->dataBlocks, taken);
    // Each block counted once: the bar never goes past 100 %, and a whole
    // write reaches it without being held back.
    QVERIFY(!progress.backwards);
    const double plannedMs = engine.plan(image, true, true).totalMs();
    QVERIFY(progress.doneMs <= plannedMs * (1 + 1e-9));
    if (expected != flashing::kOk)
        return;
    QCOMPARE(progress.doneMs, plannedMs);
    QVERIFY(bytesMatch(image));
    QCOMPARE(device->eraseCounts, (std::array<int, 8>{1, 1, 1, 1, 0, 0, 0, 0}));
    QCOMPARE(device->state(), flashing::dfu::kDfuIdle);
}

void TestDfuseEngine::imageOutsideFlashIsRefusedBeforeErasing()
{
    const int transfersBefore = device->transfers;
    QCOMPARE(write(imageAt(0x0807FF00, 0x200)), int(flashing::kAddressOutsideFlash));
    QCOMPARE(write(imageAt(0x20000000, 16)), int(flashing::kAddressOutsideFlash));
    FirmwareImage mixed = imageAt(0x08000000, 1024);
    mixed.segments.push_back({0x1FFFC000, randomBytes(16, 9)});
    QCOMPARE(write(mixed), int(flashing::kAddressOutsideFlash));
    QCOMPARE(device->transfers, transfersBefore);
    QCOMPARE(device->eraseCounts, (std::array<int, 8>{}));
    QCOMPARE(callbackLog.steps, 0);
    QVERIFY(!lastFlashChanged);
}

void TestDfuseEngine::skipEraseAndNoVerify()
{
    const FirmwareImage image = imageAt(0x08008000, 4096, 11);
    // Erased flash takes a write without an erase.
    QCOMPARE(write(image, 1, 0), 0);
    QVERIFY(bytesMatch(image));
    QCOMPARE(device->eraseCounts, (std::array<int, 8>{}));
    // Other data over it cannot be programmed without erasing first.
    QCOMPARE(write(imageAt(0x08008000, 4096, 12), 1, 1), int(flashing::kWriteError));
    QCOMPARE(write(imageAt(0x08008000, 4096, 12), 0, 1), 0);
}

void TestDfuseEngine::binaryImageAtStartAddress()
{
    const std::vector<uint8_t> bytes = randomBytes(5000, 21);
    QFile file(dir->filePath(QStringLiteral("fw.BIN")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size()));
    file.close();
    QCOMPARE(writeFile(file.fileName()), 0);
    QVERIFY(std::equal(bytes.begin(), bytes.end(), device->flash.begin()));
}

void TestDfuseEngine::reentrantCallsDuringAWriteAreRefused()
{
    // The callbacks turn the caller's event loop, where another window may
    // try to connect or write: that must not pull the device away.
    static int results[2];
    static bool tried;
    tried = false;
    flashing::setDisplayCallbacks({nullptr, nullptr, [](int, int) {
                                       if (tried)
                                           return;
                                       tried = true;
                                       results[0] = flashing::connectDfuBootloader("1-1");
                                       results[1] = flashing::downloadFile(u"/tmp/other.hex", 0x08000000, 0, 1, u"");
                                   }});
    const FirmwareImage image = imageAt(0x08000000, 8192);
    QCOMPARE(write(image), 0);
    QVERIFY(tried);
    QCOMPARE(results[0], int(flashing::kBusy));
    QCOMPARE(results[1], int(flashing::kBusy));
    QVERIFY(bytesMatch(image));
    QCOMPARE(write(image), 0); // and nothing stays blocked afterwards
}

namespace {

// The old firmware: a pattern over the whole flash that no image repeats.
void fillWithOldFirmware(SimulatedStm32 &chip)
{
    const std::vector<uint8_t> old = randomBytes(chip.flash.size(), 99);
    std::copy(old.begin(), old.end(), chip.flash.begin());
}

// What the engine hands a write's copy, as it hands it.
struct CapturedBackup : flashing::FlashBackup {
    void keep(const FirmwareImage &image) override { old = image; ++calls; }
    void unreadable(int result) override { refused = result; ++calls; }
    FirmwareImage old;
    int refused = 0;
    int calls = 0;
};

} // namespace

// Every sector the write erases, byte for byte, and nothing else; written
// back, it puts the old firmware back exactly.
void TestDfuseEngine::backupHoldsWhatTheWriteErases()
{
    fillWithOldFirmware(*device);
    const std::vector<uint8_t> before = device->flash;
    CapturedBackup backup;
    FirmwareImage image = imageAt(0x08000000, 20 * 1024, 31);   // sectors 0 and 1
    image.segments.push_back({0x08020010, randomBytes(100, 32)}); // sector 5
    QCOMPARE(write(image, 0, 1, {&backup, {}}), 0);
    QVERIFY(bytesMatch(image));
    QCOMPARE(callbackLog.steps, 100);
    QCOMPARE(backup.calls, 1);
    const struct {
        uint32_t start, size;
    } erased[] = {{0x08000000, 0x4000}, {0x08004000, 0x4000}, {0x08020000, 0x20000}};
    QCOMPARE(backup.old.byteCount(), size_t(0x4000 + 0x4000 + 0x20000));
    for (const auto &sector : erased) {
        const auto old = before.begin() + (sector.start - SimulatedStm32::kFlashBase);
        bool found = false;
        for (const auto &segment : backup.old.segments) {
            if (segment.address <= sector.start && segment.end() >= uint64_t(sector.start) + sector.size)
                found = std::equal(old, old + sector.size, segment.data.begin() + (sector.start - segment.address));
        }
        QVERIFY2(found, qPrintable(QString::number(sector.start, 16)));
    }

    // Restored like any firmware file: the old bytes are back everywhere.
    QFile copy(dir->filePath(QStringLiteral("copy.hex")));
    QVERIFY(copy.open(QIODevice::WriteOnly));
    copy.write(QByteArray::fromStdString(flashing::formatIntelHex(backup.old)));
    copy.close();
    QCOMPARE(writeFile(copy.fileName()), 0);
    QVERIFY(device->flash == before);
}

// A device that will not be read: said once, and the write goes on.
void TestDfuseEngine::noCopyNeverStopsTheWrite()
{
    fillWithOldFirmware(*device);
    const FirmwareImage image = imageAt(0x08000000, 8 * 1024, 41);
    CapturedBackup backup;
    // Reading refused: written without a read-back (the same refusal would
    // fail it).
    device->faults.uploadRefused = true;
    QCOMPARE(write(image, 0, 0, {&backup, {}}), 0);
    QVERIFY(bytesMatch(image));
    QCOMPARE(backup.calls, 1);
    QVERIFY(backup.refused != 0);
    QCOMPARE(callbackLog.steps, 100);
}

// Ctrl-C while the file is checked or the copy is read: the write ends
// before its first erase and the flash is as it was.
void TestDfuseEngine::stopBeforeTheEraseWritesNothing()
{
    fillWithOldFirmware(*device);
    const std::vector<uint8_t> before = device->flash;
    CapturedBackup backup;
    int asked = 0;
    const auto stop = [&] { ++asked; return true; };
    QCOMPARE(write(imageAt(0x08000000, 40 * 1024, 61), 0, 1, {&backup, stop}), int(flashing::kStopped));
    QVERIFY(device->flash == before);
    QCOMPARE(asked, 1);
    QCOMPARE(backup.calls, 1); // the copy comes first: what was read is kept
    // Not asked again once the flash changes: a write that began ends.
    asked = 0;
    bool stopNow = false;
    QCOMPARE(write(imageAt(0x08000000, 40 * 1024, 62), 0, 1, {nullptr, [&] { ++asked; return stopNow; }}), 0);
    QCOMPARE(asked, 1);
}

QTEST_GUILESS_MAIN(TestDfuseEngine)
#include "tst_dfuseengine.moc"
