// SPDX-License-Identifier: GPL-3.0-or-later
// Which files may be sent to the K931 at all: a file whose start the F446
// could not run is refused before "BOOT" (the device would never come back),
// and tarvik-dfu's warning for any chip says the same of a start that no
// Cortex-M runs.
#include "firmwarecheck.h"
#include "hexfile.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

void putWord(std::vector<uint8_t> &bytes, size_t at, uint32_t word)
{
    for (size_t i = 0; i < 4; ++i)
        bytes[at + i] = uint8_t(word >> (8 * i));
}

} // namespace

class TestFirmwareCheck : public QObject {
    Q_OBJECT
private slots:
    void startOfTheFile_data()
    {
        QTest::addColumn<uint32_t>("stack");
        QTest::addColumn<uint32_t>("reset");
        QTest::addColumn<QString>("refusal"); // empty: taken
        QTest::addColumn<bool>("warned");     // by tarvik-dfu
        QTest::newRow("runnable") << 0x20020000u << 0x080001C1u << QString() << false;
        QTest::newRow("stack below the SRAM") << 0x1FFFF000u << 0x080001C1u << QStringLiteral("pilha inicial") << false;
        QTest::newRow("stack past the F446's SRAM") << 0x20030000u << 0x080001C1u << QStringLiteral("pilha inicial")
                                                    << false;
        QTest::newRow("reset without the Thumb bit") << 0x20020000u << 0x080001C0u
                                                     << QStringLiteral("endereço de início") << true;
        QTest::newRow("reset outside the file") << 0x20020000u << 0x08040001u << QStringLiteral("endereço de início")
                                                << true;
    }

    void startOfTheFile()
    {
        QFETCH(uint32_t, stack);
        QFETCH(uint32_t, reset);
        QFETCH(QString, refusal);
        QFETCH(bool, warned);
        std::vector<uint8_t> bytes = randomBytes(4096, 1);
        putWord(bytes, 0, stack);
        putWord(bytes, 4, reset);
        flashing::FirmwareImage image;
        image.segments.push_back({0x08000000, bytes});
        const QString path = dir.filePath(QStringLiteral("fw.hex"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray::fromStdString(toIntelHex(image)));
        file.close();
        const FirmwareCheck check = checkFirmwareFile(path);
        QCOMPARE(check.ok(), refusal.isEmpty());
        QVERIFY2(check.reason.contains(refusal), qPrintable(check.reason));
        if (!refusal.isEmpty())
            QVERIFY(check.reason.startsWith(QStringLiteral("não é um firmware do K931")));
        QCOMPARE(!startWarning(image).isEmpty(), warned);
    }

    // One byte, or data that begins past the vector table: nothing to start.
    void nothingAtTheStart()
    {
        const QString bin = dir.filePath(QStringLiteral("one.bin"));
        QFile file(bin);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\x01", 1);
        file.close();
        QVERIFY(!checkFirmwareFile(bin).ok());
        flashing::FirmwareImage image;
        QVERIFY(readFirmwareFile(bin, &image).ok());
        QVERIFY(!startWarning(image).isEmpty());
        // Past the flash's start, both addresses are named.
        image.segments = {{0x08010000, {1, 2, 3, 4}}};
        const QString warning = startWarning(image);
        QVERIFY2(warning.contains(QStringLiteral("0x08000000")) && warning.contains(QStringLiteral("0x08010000")),
                 qPrintable(warning));
    }

private:
    QTemporaryDir dir;
};

QTEST_GUILESS_MAIN(TestFirmwareCheck)
#include "tst_firmwarecheck.moc"
