#include "consoletest.h"

#include "emulator/emulateddevice.h"
#include "usb/usbids.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>

using consoletest::OpenConsole;
using consoletest::written_reports;
using emulator::EmulatedDevice;

using Command = std::function<void(CKorvel &)>;
Q_DECLARE_METATYPE(Command)

namespace {
// A 10-byte output report from its leading bytes: the rest is zeros.
QString out(const QByteArray &leading)
{
    QByteArray report = QByteArray::fromHex(leading);
    report.resize(CKorvel::output_report_length, '\0');
    return consoletest::hex(report);
}

QStringList outs(std::initializer_list<const char *> reports)
{
    QStringList list;
    for (const char *leading : reports)
        list << out(leading);
    return list;
}
} // namespace

class TestEncoder : public QObject {
    Q_OBJECT

private slots:
    void init() { EmulatedDevice::instance().reset(); }

    void simple_command_data()
    {
        QTest::addColumn<Command>("command");
        QTest::addColumn<QString>("expected");
        // The two documented examples, written out in full.
        QTest::newRow("on(2, 1)") << Command([](CKorvel &k) { k.on(2, 1); }) << "04 05 02 01 00 00 00 00 00 00";
        QTest::newRow("ctrl_led(255, 2)")
            << Command([](CKorvel &k) { k.ctrl_led(255, 2); }) << "04 02 FF 02 00 00 00 00 00 00";

        QTest::newRow("ctrl_led") << Command([](CKorvel &k) { k.ctrl_led(3, 1); }) << out("04 02 03 01");
        QTest::newRow("ctrl_led_blink_write")
            << Command([](CKorvel &k) { k.ctrl_led_blink_write(15, 1, 2, 0); }) << out("06 03 0F 01 02 00");
        QTest::newRow("on all toggle") << Command([](CKorvel &k) { k.on(255, 2); }) << out("04 05 FF 02");
        QTest::newRow("on low 8 bits") << Command([](CKorvel &k) { k.on(-1, 258); }) << out("04 05 FF 02");
        QTest::newRow("cue") << Command([](CKorvel &k) { k.cue(10, 0); }) << out("04 06 0A 00");
        QTest::newRow("auto_cue_ann") << Command([](CKorvel &k) { k.auto_cue_ann(1); }) << out("03 08 01");
        QTest::newRow("auto_cue_crm") << Command([](CKorvel &k) { k.auto_cue_crm(2); }) << out("03 09 02");
        QTest::newRow("non_stop") << Command([](CKorvel &k) { k.non_stop(1); }) << out("03 0A 01");
        QTest::newRow("comm") << Command([](CKorvel &k) { k.comm(2, 1); }) << out("04 0B 02 01");
        QTest::newRow("cough") << Command([](CKorvel &k) { k.cough(0, 1); }) << out("04 0C 00 01");
        QTest::newRow("voicetrack") << Command([](CKorvel &k) { k.voicetrack(7, 1); }) << out("04 0D 07 01");
        QTest::newRow("config_auto_on") << Command([](CKorvel &k) { k.config_auto_on(5, 1); }) << out("04 11 05 01");
        QTest::newRow("config_cue_reset_write")
            << Command([](CKorvel &k) { k.config_cue_reset_write(4, 0x1F); }) << out("04 12 04 1F");
        QTest::newRow("config_on_air_write")
            << Command([](CKorvel &k) { k.config_on_air_write(1, 0x0A); }) << out("04 13 01 0A");
        QTest::newRow("config_crm_mute") << Command([](CKorvel &k) { k.config_crm_mute(2, 1); }) << out("04 14 02 01");
        QTest::newRow("config_crm_auto_cue_reset")
            << Command([](CKorvel &k) { k.config_crm_auto_cue_reset(255, 0); }) << out("04 15 FF 00");
        QTest::newRow("config_studio_remote_write")
            << Command([](CKorvel &k) { k.config_studio_remote_write(0, 5); }) << out("04 16 00 05");
        QTest::newRow("config_cue_interlock")
            << Command([](CKorvel &k) { k.config_cue_interlock(1); }) << out("03 17 01");
        QTest::newRow("config_gpo_write")
            << Command([](CKorvel &k) { k.config_gpo_write(1, 3, 1, 2, 200); }) << out("07 18 01 03 01 02 C8");
        QTest::newRow("config_cue_write")
            << Command([](CKorvel &k) { k.config_cue_write(9, 2, 1); }) << out("05 19 09 02 01");
        QTest::newRow("config_on_write") << Command([](CKorvel &k) { k.config_on_write(6, 1, 3, 2); })
                                         << out("06 1A 06 01 03 02");
        QTest::newRow("config_fader_reserve")
            << Command([](CKorvel &k) { k.config_fader_reserve(7, 1); }) << out("04 1B 07 01");
        QTest::newRow("config_silence_detection_write")
            << Command([](CKorvel &k) { k.config_silence_detection_write(0xEC, 10, 1, 2, 1); })
            << out("07 1C EC 0A 01 02 01");
        QTest::newRow("config_phantom") << Command([](CKorvel &k) { k.config_phantom(1, 1); }) << out("04 1D 01 01");
        QTest::newRow("config_mic_at_line")
            << Command([](CKorvel &k) { k.config_mic_at_line(2, 0); }) << out("04 1E 02 00");
        QTest::newRow("config_auto_off") << Command([](CKorvel &k) { k.config_auto_off(3, 1); }) << out("04 1F 03 01");
        QTest::newRow("track") << Command([](CKorvel &k) { k.track(4, 2); }) << out("04 2C 04 02");
        QTest::newRow("config_locked_on")
            << Command([](CKorvel &k) { k.config_locked_on(255, 1); }) << out("04 31 FF 01");
        QTest::newRow("config_pgm_auto_off_write")
            << Command([](CKorvel &k) { k.config_pgm_auto_off_write(7, 3); }) << out("04 32 07 03");
        QTest::newRow("config_mic_on") << Command([](CKorvel &k) { k.config_mic_on(2); }) << out("03 33 02");
        QTest::newRow("request(0x5C)") << Command([](CKorvel &k) { k.request(0x5C); })
                                       << "02 5C 00 00 00 00 00 00 00 00";
    }

    void simple_command()
    {
        QFETCH(Command, command);
        QFETCH(QString, expected);
        OpenConsole console;
        command(console.korvel);
        QCOMPARE(written_reports(), QStringList{expected});
    }

    void read_modify_write_data()
    {
        QTest::addColumn<QStringList>("state_reports");
        QTest::addColumn<Command>("command");
        QTest::addColumn<QStringList>("expected");

        const QStringList none;
        const QStringList cue_reset{"D2 01 00 1F 00 00 00 00 00"};
        const QStringList gpo{"D8 01 00 00 0A 03 01 02 14"};
        const QStringList silence{"DC EC 0A 01 02 01"};

        // Documented cases.
        QTest::newRow("cue_reset all given to all")
            << none << Command([](CKorvel &k) { k.config_cue_reset(255, 1, 0, 1, 0, 1); })
            << QStringList{"04 12 FF 15 00 00 00 00 00 00"};
        QTest::newRow("cue_reset one field for all")
            << cue_reset << Command([](CKorvel &k) { k.config_cue_reset(255, -1, 1, -1, -1, -1); })
            << outs({"04 12 00 03", "04 12 01 02", "04 12 02 1F", "04 12 03 02", "04 12 04 02", "04 12 05 02",
                     "04 12 06 02", "04 12 07 02"});
        QTest::newRow("cue_reset nothing given")
            << cue_reset << Command([](CKorvel &k) { k.config_cue_reset(3, -1, -1, -1, -1, -1); }) << none;
        QTest::newRow("cue colour from the high nibble")
            << QStringList{"D9 00 00 9C 00 00 00"} << Command([](CKorvel &k) { k.config_cue(5, -1, 2); })
            << QStringList{"05 19 05 01 02 00 00 00 00 00"};
        QTest::newRow("on colour and fader from byte 5")
            << QStringList{"DA 00 00 00 00 00 30"} << Command([](CKorvel &k) { k.config_on(6, 1, -1, 2); })
            << QStringList{"06 1A 06 01 03 02 00 00 00 00"};
        QTest::newRow("silence threshold marker 1")
            << silence << Command([](CKorvel &k) { k.config_silence_detection(1, 5, -1, -1, -1); })
            << outs({"07 1C EC 05 01 02 01"});
        QTest::newRow("silence threshold -1 is given")
            << silence << Command([](CKorvel &k) { k.config_silence_detection(-1, -1, -1, -1, -1); })
            << outs({"07 1C FF 0A 01 02 01"});
        QTest::newRow("silence nothing given")
            << silence << Command([](CKorvel &k) { k.config_silence_detection(1, -1, -1, -1, -1); }) << none;
        QTest::newRow("silence all given")
            << none << Command([](CKorvel &k) { k.config_silence_detection(-20, 10, 1, 2, 1); })
            << outs({"07 1C EC 0A 01 02 01"});
        QTest::newRow("silence threshold 0 given")
            << silence << Command([](CKorvel &k) { k.config_silence_detection(0, -1, -1, -1, -1); })
            << outs({"07 1C 00 0A 01 02 01"});
        QStringList blink_all;
        for (int led = 0; led < 16; ++led)
            blink_all << (led == 5 ? out("06 03 05 02 02 01")
                                   : out(QByteArray("06 03 ") + QByteArray::number(led, 16).rightJustified(2, '0') +
                                         " 02 00 02"));
        QTest::newRow("blink colour on for all LEDs")
            << QStringList{"C3 FF 01 00 02", "C3 05 01 02 01"}
            << Command([](CKorvel &k) { k.ctrl_led_blink(255, 2, -1, -1); }) << blink_all;
        QTest::newRow("blink all given") << none << Command([](CKorvel &k) { k.ctrl_led_blink(4, 1, 2, 0); })
                                         << outs({"06 03 04 01 02 00"});

        // The other commands and layouts.
        QTest::newRow("gpo time of GPO 1")
            << gpo << Command([](CKorvel &k) { k.config_gpo(1, -1, -1, -1, 30); }) << outs({"07 18 01 03 01 02 1E"});
        QTest::newRow("gpo trigger of all") << gpo << Command([](CKorvel &k) { k.config_gpo(255, 5, -1, -1, -1); })
                                            << outs({"07 18 00 05 00 00 0A", "07 18 01 05 01 02 14"});
        QTest::newRow("pgm auto off for all") << QStringList{"F2 01 00 03 00 01 00 00 02"}
                                              << Command([](CKorvel &k) { k.config_pgm_auto_off(255, -1, 1); })
                                              << outs({"04 32 00 03", "04 32 01 02", "04 32 02 03", "04 32 03 02",
                                                       "04 32 04 03", "04 32 05 02", "04 32 06 02", "04 32 07 02"});
        QTest::newRow("on air flags mixed")
            << QStringList{"D3 00 00 0C 00 00 00 00 00"}
            << Command([](CKorvel &k) { k.config_on_air(2, 1, -1, -1, 0); }) << outs({"04 13 02 05"});
        QTest::newRow("studio remote for all")
            << QStringList{"D6 01 02 04"} << Command([](CKorvel &k) { k.config_studio_remote(255, -1, -1, 1); })
            << outs({"04 16 00 05", "04 16 01 06", "04 16 02 04"});
        QTest::newRow("on colours for all")
            << QStringList{"DA 21 43 00 00 E4 1B"} << Command([](CKorvel &k) { k.config_on(255, -1, 2, -1); })
            << outs({"06 1A 00 01 02 00", "06 1A 01 02 02 00", "06 1A 02 03 02 00", "06 1A 03 00 02 01",
                     "06 1A 04 00 02 00", "06 1A 05 00 02 00", "06 1A 06 00 02 00", "06 1A 07 00 02 00"});
        QTest::newRow("cue colours for all")
            << QStringList{"D9 84 00 00 00 00 08"} << Command([](CKorvel &k) { k.config_cue(255, 1, -1); })
            << outs({"05 19 00 01 01", "05 19 01 01 02", "05 19 02 01 00", "05 19 03 01 00", "05 19 04 01 00",
                     "05 19 05 01 00", "05 19 06 01 00", "05 19 07 01 00", "05 19 08 01 00", "05 19 09 01 00",
                     "05 19 0A 01 02"});
        QTest::newRow("blink fields from an echo") << QStringList{} << Command([](CKorvel &k) {
            k.on_data_ready(consoletest::report("83 03 02 00 01"));
            k.ctrl_led_blink(3, -1, 1, -1);
        }) << outs({"06 03 03 02 01 01"});
        QTest::newRow("given flag shifted whole")
            << QStringList{"D2 00 00 00 00 00 00 00 00"}
            << Command([](CKorvel &k) { k.config_cue_reset(1, 2, -1, -1, -1, -1); }) << outs({"04 12 01 02"});
        QTest::newRow("member from the low 8 bits")
            << QStringList{"D2 00 00 04"} << Command([](CKorvel &k) { k.config_cue_reset(258, 1, -1, -1, -1, -1); })
            << outs({"04 12 02 05"});
        QTest::newRow("member -1 with all fields")
            << none << Command([](CKorvel &k) { k.config_cue(-1, 1, 2); }) << outs({"05 19 FF 01 02"});
        QTest::newRow("member -1 with a field missing")
            << QStringList{"D9 00 00 00 00 00 00"} << Command([](CKorvel &k) { k.config_cue(-1, 1, -1); }) << none;
        QTest::newRow("member beyond the list with a field missing")
            << QStringList{"D2 00 00 00 00 00 00 00 00 00 00"}
            << Command([](CKorvel &k) { k.config_cue_reset(8, 1, -1, -1, -1, -1); }) << none;
        QTest::newRow("led beyond the table with a field missing")
            << QStringList{"C3 FF 01 00 02"} << Command([](CKorvel &k) { k.ctrl_led_blink(16, 1, -1, -1); }) << none;

        // A field the console has not reported is never invented: that member is skipped.
        QTest::newRow("no cache entry") << none
                                        << Command([](CKorvel &k) { k.config_cue_reset(255, -1, 1, -1, -1, -1); })
                                        << none;
        QTest::newRow("short entry covers three members")
            << QStringList{"D2 01 00 1F"} << Command([](CKorvel &k) { k.config_cue_reset(255, -1, 1, -1, -1, -1); })
            << outs({"04 12 00 03", "04 12 01 02", "04 12 02 1F"});
        QTest::newRow("gpo 1 time beyond a short entry")
            << QStringList{"D8 01 00 00 0A 03 01 02"} << Command([](CKorvel &k) { k.config_gpo(1, 5, -1, -1, -1); })
            << none;
        QTest::newRow("gpo 1 given time, the rest within a short entry")
            << QStringList{"D8 01 00 00 0A 03 01 02"} << Command([](CKorvel &k) { k.config_gpo(1, -1, -1, -1, 5); })
            << outs({"07 18 01 03 01 02 05"});
        QTest::newRow("gpo all: only GPO 0 within a short entry")
            << QStringList{"D8 01 00 00 0A 03 01 02"} << Command([](CKorvel &k) { k.config_gpo(255, 5, -1, -1, -1); })
            << outs({"07 18 00 05 00 00 0A"});
        QTest::newRow("silence short entry")
            << QStringList{"DC EC 0A 01"} << Command([](CKorvel &k) { k.config_silence_detection(1, 5, -1, -1, -1); })
            << none;
        QTest::newRow("silence given fields need no entry")
            << QStringList{"DC EC 0A 01"} << Command([](CKorvel &k) { k.config_silence_detection(-3, 5, 0, 2, -1); })
            << none;
        QTest::newRow("on fader colour beyond a short entry")
            << QStringList{"DA 00 00 00 00 00"} << Command([](CKorvel &k) { k.config_on(7, 1, -1, 2); }) << none;
        QTest::newRow("on fader colour within a short entry")
            << QStringList{"DA 00 00 00 00 C0"} << Command([](CKorvel &k) { k.config_on(3, 1, -1, 2); })
            << outs({"06 1A 03 01 03 02"});
        // The LED tables are created whole by the first LED report; only the blink fields the console sent fill in.
        QTest::newRow("blink fields after only a steady report")
            << QStringList{"C2 01 02"} << Command([](CKorvel &k) { k.ctrl_led_blink(1, 1, -1, -1); }) << none;
        QTest::newRow("blink fields after only a steady echo") << none << Command([](CKorvel &k) {
            k.on_data_ready(consoletest::report("82 03 01"));
            k.ctrl_led_blink(3, -1, 1, -1);
        }) << none;
        QTest::newRow("blink for all: only the LEDs with blink fields")
            << QStringList{"C3 04 01 02 01", "C2 FF 03", "C3 0F 00 00 02"}
            << Command([](CKorvel &k) { k.ctrl_led_blink(255, -1, 3, -1); })
            << outs({"06 03 04 01 03 01", "06 03 0F 00 03 02"});
        QTest::newRow("blink fields forgotten when the link closes")
            << QStringList{"C3 02 01 02 01"} << Command([](CKorvel &k) {
                   k.on_disconnected();
                   k.on_data_ready(consoletest::report("C2 02 01"));
                   k.ctrl_led_blink(2, 3, -1, -1);
               })
            << none;
        QTest::newRow("blink without a table")
            << none << Command([](CKorvel &k) { k.ctrl_led_blink(3, 1, -1, -1); }) << none;
        QTest::newRow("studio remote short entry for all")
            << QStringList{"D6 07"} << Command([](CKorvel &k) { k.config_studio_remote(255, 1, -1, -1); })
            << outs({"04 16 00 07"});
    }

    void read_modify_write()
    {
        QFETCH(QStringList, state_reports);
        QFETCH(Command, command);
        QFETCH(QStringList, expected);
        OpenConsole console;
        for (const QString &report : state_reports)
            console.feed(report.toLatin1().constData());
        command(console.korvel);
        QCOMPARE(written_reports(), expected);
    }

    void reading_the_cache_creates_no_entry()
    {
        OpenConsole console;
        console.korvel.config_cue_reset(255, -1, 1, -1, -1, -1);
        console.korvel.config_gpo(1, -1, -1, -1, 5);
        console.korvel.config_silence_detection(1, 5, -1, -1, -1);
        console.korvel.ctrl_led_blink(2, 1, -1, -1);
        QVERIFY(written_reports().isEmpty());
        QVERIFY(console.korvel.report_cache().isEmpty());
    }

    void startup_requests()
    {
        CUSBHID usb(nullptr, korvel::usb::vendor_id, korvel::usb::product_id);
        CKorvel korvel(&usb, nullptr);
        QTest::ignoreMessage(QtDebugMsg, "USB Connected!");
        QCOMPARE(usb.start(), 0);

        const int types[] = {0x41, 0x42, 0x43, 0x44, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
                             0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x71, 0x72, 0x73, 0x60, 0x61, 0x62, 0x63,
                             0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x4B, 0x4C, 0x4D};
        QStringList expected;
        for (const int type : types)
            expected << out(QByteArray("02 ") + QByteArray::number(type, 16));
        QCOMPARE(expected.size(), 38);
        QCOMPARE(written_reports(), expected);
    }

    void cache_emptied_on_close_and_reopen()
    {
        OpenConsole console;
        console.feed("E0 00 00 01 00 00 00 00 00");
        console.feed("D2 01 00 1F 00 00 00 00 00");
        console.feed("82 04 02");
        QCOMPARE(console.korvel.report_cache().size(), 4);

        QTest::ignoreMessage(QtDebugMsg, "USB Disconnected");
        QCOMPARE(console.usb.stop(), 0);
        QVERIFY(console.korvel.report_cache().isEmpty());

        QTest::ignoreMessage(QtDebugMsg, "USB Connected!");
        QCOMPARE(console.usb.start(), 0);
        QVERIFY(console.korvel.report_cache().isEmpty());
        QCOMPARE(written_reports().size(), 38);
        EmulatedDevice::instance().clear_writes();

        // Nothing from before the close fills a command or makes a report a change.
        console.korvel.config_cue_reset(255, -1, 1, -1, -1, -1);
        QVERIFY(written_reports().isEmpty());
        QSignalSpy on_events(&console.korvel, &CKorvel::state_on_event);
        console.feed("E0 00 00 00 00 00 00 00 00");
        QCOMPARE(on_events.count(), 0);
    }

    void commands_on_a_closed_link_send_nothing()
    {
        OpenConsole console;
        QTest::ignoreMessage(QtDebugMsg, "USB Disconnected");
        console.usb.stop();
        console.korvel.on(1, 1);
        console.korvel.config_cue_reset(255, 1, 1, 1, 1, 1);
        QVERIFY(written_reports().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestEncoder)
#include "tst_ckorvel_encoder.moc"
