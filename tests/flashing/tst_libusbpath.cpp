// SPDX-License-Identifier: GPL-3.0-or-later
// The flashing library's real device path: LibusbProvider and the engine
// through libusb, down to usbfs ioctls that umockdev hands to the simulated
// bootloader. What only a real device exercised before.
#include "dfu.h"
#include "enginebackend.h"
#include "hexfile.h"
#include "libusbprovider.h"
#include "programmer.h"
#include "scriptedbackend.h"
#include "serialtestbed.h"
#include "usbbootloader.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList logLines;
int callbacks = 0;

const flashing::DisplayCallbacks kCallbacks{
    [] { ++callbacks; },
    [](int, const char16_t *text) {
        ++callbacks;
        logLines << QString::fromUtf16(text);
    },
    [](int, int) { ++callbacks; }};

flashing::FirmwareImage imageOf(size_t bytes, uint32_t seed)
{
    flashing::FirmwareImage image;
    image.segments.push_back({0x08000000, randomBytes(bytes, seed)});
    return image;
}

QStringList listed()
{
    flashing::DfuDeviceInfo *list = nullptr;
    const int n = flashing::getDfuDeviceList(&list, 0xDF11, 0x0483);
    QStringList indexes;
    for (int i = 0; i < n; ++i)
        indexes << QString::fromLatin1(list[i].usbIndex) + QLatin1Char('/') + QString::fromLatin1(list[i].serialNumber);
    return indexes;
}

bool holds(const SimulatedStm32 &chip, const flashing::FirmwareImage &image)
{
    const auto &data = image.segments[0].data;
    return std::equal(data.begin(), data.end(), chip.flash.begin());
}

} // namespace

class TestLibusbPath : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void listsOnlyBootloaders();
    void connectFindsTheFlashInEitherLayout();
    void busyInterfaceSaysSo();
    void wholeFlashWrittenAndReadBack();
    void stallAndLostAnswerAreSentAgain();
    void hungRequestTimesOut();
    void unplugMidWriteThenReplug();
    void leavesAfterManifesting();

private:
    int write(const flashing::FirmwareImage &image);
    int connectFirst();

    std::unique_ptr<SerialTestbed> testbed;
    std::unique_ptr<BackendScope> scope;
    std::unique_ptr<QTemporaryDir> dir;
    std::shared_ptr<SimulatedStm32> chip;
    std::unique_ptr<UsbBootloader> bootloader;
};

void TestLibusbPath::initTestCase()
{
    testbed = std::make_unique<SerialTestbed>();
    QVERIFY2(SerialTestbed::available(), "run with LD_PRELOAD=libumockdev-preload.so.0");
    // libusb starts after the mocked world exists, as the program's does.
    scope = std::make_unique<BackendScope>(
        std::make_unique<flashing::EngineBackend>(std::make_unique<flashing::LibusbProvider>()));
    flashing::setDisplayCallbacks(kCallbacks);
    dir = std::make_unique<QTemporaryDir>();
}

void TestLibusbPath::cleanupTestCase()
{
    scope.reset();
}

void TestLibusbPath::init()
{
    chip = std::make_shared<SimulatedStm32>();
    bootloader = std::make_unique<UsbBootloader>(testbed->handle(), chip);
    logLines.clear();
}

void TestLibusbPath::cleanup()
{
    bootloader.reset();
    QTRY_VERIFY(listed().isEmpty());
}

int TestLibusbPath::write(const flashing::FirmwareImage &image)
{
    QFile file(dir->filePath(QStringLiteral("fw.hex")));
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray::fromStdString(toIntelHex(image)));
    file.close();
    return flashing::downloadFile(reinterpret_cast<const char16_t *>(file.fileName().utf16()), 0x08000000, 0, 1,
                                  u"");
}

// libusb learns of a device from its hot-plug event, a moment after it is
// plugged in.
int TestLibusbPath::connectFirst()
{
    if (!QTest::qWaitFor([] { return listed().size() == 1; }))
        return -1000;
    flashing::DfuDeviceInfo *list = nullptr;
    flashing::getDfuDeviceList(&list, 0xDF11, 0x0483);
    return flashing::connectDfuBootloader(list[0].usbIndex);
}

void TestLibusbPath::listsOnlyBootloaders()
{
    QVERIFY(listed().isEmpty());
    UsbBootloader::Options other;
    other.port = 5;
    other.productId = 0x5740; // the K931's own application
    UsbBootloader notABootloader(testbed->handle(), std::make_shared<SimulatedStm32>(), other);
    QVERIFY(notABootloader.plug());
    QVERIFY(bootloader->plug());
    QTRY_COMPARE(listed(), QStringList{"1-3/SIM0"});

    UsbBootloader::Options second;
    second.port = 4;
    second.serial = "SIM1";
    UsbBootloader another(testbed->handle(), std::make_shared<SimulatedStm32>(), second);
    QVERIFY(another.plug());
    QTRY_COMPARE(listed().size(), 2);
    QVERIFY(listed().contains(QStringLiteral("1-4/SIM1")));
    // The record's index is what connect takes.
    QCOMPARE(flashing::connectDfuBootloader("1-4"), 0);
    QCOMPARE(flashing::connectDfuBootloader("1-9"), int(flashing::kDeviceNotFound));
    // A failed connect leaves no connection behind.
    QCOMPARE(write(imageOf(16, 8)), int(flashing::kNotConnected));
    another.unplug();
    QTRY_COMPARE(listed(), QStringList{"1-3/SIM0"});
}

void TestLibusbPath::connectFindsTheFlashInEitherLayout()
{
    QVERIFY(bootloader->plug());
    QCOMPARE(connectFirst(), 0);
    QCOMPARE(write(imageOf(1024, 1)), 0);
    QVERIFY(logLines.contains(QStringLiteral("Configuração alternativa 0: ") + UsbBootloader::kAlternateNames[0]));
    bootloader.reset();
    QTRY_VERIFY(listed().isEmpty());

    UsbBootloader::Options repeated;
    repeated.functionalAfterEachSetting = true;
    chip = std::make_shared<SimulatedStm32>();
    bootloader = std::make_unique<UsbBootloader>(testbed->handle(), chip, repeated);
    QVERIFY(bootloader->plug());
    QCOMPARE(connectFirst(), 0);
    QCOMPARE(write(imageOf(1024, 2)), 0);
    QVERIFY(holds(*chip, imageOf(1024, 2)));
}

// Another program (a second Tarvik Connect, dfu-util) holds the interface.
void TestLibusbPath::busyInterfaceSaysSo()
{
    bootloader->interfaceBusy = true;
    QVERIFY(bootloader->plug());
    QCOMPARE(connectFirst(), int(flashing::kInterfaceBusy));
    bootloader->interfaceBusy = false;
    QCOMPARE(connectFirst(), 0);

    // A second program while this one holds the interface: the kernel's
    // EBUSY. Its listing still works, and names the chip's flash, without
    // taking the interface from the first.
    flashing::LibusbProvider second;
    const std::vector<flashing::DeviceRecord> listed = second.list(0xDF11, 0x0483);
    QCOMPARE(listed.size(), size_t(1));
    QCOMPARE(QString::fromStdString(listed[0].flashLayout), QString::fromLatin1(UsbBootloader::kAlternateNames[0]));
    flashing::OpenedDevice opened;
    QCOMPARE(second.open(bootloader->usbIndex(), opened), int(flashing::kInterfaceBusy));
    QCOMPARE(write(imageOf(2048, 9)), 0);
}

void TestLibusbPath::wholeFlashWrittenAndReadBack()
{
    QVERIFY(bootloader->plug());
    QCOMPARE(connectFirst(), 0);
    const flashing::FirmwareImage whole = imageOf(512 * 1024, 3);
    QCOMPARE(write(whole), 0);
    QVERIFY(holds(*chip, whole));
    QCOMPARE(chip->eraseCounts, (std::array<int, 8>{1, 1, 1, 1, 1, 1, 1, 1}));
    QVERIFY(!chip->massEraseSeen);
}

// A flaky cable: a stalled request (EPIPE), then a block whose answer never
// comes (libusb's own time-out and discard), both within one write.
void TestLibusbPath::stallAndLostAnswerAreSentAgain()
{
    QVERIFY(bootloader->plug());
    QCOMPARE(connectFirst(), 0);
    chip->faults.stallTransfer = chip->transfers + 30;
    chip->faults.lostBlockAnswers = {chip->dataBlocks + 20, 1, 1};
    QCOMPARE(write(imageOf(64 * 1024, 5)), 0);
    QVERIFY(holds(*chip, imageOf(64 * 1024, 5)));
    QCOMPARE(chip->lostAnswers, 1);
}

// A device that takes a request and never answers: the write ends with an
// error within the transfer's time limit, and the caller's callbacks keep
// running meanwhile (the window stays responsive).
void TestLibusbPath::hungRequestTimesOut()
{
    QVERIFY(bootloader->plug());
    QCOMPARE(connectFirst(), 0);
    bootloader->hang = true;
    callbacks = 0;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(write(imageOf(16 * 1024, 6)), int(flashing::kUsbError));
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(callbacks > 1);
    bootloader->hang = false;
}

void TestLibusbPath::unplugMidWriteThenReplug()
{
    QVERIFY(bootloader->plug());
    QCOMPARE(connectFirst(), 0);
    chip->faults.goneAfterTransfers = chip->transfers + 40;
    QCOMPARE(write(imageOf(128 * 1024, 7)), int(flashing::kUsbError));
    QTRY_VERIFY(listed().isEmpty());

    QVERIFY(bootloader->plug());
    QCOMPARE(connectFirst(), 0);
    QCOMPARE(write(imageOf(128 * 1024, 7)), 0);
    QVERIFY(holds(*chip, imageOf(128 * 1024, 7)));
}

// The DfuSe way out of the bootloader: set the address, an empty DNLOAD,
// and the status request that starts the manifestation: the device goes.
void TestLibusbPath::leavesAfterManifesting()
{
    QVERIFY(bootloader->plug());
    QTRY_COMPARE(listed().size(), 1);
    flashing::LibusbProvider provider;
    flashing::OpenedDevice device;
    QCOMPARE(provider.open("1-3", device), 0);
    uint8_t status[6] = {};
    device.transport->controlOut(flashing::dfu::kClrStatus, 0, nullptr, 0, 1000); // the ROM starts in dfuERROR
    const uint8_t setAddress[] = {flashing::dfu::kCmdSetAddress, 0x00, 0x00, 0x00, 0x08};
    QVERIFY(device.transport->controlOut(flashing::dfu::kDnload, 0, setAddress, 5, 1000).ok());
    QVERIFY(device.transport->controlIn(flashing::dfu::kGetStatus, 0, status, 6, 1000).ok());
    QVERIFY(device.transport->controlIn(flashing::dfu::kGetStatus, 0, status, 6, 1000).ok());
    QVERIFY(device.transport->controlOut(flashing::dfu::kDnload, 0, nullptr, 0, 1000).ok());
    device.transport->controlIn(flashing::dfu::kGetStatus, 0, status, 6, 1000);
    device.transport->controlIn(flashing::dfu::kGetStatus, 0, status, 6, 1000);
    QTRY_VERIFY(listed().isEmpty());
    QVERIFY(!bootloader->isPlugged());
}

QTEST_GUILESS_MAIN(TestLibusbPath)
#include "tst_libusbpath.moc"
