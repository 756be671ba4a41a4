// SPDX-License-Identifier: GPL-3.0-or-later
// The settings protocol's bytes, the recognition of replies and the orders
// of the read-out and the upload, and the firmware description reader.
#include "firmwaredescription.h"
#include "protocol.h"
#include "settings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

QList<QByteArray> onlyThese(const QList<QByteArray> &all, const QList<QByteArray> &wanted)
{
    QList<QByteArray> kept;
    for (const QByteArray &m : all)
        if (wanted.contains(m))
            kept << m;
    return kept;
}

} // namespace

using protocol::Flag;

class TestProtocol : public QObject {
    Q_OBJECT
private slots:
    void commands()
    {
        QCOMPARE(protocol::setCommand("RPML", 6500), QByteArray::fromHex("3E52504D4C00001964"));
        QCOMPARE(protocol::setFloatCommand("TURA", 1.5f), QByteArray::fromHex("3E545552413FC00000"));
        QCOMPARE(protocol::setCommand("RPML", 7000).right(4), QByteArray::fromHex("00001B58"));
        QCOMPARE(protocol::setCommand("KBOS", 0xFFFFFFFFu).right(4), QByteArray::fromHex("FFFFFFFF"));
        QCOMPARE(protocol::query("VERS"), QByteArray("?VERS"));
    }

    void recognition_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<QByteArray>("mnemonic"); // empty: none
        QTest::newRow("value reply") << QByteArray(">RPML6500") << QByteArray("RPML");
        QTest::newRow("exactly five bytes") << QByteArray(">VERS") << QByteArray("VERS");
        QTest::newRow("four bytes") << QByteArray(">VER") << QByteArray();
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("one byte") << QByteArray(">") << QByteArray();
        QTest::newRow("echoed query") << QByteArray("?RPML") << QByteArray("RPML");
        QTest::newRow("byte 0 ignored") << QByteArray("xKBOS1") << QByteArray("KBOS");
        QTest::newRow("lower case") << QByteArray(">vers1") << QByteArray();
        QTest::newRow("unknown") << QByteArray(">ABCD1") << QByteArray();
        QTest::newRow("binary") << QByteArray("\x00HALP\x01", 6) << QByteArray("HALP");
        QTest::newRow("two replies") << QByteArray(">TURA1.5>HALP450") << QByteArray("TURA");
    }

    void recognition()
    {
        QFETCH(QByteArray, chunk);
        QFETCH(QByteArray, mnemonic);
        const settings::Key *key = settings::recognise(chunk);
        QCOMPARE(key ? key->mnemonic() : QByteArray(), mnemonic);
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
        QCOMPARE(protocol::flagValue(">TURZ1", "TURZ"), Flag::One);
        QCOMPARE(protocol::flagValue(">TURZ0", "TURZ"), Flag::Zero);
        QCOMPARE(protocol::flagValue(">TURZ1\r", "TURZ"), Flag::Other);
        QCOMPARE(protocol::flagValue(">TURZ2", "TURZ"), Flag::Other);
        QCOMPARE(protocol::flagValue("?TURZ", "TURZ"), Flag::Other);
        QCOMPARE(protocol::flagValue("xTURZ1", "TURZ"), Flag::Other);
    }

    void chain()
    {
        // The read-out's order and the upload's own order. A setting added
        // later may sit anywhere in either, but must not reorder these.
        const QList<QByteArray> readOrder = {"VERS", "RPML", "TURA", "HALP", "HALR", "TURZ", "SONT", "KSBM", "KBOS"};
        const QList<QByteArray> uploadOrder = {"KSBM", "TURA", "RPML", "HALR", "HALP", "TURZ", "KBOS"};
        QList<QByteArray> queried;
        for (const settings::Key *key = &settings::firstInChain(); key; key = settings::nextInChain(key))
            queried << key->mnemonic();
        QCOMPARE(queried.size(), settings::readout().size());
        QCOMPARE(onlyThese(queried, readOrder), readOrder);
        QList<QByteArray> uploaded;
        for (const settings::Key *key : settings::keys())
            uploaded << key->mnemonic();
        QCOMPARE(onlyThese(uploaded, uploadOrder), uploadOrder);
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

    // Every model name becomes a path: one that could reach outside the
    // folder, or cut a path short, refuses the whole description.
    void hostileModelNames_data()
    {
        QTest::addColumn<QString>("model");
        QTest::newRow("parent") << QStringLiteral("../fora");
        QTest::newRow("absolute") << QStringLiteral("/home/u/x");
        QTest::newRow("sub-folder") << QStringLiteral("sub/x");
        QTest::newRow("backslash") << QStringLiteral("..\\x");
        QTest::newRow("drive") << QStringLiteral("C:x");
        QTest::newRow("nul") << QString::fromUtf16(u"/root/.bashrc\u0000/x");
        QTest::newRow("line break") << QStringLiteral("a\nb");
        QTest::newRow("device") << QStringLiteral("con");
        QTest::newRow("long") << QString(kMaxModelNameLength + 1, QLatin1Char('a'));
    }

    void hostileModelNames()
    {
        QFETCH(QString, model);
        const QJsonObject object{{"Modelo", QJsonArray{"K931", model}}, {"Version", "1.6"}};
        const FirmwareDescription d = parseFirmwareDescriptionJson(QJsonDocument(object).toJson());
        QVERIFY(!d.ok());
        QVERIFY(d.models.isEmpty());
        QVERIFY2(d.problem.contains(printableName(model.left(20))), qPrintable(d.problem));
        QVERIFY(!d.problem.contains(QChar(0)));
        QVERIFY(firmwareFileFor(model, "OBD").isEmpty());
    }

    void plainModelNamesAndTheirCount()
    {
        QJsonArray many;
        for (int i = 0; i < 1000; ++i)
            many.append(QStringLiteral("K931 Pro+ v1.2_b-%1").arg(i % 3));
        FirmwareDescription d = parseFirmwareDescriptionJson(QJsonDocument(QJsonObject{{"Modelo", many}}).toJson());
        QVERIFY2(d.ok(), qPrintable(d.problem));
        QCOMPARE(d.models.size(), 3);
        many = {};
        for (int i = 0; i <= kMaxModels; ++i)
            many.append(QString::number(i));
        d = parseFirmwareDescriptionJson(QJsonDocument(QJsonObject{{"Modelo", many}}).toJson());
        QVERIFY(!d.ok() && d.models.isEmpty());
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
