// SPDX-License-Identifier: GPL-3.0-or-later
// The Intel HEX reader: what it accepts and each reason it refuses a file.
#include "intelhex.h"

#include <QtTest>

using flashing::HexError;
Q_DECLARE_METATYPE(flashing::HexError)

namespace {

flashing::HexParseResult parse(const QByteArray &text)
{
    return flashing::parseIntelHex(reinterpret_cast<const uint8_t *>(text.constData()), size_t(text.size()));
}

// Builds a record with a correct checksum.
QByteArray record(int type, int offset, const QByteArray &payload)
{
    QByteArray bytes;
    bytes.append(char(payload.size()));
    bytes.append(char(offset >> 8));
    bytes.append(char(offset));
    bytes.append(char(type));
    bytes.append(payload);
    uint8_t sum = 0;
    for (char c : bytes)
        sum = uint8_t(sum + uint8_t(c));
    bytes.append(char(uint8_t(-sum)));
    return ":" + bytes.toHex().toUpper() + "\n";
}

const QByteArray kEof = ":00000001FF\n";

} // namespace

class TestIntelHex : public QObject {
    Q_OBJECT
private slots:
    void goodFiles_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<quint32>>("starts");
        QTest::addColumn<QList<int>>("sizes");

        QTest::newRow("linear address, start address, merged")
            << record(4, 0, QByteArray::fromHex("0800")) + record(0, 0, QByteArray(16, '\x11'))
                   + record(0, 16, QByteArray(16, '\x22')) + record(5, 0, QByteArray::fromHex("08000199")) + kEof
            << QList<quint32>{0x08000000} << QList<int>{32};
        QTest::newRow("segment address, start segment, gap")
            << record(2, 0, QByteArray::fromHex("1000")) + record(0, 0x10, QByteArray(4, 'a'))
                   + record(0, 0x40, QByteArray(4, 'b')) + record(3, 0, QByteArray::fromHex("00001000")) + kEof
            << QList<quint32>{0x10010, 0x10040} << QList<int>{4, 4};
        QTest::newRow("out of order records are sorted")
            << record(0, 0x20, QByteArray(2, 'x')) + record(0, 0x00, QByteArray(2, 'y')) + kEof
            << QList<quint32>{0x00, 0x20} << QList<int>{2, 2};
        QByteArray crlf = record(4, 0, QByteArray::fromHex("0800")) + record(0, 0, QByteArray(8, 'z')) + kEof;
        crlf.replace("\n", "\r\n");
        QTest::newRow("CRLF and trailing blank lines") << crlf + "\r\n\n" << QList<quint32>{0x08000000} << QList<int>{8};
        QTest::newRow("lower case") << record(0, 0, QByteArray(3, '\xab')).toLower() + kEof.toLower()
                                    << QList<quint32>{0} << QList<int>{3};
        QTest::newRow("no final newline") << record(0, 0, QByteArray(1, 'q')) + ":00000001FF"
                                          << QList<quint32>{0} << QList<int>{1};
    }

    void goodFiles()
    {
        QFETCH(QByteArray, text);
        QFETCH(QList<quint32>, starts);
        QFETCH(QList<int>, sizes);
        const auto result = parse(text);
        QVERIFY2(result.ok(), flashing::hexErrorText(result.error));
        QCOMPARE(int(result.image.segments.size()), starts.size());
        for (int i = 0; i < starts.size(); ++i) {
            QCOMPARE(result.image.segments[size_t(i)].address, starts[i]);
            QCOMPARE(int(result.image.segments[size_t(i)].data.size()), sizes[i]);
        }
    }

    void dataLandsWhereAddressed()
    {
        const auto result = parse(record(4, 0, QByteArray::fromHex("0800")) + record(0, 0x1234, "\x01\x02\x03") + kEof);
        QVERIFY(result.ok());
        QCOMPARE(result.image.segments[0].address, 0x08001234u);
        QCOMPARE(result.image.segments[0].data, (std::vector<uint8_t>{1, 2, 3}));
    }

    void badFiles_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<HexError>("error");
        QTest::addColumn<int>("line");
        const QByteArray data = record(0, 0, QByteArray(4, 'd'));
        QTest::newRow("no colon") << QByteArray("10000000") + "\n" + kEof << HexError::MissingColon << 1;
        QTest::newRow("bad checksum") << QByteArray(":0400000064646464FF\n") + kEof << HexError::BadChecksum << 1;
        QTest::newRow("length mismatch") << QByteArray(":05000000646464649C\n") + kEof << HexError::LengthMismatch << 1;
        QTest::newRow("odd digits") << data.left(data.size() - 2) + "\n" + kEof << HexError::LengthMismatch << 1;
        QTest::newRow("unknown type") << record(6, 0, {}) + kEof << HexError::UnknownRecordType << 1;
        QTest::newRow("non-hex") << QByteArray(":04000000646G6464C8\n") + kEof << HexError::NonHexCharacter << 1;
        QTest::newRow("missing eof") << data << HexError::MissingEndOfFile << 0;
        QTest::newRow("data after eof") << data + kEof + data << HexError::DataAfterEndOfFile << 3;
        QTest::newRow("overlap") << data + record(0, 2, QByteArray(4, 'e')) + kEof << HexError::OverlappingData << 0;
        QTest::newRow("extended address of 3 bytes") << record(4, 0, QByteArray(3, '\0')) + kEof
                                                     << HexError::MalformedRecord << 1;
        QTest::newRow("beyond 4 GiB") << record(4, 0, QByteArray::fromHex("FFFF")) + record(0, 0xFFFE, QByteArray(4, 'x')) + kEof
                                      << HexError::AddressOverflow << 2;
        QTest::newRow("only eof") << kEof << HexError::Empty << 0;
        QTest::newRow("empty file") << QByteArray() << HexError::MissingEndOfFile << 0;
        QTest::newRow("binary garbage") << QByteArray("\x7f" "ELF\x02\x01", 6) << HexError::MissingColon << 1;
    }

    void badFiles()
    {
        QFETCH(QByteArray, text);
        QFETCH(HexError, error);
        QFETCH(int, line);
        const auto result = parse(text);
        QCOMPARE(result.error, error);
        QCOMPARE(int(result.line), line);
        QVERIFY(result.image.empty());
    }

    void tooLarge()
    {
        const QByteArray big(int(flashing::kMaxImageFileBytes) + 1, '\n');
        QCOMPARE(parse(big).error, HexError::TooLarge);
    }

    void binaryImage()
    {
        const uint8_t bytes[] = {1, 2, 3};
        const auto image = flashing::imageFromBinary(bytes, 3, 0x08000000);
        QCOMPARE(image.segments.size(), size_t(1));
        QCOMPARE(image.segments[0].address, 0x08000000u);
        QVERIFY(flashing::imageFromBinary(bytes, 0, 0x08000000).empty());
        QVERIFY(flashing::imageFromBinary(bytes, 3, 0xFFFFFFFE).empty());
    }
};

QTEST_APPLESS_MAIN(TestIntelHex)
#include "tst_intelhex.moc"
