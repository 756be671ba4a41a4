// SPDX-License-Identifier: GPL-3.0-or-later
// The settings protocol's bytes and the recognition of replies, and the
// firmware description reader.
#include "firmwaredescription.h"
#include "protocol.h"

#include <QtTest>

using protocol::Flag;
using protocol::Mnemonic;
Q_DECLARE_METATYPE(protocol::Mnemonic)

class TestProtocol : public QObject {
    Q_OBJECT
private slots:
    void commands()
    {
        QCOMPARE(protocol::setCommand(Mnemonic::Rpml, 6500), QByteArray::fromHex("3E52504D4C00001964"));
        QCOMPARE(protocol::setFloatCommand(Mnemonic::Tura, 1.5f), QByteArray::fromHex("3E545552413FC00000"));
        QCOMPARE(protocol::setCommand(Mnemonic::Rpml, 7000).right(4), QByteArray::fromHex("00001B58"));
        QCOMPARE(protocol::setCommand(Mnemonic::Kbos, 0xFFFFFFFFu).right(4), QByteArray::fromHex("FFFFFFFF"));
        QCOMPARE(protocol::query(Mnemonic::Vers), QByteArray("?VERS"));
        QCOMPARE(protocol::query(Mnemonic::Kbos), QByteArray("?KBOS"));
        QCOMPARE(protocol::bootCommand(), QByteArray("BOOT"));
    }

    void recognition_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<Mnemonic>("mnemonic");
        QTest::newRow("value reply") << QByteArray(">RPML6500") << Mnemonic::Rpml;
        QTest::newRow("exactly five bytes") << QByteArray(">VERS") << Mnemonic::Vers;
        QTest::newRow("four bytes") << QByteArray(">VER") << Mnemonic::None;
        QTest::newRow("empty") << QByteArray() << Mnemonic::None;
        QTest::newRow("one byte") << QByteArray(">") << Mnemonic::None;
        QTest::newRow("echoed query") << QByteArray("?RPML") << Mnemonic::Rpml;
        QTest::newRow("byte 0 ignored") << QByteArray("xKBOS1") << Mnemonic::Kbos;
        QTest::newRow("lower case") << QByteArray(">vers1") << Mnemonic::None;
        QTest::newRow("unknown") << QByteArray(">ABCD1") << Mnemonic::None;
        QTest::newRow("binary") << QByteArray("\x00HALP\x01", 6) << Mnemonic::Halp;
        QTest::newRow("two replies") << QByteArray(">TURA1.5>HALP450") << Mnemonic::Tura;
    }

    void recognition()
    {
        QFETCH(QByteArray, chunk);
        QFETCH(Mnemonic, mnemonic);
        QCOMPARE(protocol::recognise(chunk), mnemonic);
    }

    void values()
    {
        QCOMPARE(protocol::valueText(">VERSK931 V1.5 Boost"), QStringLiteral("K931 V1.5 Boost"));
        QCOMPARE(protocol::valueText(">VERS"), QString());
        QCOMPARE(protocol::valueText(">TURA1.5>HALP450"), QStringLiteral("1.5>HALP450"));
        QCOMPARE(protocol::valueText(QByteArray(">RPML\xff", 6)), QString(QChar(0xFFFD)));
    }

    void flags()
    {
        QCOMPARE(protocol::flagValue(">TURZ1", Mnemonic::Turz), Flag::One);
        QCOMPARE(protocol::flagValue(">TURZ0", Mnemonic::Turz), Flag::Zero);
        QCOMPARE(protocol::flagValue(">TURZ1\r", Mnemonic::Turz), Flag::Other);
        QCOMPARE(protocol::flagValue(">TURZ2", Mnemonic::Turz), Flag::Other);
        QCOMPARE(protocol::flagValue("?TURZ", Mnemonic::Turz), Flag::Other);
        QCOMPARE(protocol::flagValue("xTURZ1", Mnemonic::Turz), Flag::Other);
    }

    void chain()
    {
        QList<QByteArray> queries;
        for (Mnemonic m = Mnemonic::Vers; m != Mnemonic::None; m = protocol::nextInChain(m))
            queries << protocol::query(m);
        QCOMPARE(queries, (QList<QByteArray>{"?VERS", "?RPML", "?TURA", "?HALP", "?HALR", "?TURZ", "?SONT", "?KSBM", "?KBOS"}));
    }

    void description()
    {
        auto d = parseFirmwareDescriptionJson(R"({"Modelo": ["A", 5, "B"], "Version": "1.6"})");
        QCOMPARE(d.models, (QStringList{"A", "B"}));
        QVERIFY(d.hasModels && d.hasVersion);
        QCOMPARE(d.versionText, QStringLiteral("1.6"));
        d = parseFirmwareDescriptionJson(R"({"Modelo": "K931", "Version": 1.6})");
        QVERIFY(d.hasModels);
        QVERIFY(d.models.isEmpty());
        QVERIFY(d.hasVersion);
        QVERIFY(d.versionText.isEmpty());
        d = parseFirmwareDescriptionJson("not json");
        QVERIFY(!d.hasModels && !d.hasVersion);
        d = parseFirmwareDescriptionJson(R"(["Modelo"])");
        QVERIFY(!d.hasModels);

        // The server's file per model and type, shared by the window and
        // the command line.
        QCOMPARE(firmwareFileFor("K931", "OBD + Boost + Flex"), QStringLiteral("K931_OBD_Boost_Flex.hex"));
        QCOMPARE(firmwareFileFor("K931", "OBD"), QStringLiteral("K931_OBD.hex"));
        QCOMPARE(firmwareFileFor("K931", ""), QStringLiteral("K931.hex"));
    }

    void deviceVersion_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<float>("number");
        QTest::newRow("plain") << "V1.5" << 1.5f;
        QTest::newRow("with words") << "K931 V1.5 Boost" << 1.5f;
        QTest::newRow("no V") << "1.5" << 0.0f;
        QTest::newRow("lower-case v") << "v1.5" << 0.0f;
        QTest::newRow("nothing after") << "K931 V" << 0.0f;
        QTest::newRow("second V kept") << "VV2" << 0.0f;
        QTest::newRow("spaces") << "V  2.25x" << 2.25f;
        QTest::newRow("exponent") << "V1e1" << 10.0f;
        QTest::newRow("comma stops") << "V1,6" << 1.0f;
        QTest::newRow("empty") << "" << 0.0f;
    }

    void deviceVersion()
    {
        QFETCH(QString, text);
        QFETCH(float, number);
        QCOMPARE(versionNumberAfterV(text), number);
    }

    void deviceVersionIgnoresTheCLocale()
    {
        // A Brazilian desktop's numeric locale writes "1,6": the version
        // number must still read with a point.
        const char *previous = setlocale(LC_NUMERIC, nullptr);
        const QByteArray saved = previous ? previous : "C";
        if (!setlocale(LC_NUMERIC, "pt_BR.UTF-8") && !setlocale(LC_NUMERIC, "de_DE.UTF-8"))
            QSKIP("no locale with a decimal comma installed");
        const float number = versionNumberAfterV(QStringLiteral("V1.6"));
        setlocale(LC_NUMERIC, saved.constData());
        QCOMPARE(number, 1.6f);
    }
};

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
