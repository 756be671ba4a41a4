// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the internal flash in a DFU bootloader's configuration, over the
// bytes a device sends: the STM32F4 ROM's layout and the other places a
// functional descriptor is found in.
#include "dfuconfiguration.h"

#include <QtTest>

using flashing::dfu::Configuration;

namespace {

const std::vector<std::string> kRomNames = {
    "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,03*128Kg",
    "@Option Bytes  /0x1FFFC000/01*016 e",
    "@OTP Memory /0x1FFF7800/01*512 e,01*016 e",
    "@Device Feature/0xFFFF0000/01*004 e",
};

std::vector<uint8_t> configurationHeader()
{
    return {0x09, 0x02, 0x00, 0x00, 0x01, 0x01, 0x00, 0xC0, 0x32};
}

std::vector<uint8_t> interfaceDescriptor(uint8_t alternate, uint8_t protocol = 0x02)
{
    return {0x09, 0x04, 0x00, alternate, 0x00, 0xFE, 0x01, protocol, uint8_t(4 + alternate)};
}

// bmAttributes 0x0B, detach 255 ms, 2048-byte transfers, DfuSe 1.1a.
const std::vector<uint8_t> kFunctional = {0x09, 0x21, 0x0B, 0xFF, 0x00, 0x00, 0x08, 0x1A, 0x01};

enum class FunctionalAt { LastSetting, EverySetting, Configuration, Nowhere };

std::vector<uint8_t> bootloader(FunctionalAt where)
{
    std::vector<uint8_t> bytes = configurationHeader();
    auto add = [&bytes](const std::vector<uint8_t> &d) { bytes.insert(bytes.end(), d.begin(), d.end()); };
    if (where == FunctionalAt::Configuration)
        add(kFunctional);
    for (uint8_t alt = 0; alt < 4; ++alt) {
        add(interfaceDescriptor(alt));
        if (where == FunctionalAt::EverySetting || (where == FunctionalAt::LastSetting && alt == 3))
            add(kFunctional);
    }
    bytes[2] = uint8_t(bytes.size());
    return bytes;
}

} // namespace

class TestDfuConfiguration : public QObject {
    Q_OBJECT
private slots:
    void functionalDescriptorWhereverItStands_data()
    {
        QTest::addColumn<int>("where");
        QTest::newRow("ROM: once, after the last setting") << int(FunctionalAt::LastSetting);
        QTest::newRow("after every setting") << int(FunctionalAt::EverySetting);
        QTest::newRow("after the configuration") << int(FunctionalAt::Configuration);
    }

    void functionalDescriptorWhereverItStands()
    {
        QFETCH(int, where);
        const std::vector<uint8_t> bytes = bootloader(FunctionalAt(where));
        if (where == int(FunctionalAt::LastSetting))
            QCOMPARE(bytes.size(), size_t(54)); // what `lsusb -v` shows for the F446's ROM
        Configuration config;
        QVERIFY(flashing::dfu::parseConfiguration(bytes.data(), bytes.size(), config));
        QCOMPARE(config.alternates.size(), size_t(4));
        QCOMPARE(config.functional.transferSize, uint16_t(2048));
        QCOMPARE(config.functional.dfuVersion, uint16_t(0x011A));
        for (uint8_t alt = 0; alt < 4; ++alt) {
            QCOMPARE(config.alternates[alt].alternateSetting, alt);
            QCOMPARE(config.alternates[alt].nameIndex, uint8_t(4 + alt));
        }
        // The internal flash, not the setting that carries the descriptor.
        QCOMPARE(flashing::dfu::chooseFlashAlternate(kRomNames, 0x08000000), 0);
    }

    void refusedConfigurations()
    {
        Configuration config;
        const std::vector<uint8_t> none = bootloader(FunctionalAt::Nowhere);
        QVERIFY(!flashing::dfu::parseConfiguration(none.data(), none.size(), config));
        QVERIFY(!config.hasFunctional);

        // Only a runtime-mode DFU interface (protocol 1): nothing to flash.
        std::vector<uint8_t> runtime = configurationHeader();
        for (uint8_t b : interfaceDescriptor(0, 0x01))
            runtime.push_back(b);
        runtime.insert(runtime.end(), kFunctional.begin(), kFunctional.end());
        runtime[2] = uint8_t(runtime.size());
        QVERIFY(!flashing::dfu::parseConfiguration(runtime.data(), runtime.size(), config));

        // Lengths the device gets wrong must not be read past.
        std::vector<uint8_t> rom = bootloader(FunctionalAt::LastSetting);
        QVERIFY(!flashing::dfu::parseConfiguration(rom.data(), rom.size() - 1, config));
        rom[9 + 9] = 0x01;
        QVERIFY(!flashing::dfu::parseConfiguration(rom.data(), rom.size(), config));
        QVERIFY(!flashing::dfu::parseConfiguration(nullptr, 0, config));
    }

    void flashIsChosenByNameThenByLayout()
    {
        using flashing::dfu::chooseFlashAlternate;
        const std::vector<std::string> flashLast = {kRomNames[1], kRomNames[3], kRomNames[0]};
        QCOMPARE(chooseFlashAlternate(flashLast, 0x08000000), 2);
        const std::vector<std::string> renamed = {kRomNames[1], "@Flash /0x08000000/08*128Kg"};
        QCOMPARE(chooseFlashAlternate(renamed, 0x08000000), 1);
        const std::vector<std::string> noFlash = {kRomNames[1], kRomNames[2], kRomNames[3], ""};
        QCOMPARE(chooseFlashAlternate(noFlash, 0x08000000), -1);
    }
};

QTEST_MAIN(TestDfuConfiguration)
#include "tst_dfuconfiguration.moc"
