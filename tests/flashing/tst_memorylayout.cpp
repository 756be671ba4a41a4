// SPDX-License-Identifier: GPL-3.0-or-later
// The memory-layout text that the device announces, including hostile ones.
#include "memorylayout.h"

#include <QtTest>

using flashing::MemoryLayout;

class TestMemoryLayout : public QObject {
    Q_OBJECT
private slots:
    void stm32f446Flash()
    {
        MemoryLayout layout;
        QVERIFY(flashing::parseMemoryLayout("@Internal Flash  /0x08000000/04*016Kg,01*064Kg,03*128Kg", layout));
        QCOMPARE(QByteArray::fromStdString(layout.name), QByteArray("Internal Flash"));
        QCOMPARE(layout.runs.size(), size_t(3));
        flashing::Sector sector;
        QVERIFY(layout.sectorAt(0x08004000, sector));
        QCOMPARE(sector.start, 0x08004000u);
        QCOMPARE(sector.size, 16u * 1024);
        QVERIFY(layout.sectorAt(0x0807FFFF, sector));
        QCOMPARE(sector.start, 0x08060000u);
        QCOMPARE(int(sector.access), 7);
        QVERIFY(!layout.sectorAt(0x08080000, sector));
        QVERIFY(!layout.sectorAt(0x07FFFFFF, sector));
        QVERIFY(layout.allows(0x08000000, 0x08080000, flashing::kWritable | flashing::kErasable));
        QVERIFY(!layout.allows(0x08000000, 0x08080001, flashing::kWritable));
    }

    void otherSettingsAndGroups()
    {
        MemoryLayout layout;
        QVERIFY(flashing::parseMemoryLayout("@Option Bytes  /0x1FFFC000/01*016 e", layout));
        QCOMPARE(layout.runs[0].size, 16u);
        QCOMPARE(int(layout.runs[0].access), flashing::kReadable | flashing::kWritable);
        QVERIFY(flashing::parseMemoryLayout("@OTP Memory /0x1FFF7800/01*512 e,01*016 e", layout));
        QCOMPARE(layout.runs[1].start, 0x1FFF7A00u);
        QVERIFY(flashing::parseMemoryLayout("@Two/0x08000000/02*001Ka/0x20000000/01*001Mg", layout));
        QCOMPARE(layout.runs.size(), size_t(2));
        QCOMPARE(layout.runs[1].size, 1024u * 1024);
        QVERIFY(!layout.allows(0x08000000, 0x08000800, flashing::kWritable));
        QVERIFY(flashing::parseMemoryLayout("@Bytes/0x0/01*0128Bg", layout));
        QCOMPARE(layout.runs[0].size, 128u);
    }

    void sectorsTouched()
    {
        MemoryLayout layout;
        QVERIFY(flashing::parseMemoryLayout("@Internal Flash  /0x08000000/04*016Kg,01*064Kg,03*128Kg", layout));
        flashing::FirmwareImage image;
        image.segments.push_back({0x08003FFF, std::vector<uint8_t>(2, 0)});     // sectors 0 and 1
        image.segments.push_back({0x08010000, std::vector<uint8_t>(0x10001, 0)}); // sectors 4 and 5
        const auto sectors = layout.sectorsTouched(image);
        QCOMPARE(sectors.size(), size_t(4));
        QCOMPARE(sectors[0].start, 0x08000000u);
        QCOMPARE(sectors[1].start, 0x08004000u);
        QCOMPARE(sectors[2].start, 0x08010000u);
        QCOMPARE(sectors[3].start, 0x08020000u);
    }

    void hostileStrings_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("no at") << QByteArray("Internal/0x08000000/04*016Kg");
        QTest::newRow("no address") << QByteArray("@Internal Flash");
        QTest::newRow("no runs") << QByteArray("@X/0x08000000/");
        QTest::newRow("bad hex") << QByteArray("@X/0x08G00000/04*016Kg");
        QTest::newRow("address too long") << QByteArray("@X/0x108000000/04*016Kg");
        QTest::newRow("zero count") << QByteArray("@X/0x08000000/00*016Kg");
        QTest::newRow("zero size") << QByteArray("@X/0x08000000/04*000Kg");
        QTest::newRow("bad type") << QByteArray("@X/0x08000000/04*016Kz");
        QTest::newRow("missing type") << QByteArray("@X/0x08000000/04*016K");
        QTest::newRow("past 4 GiB") << QByteArray("@X/0xFFFF0000/02*064Kg");
        QTest::newRow("huge count") << QByteArray("@X/0x0/9999999999*1Kg");
        QTest::newRow("overlapping groups") << QByteArray("@X/0x08000000/04*016Kg/0x08004000/01*016Kg");
        QTest::newRow("trailing junk") << QByteArray("@X/0x08000000/04*016Kg junk");
        QTest::newRow("dangling comma") << QByteArray("@X/0x08000000/04*016Kg,");
        QTest::newRow("too long") << QByteArray("@X/0x08000000/04*016Kg") + QByteArray(600, ' ');
    }

    void hostileStrings()
    {
        QFETCH(QByteArray, text);
        MemoryLayout layout;
        QVERIFY(!flashing::parseMemoryLayout(text.toStdString(), layout));
        QVERIFY(layout.runs.empty());
    }
};

QTEST_APPLESS_MAIN(TestMemoryLayout)
#include "tst_memorylayout.moc"
