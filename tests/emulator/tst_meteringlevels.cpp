// The emulated console's meter levels and their one-byte encoding.
#include "emulator/meteringlevels.h"

#include <QSet>
#include <QTest>

using emulator::decode_level;
using emulator::encode_level;
using emulator::metering_levels;
using emulator::MeterInputs;
using emulator::MeterLevels;

class TestMeteringLevels : public QObject {
    Q_OBJECT

private slots:
    void encode_data()
    {
        QTest::addColumn<float>("level");
        QTest::addColumn<int>("byte");
        QTest::newRow("floor") << -50.0f << 0x00;
        QTest::newRow("below the floor") << -80.0f << 0x00;
        QTest::newRow("0 dB") << 0.0f << 0x32;
        QTest::newRow("a quarter") << 0.25f << 0x72;
        QTest::newRow("three quarters") << 0.75f << 0xF2;
        QTest::newRow("top") << 13.75f << 0xFF;
        QTest::newRow("above the top") << 20.0f << 0xFF;
        QTest::newRow("between quarters rounds down") << -12.3f << 0xA5; // -12.5
        QTest::newRow("negative whole") << -20.0f << 0x1E;
    }

    void encode()
    {
        QFETCH(float, level);
        QFETCH(int, byte);
        QCOMPARE(int(encode_level(level)), byte);
    }

    void everyByteSurvivesTheRoundTrip()
    {
        for (int b = 0; b < 256; ++b)
            QCOMPARE(int(encode_level(decode_level(static_cast<unsigned char>(b)))), b);
        QCOMPARE(decode_level(0xFF), 13.75f);
        QCOMPARE(decode_level(0x00), -50.0f);
    }

    void silenceWhenNothingFeedsTheBuses()
    {
        const MeterLevels levels = metering_levels(MeterInputs{}, 12345);
        for (const float level : levels)
            QCOMPARE(level, -50.0f);
    }

    void liveModuleFeedsProgrammePhonesAndControlRoom()
    {
        MeterInputs inputs;
        inputs.on_air[2] = true;
        const MeterLevels levels = metering_levels(inputs, 5000);
        QVERIFY(levels[0] > -50.0f && levels[0] < 13.75f);
        QVERIFY(levels[1] > -50.0f && levels[1] < 13.75f);
        QCOMPARE(levels[2], levels[0]);
        QCOMPARE(levels[3], levels[1]);
        QCOMPARE(levels[4], levels[0]);
        QCOMPARE(levels[5], levels[1]);
    }

    void mutedControlRoomIsSilent()
    {
        MeterInputs inputs;
        inputs.on_air[0] = true;
        inputs.crm_muted = true;
        const MeterLevels levels = metering_levels(inputs, 700);
        QVERIFY(levels[0] > -50.0f);
        QCOMPARE(levels[4], -50.0f);
        QCOMPARE(levels[5], -50.0f);
    }

    void cueFeedsOnlyThePhones()
    {
        MeterInputs inputs;
        inputs.cued[5] = true;
        const MeterLevels levels = metering_levels(inputs, 900);
        QCOMPARE(levels[0], -50.0f);
        QVERIFY(levels[2] > -50.0f);
        QVERIFY(levels[3] > -50.0f);
        QCOMPARE(levels[4], -50.0f);
    }

    void airCueHearsTheProgramme()
    {
        MeterInputs inputs;
        inputs.on_air[6] = true;
        inputs.air_cued = true;
        const MeterLevels levels = metering_levels(inputs, 4321);
        QCOMPARE(levels[2], levels[0]);
        QCOMPARE(levels[3], levels[1]);
    }

    void moreModulesAreLouder()
    {
        MeterInputs one;
        one.on_air[3] = true;
        MeterInputs two = one;
        two.on_air[4] = true;
        QVERIFY(metering_levels(two, 2500)[0] > metering_levels(one, 2500)[0]);
    }

    void levelsMoveButRepeat()
    {
        MeterInputs inputs;
        inputs.on_air[1] = true;
        QSet<unsigned char> seen;
        for (qint64 ms = 0; ms < 10000; ms += 50)
            seen.insert(encode_level(metering_levels(inputs, ms)[0]));
        QVERIFY2(seen.size() > 20, QByteArray::number(seen.size()).constData());
        QCOMPARE(metering_levels(inputs, 777), metering_levels(inputs, 777));
    }
};

QTEST_GUILESS_MAIN(TestMeteringLevels)
#include "tst_meteringlevels.moc"
