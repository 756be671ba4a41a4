// SPDX-License-Identifier: GPL-3.0-or-later
// The settings table, where it lives: what each kind refuses, the bit
// patterns floats go out as, the Boost rule, and the settings file's reading
// (typed and first-version files, refusals with a reason).
#include "settings.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void tableIsWhole();
    void valuesByKind_data();
    void valuesByKind();
    void floatsKeepTheirBits();
    void boostInTheVersionText();
    void filesOfBothVersions();
};

// What every front end and the simulated device derive from a row: a row
// left half filled in would break one of them only.
void TestSettings::tableIsWhole()
{
    QSet<QByteArray> mnemonics;
    QSet<int> ranks;
    QList<QPair<const settings::Key *, quint32>> defaults;
    for (const settings::Key &key : settings::readout()) {
        QVERIFY2(QRegularExpression(QStringLiteral("^[A-Z]{4}$")).match(QLatin1String(key.mnemonicText)).hasMatch(),
                 key.mnemonicText);
        QVERIFY2(!mnemonics.contains(key.mnemonic()), key.mnemonicText);
        mnemonics.insert(key.mnemonic());
        QCOMPARE(settings::recognise('>' + key.mnemonic() + "1"), &key);
        if (key.uploadRank < 0) {
            QVERIFY(!key.name);
            continue;
        }
        QVERIFY2(key.name && key.summary && key.factoryReply, key.mnemonicText);
        QVERIFY2(!ranks.contains(key.uploadRank), key.mnemonicText);
        ranks.insert(key.uploadRank);
        QCOMPARE(settings::findKey(QLatin1String(key.name)), &key);
        const std::optional<quint32> word = settings::wordOfReply(key, QLatin1String(key.factoryReply));
        QVERIFY2(word, key.mnemonicText);
        QCOMPARE(settings::setCommand(key, *word).size(), 9);
        defaults.append({&key, *word});
    }
    // Every setting through a settings file and back.
    const settings::FileContents read =
        settings::fromFile(QJsonDocument(settings::toFile(QStringLiteral("K931 V1.5 Boost"), false, defaults)).toJson());
    QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
    for (const auto &pair : defaults)
        QVERIFY2(read.values.contains(pair), pair.first->name);
}

void TestSettings::valuesByKind_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint32>("word");
    QTest::newRow("rpm") << "rpm" << "7000" << true << 0x1B58u;
    QTest::newRow("rpm, the largest") << "rpm" << "4294967295" << true << 0xFFFFFFFFu;
    QTest::newRow("rpm too large") << "rpm" << "4294967296" << false << 0u;
    QTest::newRow("rpm negative") << "rpm" << "-1" << false << 0u;
    QTest::newRow("rpm with a fraction") << "rpm" << "7000.5" << false << 0u;
    QTest::newRow("rpm empty") << "rpm" << "" << false << 0u;
    QTest::newRow("turbo") << "turbo" << "1.5" << true << 0x3FC00000u;
    QTest::newRow("turbo with an exponent") << "lean" << "1e-1" << true << 0x3DCCCCCDu;
    QTest::newRow("turbo with a comma") << "turbo" << "1,5" << false << 0u;
    QTest::newRow("turbo infinite") << "turbo" << "1e39" << false << 0u;
    QTest::newRow("turbo not a number") << "rich" << "nan" << false << 0u;
    QTest::newRow("flag") << "blink" << "1" << true << 1u;
    QTest::newRow("flag other digit") << "turbo-reset" << "2" << false << 0u;
    QTest::newRow("sensor") << "sensor" << "5bar" << true << 1u;
    QTest::newRow("sensor other") << "sensor" << "4bar" << false << 0u;
}

void TestSettings::valuesByKind()
{
    QFETCH(QString, key);
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(quint32, word);
    const settings::Key *k = settings::findKey(key);
    QVERIFY(k);
    const settings::Parsed parsed = settings::parseValue(*k, text);
    QCOMPARE(parsed.error.isEmpty(), valid);
    if (valid)
        QCOMPARE(parsed.word, word);
}

// What is shown and stored reads back as the very word the device had.
void TestSettings::floatsKeepTheirBits()
{
    const settings::Key &turbo = *settings::findKey(QStringLiteral("turbo"));
    for (const quint32 word : {0x3FC00000u, 0x3FF33333u, 0x3DFCE1B3u, 0x00000001u, 0x7F7FFFFFu, 0x3E4CCCCDu}) {
        const QString shown = settings::displayValue(turbo, word);
        QCOMPARE(settings::parseValue(turbo, shown).word, word);
    }
    QCOMPARE(settings::displayValue(turbo, 0x3FF33333u), QStringLiteral("1.9"));
}

void TestSettings::boostInTheVersionText()
{
    QVERIFY(settings::versionHasBoost(QStringLiteral("K931 V1.5 Boost")));
    QVERIFY(settings::versionHasBoost(QStringLiteral("K931 V1.5 BOOST Flex")));
    QVERIFY(!settings::versionHasBoost(QStringLiteral("K931 V1.5 Flex")));
}

void TestSettings::filesOfBothVersions()
{
    // Written typed, read back the same; a first-version file of strings
    // holds the same settings.
    const settings::Key *rpm = settings::findKey(QStringLiteral("rpm"));
    const settings::Key *blink = settings::findKey(QStringLiteral("blink"));
    const settings::Key *turbo = settings::findKey(QStringLiteral("turbo"));
    const QList<QPair<const settings::Key *, quint32>> values = {{blink, 1}, {rpm, 6500}, {turbo, 0x3FF33333u}};
    const QJsonObject file = settings::toFile(QStringLiteral("K931 V1.5"), true, values);
    QCOMPARE(file.value(QStringLiteral("unit")).toString(), QStringLiteral("lambda"));
    const QJsonObject stored = file.value(QStringLiteral("settings")).toObject();
    QCOMPARE(stored.value(QStringLiteral("blink")), QJsonValue(true));
    QCOMPARE(stored.value(QStringLiteral("turbo")), QJsonValue(1.9));
    settings::FileContents read = settings::fromFile(QJsonDocument(file).toJson());
    QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
    QCOMPARE(read.values, values);
    QCOMPARE(read.unit, settings::Unit::Lambda);
    read = settings::fromFile(R"({"format": 1, "settings": {"blink": "1", "rpm": "6500", "turbo": "1.9"}})");
    QCOMPARE(read.values, values);
    QCOMPARE(read.unit, settings::Unit::Unknown);

    const struct {
        QByteArray json;
        QString said;
    } refused[] = {
        {R"({"format": 2, "settings": {"rpm": 1}})", QStringLiteral("formato de arquivo desconhecido")},
        {R"({"format": 1, "unit": "V", "settings": {"rpm": 1}})", QStringLiteral("unidade desconhecida")},
        {"{\"format\": 1, \"settings\": {\"rpm\": 1, \"r\\u0070m\": 2}}", QStringLiteral("chave repetida no arquivo: rpm")},
        {R"({"format": 1, "settings": {"nao-existe": 1}})", QStringLiteral("configuração desconhecida: nao-existe")},
        {R"({"format": 1, "settings": {"turbo": true}})", QStringLiteral("turbo: número com ponto decimal")},
        {R"({"format": 1, "settings": {}})", QStringLiteral("não traz nenhuma configuração")},
        {"[1, 2]", QStringLiteral("não é um arquivo de configurações")},
    };
    for (const auto &r : refused) {
        const settings::FileContents contents = settings::fromFile(r.json);
        QVERIFY2(contents.error.contains(r.said), qPrintable(r.json + " -> " + contents.error));
    }
    // A repeated key inside a string or a nested value is no repetition.
    const QByteArray nested = "{\"a\": \"\\\"a\\\": 1, \\\"a\\\"\", \"b\": {\"a\": 1}, "
                              "\"c\": [{\"a\": 1}, {\"a\": 2}]}";
    QVERIFY(QJsonDocument::fromJson(nested).isObject());
    QVERIFY(settings::repeatedJsonKeys(nested).isEmpty());
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
