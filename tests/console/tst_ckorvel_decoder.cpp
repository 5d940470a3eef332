#include "consoletest.h"
#include "eventrecorder.h"

#include "emulator/emulateddevice.h"

#include <QMetaMethod>
#include <QTest>

#include <utility>

using consoletest::bytes;
using consoletest::OpenConsole;
using consoletest::report;
using emulator::EmulatedDevice;

namespace {
const char *const zeros8 = "00 00 00 00 00 00 00 00";

QString with_type(const char *type, const char *payload)
{
    return QString::fromLatin1(type) + u' ' + QString::fromLatin1(payload);
}
} // namespace

class TestDecoder : public QObject {
    Q_OBJECT

private slots:
    void init() { EmulatedDevice::instance().reset(); }

    void meta_object_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<QByteArray>("parameters");
        const char *const methods[][2] = {
            {"ctrl_led_event(int,int)", "id,color"},
            {"ctrl_led_blink_event(int,int,int,int)", "id,color_on,color_off,blink_speed"},
            {"ctrl_switch_event(int,int)", "id,state"},
            {"config_auto_on_event(int,int)", "mod,state"},
            {"config_cue_reset_event(int,int,int,int,int,int)",
             "mod,enabled_by_line,enabled_by_mic_usb_voip,reset_by_fader,reset_by_on,reset_by_fader_and_on"},
            {"config_on_air_event(int,int,int,int,int)",
             "mod,on_air1_enabled_by_line,on_air1_enabled_by_mic_usb_voip,on_air2_enabled_by_line,"
             "on_air2_enabled_by_mic_usb_voip"},
            {"config_crm_mute_event(int,int)", "mod,state"},
            {"config_crm_auto_cue_reset_event(int,int)", "mod,state"},
            {"config_studio_remote_event(int,int,int,int)", "mod,cough_enable,comm_enable,comm_private"},
            {"config_cue_interlock_event(int)", "state"},
            {"config_gpo_event(int,int,int,int,int)", "gpo,trigger,mode,type,time"},
            {"config_cue_event(int,int,int)", "cue,color_on,color_off"},
            {"config_on_event(int,int,int,int)", "mod,color_on,color_on_and_fader,color_off"},
            {"config_fader_reserve_event(int,int)", "mod,state"},
            {"config_silence_detection_event(int,int,int,int,int)", "threshold,interval,interval_unit,source,enable"},
            {"config_phantom_event(int,int)", "mod,state"},
            {"config_mic_at_line_event(int,int)", "mod,state"},
            {"config_auto_off_event(int,int)", "mod,state"},
            {"config_locked_on_event(int,int)", "mod,state"},
            {"config_pgm_auto_off_event(int,int,int)", "mod,enabled_by_line,enabled_by_mic_usb_voip"},
            {"config_mic_on_event(int)", "trigger"},
            {"state_on_event(int,int)", "mod,state"},
            {"state_cue_event(int,int)", "cue,state"},
            {"state_fader_event(int,int)", "mod,state"},
            {"state_auto_cue_event(int,int)", "auto_cue,state"},
            {"state_src_sel_event(int,int)", "mod,source"},
            {"state_non_stop_event(int)", "state"},
            {"state_mic_on_event(int)", "state"},
            {"state_gpo_event(int,int)", "gpo,state"},
            {"state_on_air_event(int,int)", "on_air,state"},
            {"state_silence_detection_event(int)", "state"},
            {"state_metering_event(float,float,float,float,float,float)", "pgm_l,pgm_r,phones_l,phones_r,crm_l,crm_r"},
            {"state_module_event(int,int)", "mod,state"},
            {"state_crm_mute_event(int)", "state"},
            {"state_track_event(int,int)", "mod,state"},
            {"state_comm_event(int,int)", "mod,state"},
            {"state_cough_event(int,int)", "mod,state"},
            {"state_vt_event(int,int)", "mod,state"},
            {"state_phone_ringing_event(int)", "state"},
            {"state_connect_event(int)", "state"},
            {"on_connected()", ""},
            {"on_disconnected()", ""},
            {"on_data_ready(QByteArray)", "data"},
        };
        int index = 0;
        for (const auto &method : methods) {
            QTest::newRow(method[0]) << index << QByteArray(method[0]) << QByteArray(method[1]);
            ++index;
        }
    }

    void meta_object()
    {
        QFETCH(int, index);
        QFETCH(QByteArray, signature);
        QFETCH(QByteArray, parameters);
        const QMetaObject &meta = CKorvel::staticMetaObject;
        QCOMPARE(meta.methodCount() - meta.methodOffset(), 43);
        const QMetaMethod method = meta.method(meta.methodOffset() + index);
        QCOMPARE(method.methodSignature(), signature);
        QCOMPARE(method.parameterNames(), parameters.isEmpty() ? QList<QByteArray>{} : parameters.split(','));
        QCOMPARE(method.methodType(), index < 40 ? QMetaMethod::Signal : QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Public);
        QCOMPARE(method.returnType(), int(QMetaType::Void));
    }

    void events_data()
    {
        QTest::addColumn<QStringList>("earlier");
        QTest::addColumn<QString>("report");
        QTest::addColumn<QStringList>("expected");
        const QStringList none;
        const QStringList on_zeros{with_type("E0", zeros8)};

        // First and repeated reports.
        QTest::newRow("first report is silent") << none << "E0 00 00 01 00 00 00 00 00" << none;
        QTest::newRow("module 2 off") << QStringList{"E0 00 00 01 00 00 00 00 00"} << with_type("E0", zeros8)
                                      << QStringList{"state_on_event(2,0)"};
        QTest::newRow("identical report")
            << QStringList{"E0 00 00 01 00 00 00 00 00"} << "E0 00 00 01 00 00 00 00 00" << none;
        QTest::newRow("ascending members")
            << on_zeros << "E0 01 00 01 00 00 00 00 01"
            << QStringList{"state_on_event(0,1)", "state_on_event(2,1)", "state_on_event(7,1)"};

        // Bit words.
        QTest::newRow("cue bit 0 only") << QStringList{"E1 01 04"} << "E1 00 04" << QStringList{"state_cue_event(0,0)"};
        QTest::newRow("cue bits 11 and above")
            << QStringList{"E1 00 00"} << "E1 00 FC" << QStringList{"state_cue_event(10,1)"};
        QTest::newRow("control keys") << QStringList{"C4 00 00"} << "C4 00 81"
                                      << QStringList{"ctrl_switch_event(8,1)", "ctrl_switch_event(15,1)"};

        // Flags.
        QTest::newRow("cue reset flags") << QStringList{"D2 00 00 00 05 00 00 00 00"} << "D2 00 00 00 06 00 00 00 00"
                                         << QStringList{"config_cue_reset_event(3,0,1,-1,-1,-1)"};
        QTest::newRow("cue reset above its flags")
            << QStringList{with_type("D2", zeros8)} << "D2 20 00 00 00 00 00 00 00"
            << QStringList{"config_cue_reset_event(0,-1,-1,-1,-1,-1)"};
        QTest::newRow("on air flags") << QStringList{"D3 03 00 00 00 00 00 00 00"} << "D3 06 0F 00 00 00 00 00 00"
                                      << QStringList{"config_on_air_event(0,0,-1,1,-1)",
                                                     "config_on_air_event(1,1,1,1,1)"};
        QTest::newRow("studio remote flags")
            << QStringList{"D6 01 00 00"} << "D6 06 00 00" << QStringList{"config_studio_remote_event(0,0,1,1)"};
        QTest::newRow("pgm auto off flags") << QStringList{with_type("F2", zeros8)} << "F2 00 00 00 00 00 00 00 03"
                                            << QStringList{"config_pgm_auto_off_event(7,1,1)"};

        // GPO configuration.
        QTest::newRow("gpo 1 time only") << QStringList{"D8 01 00 00 0A 03 01 02 14"} << "D8 01 00 00 0A 03 01 02 1E"
                                         << QStringList{"config_gpo_event(1,-1,-1,-1,30)"};
        QTest::newRow("both gpos") << QStringList{"D8 01 00 00 0A 03 01 02 14"} << "D8 02 00 00 0A 03 00 02 14"
                                   << QStringList{"config_gpo_event(0,2,-1,-1,-1)", "config_gpo_event(1,-1,0,-1,-1)"};

        // Colour nibbles.
        QTest::newRow("cue 5 colour off")
            << QStringList{"D9 00 00 9C 00 00 00"} << "D9 00 00 5C 00 00 00" << QStringList{"config_cue_event(5,-1,1)"};
        QTest::newRow("cue 10 both colours")
            << QStringList{"D9 00 00 00 00 00 00"} << "D9 00 00 00 00 00 0E" << QStringList{"config_cue_event(10,2,3)"};
        QTest::newRow("nibble beyond cue 10") << QStringList{"D9 00 00 00 00 00 00"} << "D9 00 00 00 00 00 F0" << none;
        QTest::newRow("on colours") << QStringList{"DA 00 00 00 00 00 00"} << "DA 10 00 00 00 00 20"
                                    << QStringList{"config_on_event(1,1,-1,-1)", "config_on_event(6,-1,2,-1)"};
        QTest::newRow("on colour off of module 7") << QStringList{"DA 00 00 00 00 00 00"} << "DA 00 00 00 C0 00 00"
                                                   << QStringList{"config_on_event(7,-1,-1,3)"};

        // Silence detection.
        QTest::newRow("threshold -20 to -21") << QStringList{"DC EC 0A 00 02 01"} << "DC EB 0A 00 02 01"
                                              << QStringList{"config_silence_detection_event(-21,-1,-1,-1,-1)"};
        QTest::newRow("interval only") << QStringList{"DC EC 0A 00 02 01"} << "DC EC 0B 00 02 01"
                                       << QStringList{"config_silence_detection_event(1,11,-1,-1,-1)"};
        QTest::newRow("threshold to 1 alone") << QStringList{"DC EC 0A 00 02 01"} << "DC 01 0A 00 02 01" << none;
        QTest::newRow("threshold to 1 with interval") << QStringList{"DC EC 0A 00 02 01"} << "DC 01 0B 00 02 01"
                                                      << QStringList{"config_silence_detection_event(1,11,-1,-1,-1)"};
        QTest::newRow("threshold to -1") << QStringList{"DC EC 0A 00 02 01"} << "DC FF 0A 00 02 01"
                                         << QStringList{"config_silence_detection_event(-1,-1,-1,-1,-1)"};
        QTest::newRow("every silence field") << QStringList{"DC EC 0A 00 02 01"} << "DC 00 3C 01 00 00"
                                             << QStringList{"config_silence_detection_event(0,60,1,0,0)"};

        // Voice track: named positions only.
        QTest::newRow("voice track byte 4")
            << QStringList{with_type("CD", zeros8)} << "CD 00 00 00 00 01 00 00 00" << none;
        QTest::newRow("voice track byte 7") << QStringList{with_type("CD", zeros8)} << "CD 00 00 00 00 00 00 00 01"
                                            << QStringList{"state_vt_event(7,1)"};
        QTest::newRow("voice track every byte")
            << QStringList{with_type("CD", zeros8)} << "CD 01 01 01 01 01 01 01 01"
            << QStringList{"state_vt_event(0,1)", "state_vt_event(1,1)", "state_vt_event(2,1)", "state_vt_event(7,1)"};

        // Metering: every report, no comparison.
        const QStringList levels{"state_metering_event(0,0,-50,13.75,0.75,0.25)"};
        QTest::newRow("first metering") << none << "F0 32 32 00 FF F2 72" << levels;
        QTest::newRow("repeated metering") << QStringList{"F0 32 32 00 FF F2 72"} << "F0 32 32 00 FF F2 72" << levels;
        QTest::newRow("metering without six levels") << none << "F0 32 32 00 FF F2" << none;

        // LED reports.
        QTest::newRow("all red again") << QStringList{"C2 FF 01", "C3 04 02 00 01"} << "C2 FF 01" << none;
        QTest::newRow("all red over two green") << QStringList{"C2 FF 01", "C2 03 02", "C2 09 02"} << "C2 FF 01"
                                                << QStringList{"ctrl_led_event(3,1)", "ctrl_led_event(9,1)"};
        QTest::newRow("blink repeated") << QStringList{"C3 05 01 00 01"} << "C3 05 01 00 01" << none;
        QTest::newRow("blink speed only")
            << QStringList{"C3 05 01 00 01"} << "C3 05 01 00 02" << QStringList{"ctrl_led_blink_event(5,-1,-1,2)"};
        QTest::newRow("blink colour 0xFF is a value")
            << QStringList{"C3 05 01 00 01"} << "C3 05 FF 00 01" << QStringList{"ctrl_led_blink_event(5,255,-1,-1)"};
        QTest::newRow("steady colour as 0 to 255")
            << QStringList{"C2 FF 00"} << "C2 02 C8" << QStringList{"ctrl_led_event(2,200)"};
        QTest::newRow("blinking to steady in the old colour")
            << QStringList{"C2 06 02", "C3 06 01 00 01"} << "C2 06 02" << none;
        QTest::newRow("echo then the same colour") << QStringList{"82 04 02"} << "C2 04 02" << none;
        QTest::newRow("echo then the same blink") << QStringList{"83 07 01 02 00"} << "C3 07 01 02 00" << none;
        QTest::newRow("echo for all then one")
            << QStringList{"82 FF 02"} << "C2 0C 01" << QStringList{"ctrl_led_event(12,1)"};
        // The console answers LED commands with echoes: what they change is announced as a report would be.
        QTest::newRow("colour echo") << QStringList{"C2 FF 00"} << "82 04 02" << QStringList{"ctrl_led_event(4,2)"};
        QTest::newRow("same colour echo") << QStringList{"C2 04 02"} << "82 04 02" << none;
        QTest::newRow("blink echo") << QStringList{"C3 07 01 02 00"} << "83 07 01 00 00"
                                    << QStringList{"ctrl_led_blink_event(7,-1,0,-1)"};
        QTest::newRow("same blink echo") << QStringList{"83 07 01 02 00"} << "83 07 01 02 00" << none;
        QTest::newRow("colour echo for all")
            << QStringList{"C2 FF 02", "C2 05 01"} << "82 FF 02" << QStringList{"ctrl_led_event(5,2)"};
        QTest::newRow("first echo against zero tables") << none << "82 03 01" << QStringList{"ctrl_led_event(3,1)"};
        QTest::newRow("steady echo of the old colour after blinking")
            << QStringList{"C2 06 02", "C3 06 01 00 01"} << "82 06 02" << none;
        QTest::newRow("echo for LED 16") << QStringList{"C2 FF 00"} << "82 10 02" << none;
        QTest::newRow("first LED report against zero tables")
            << none << "C2 03 02" << QStringList{"ctrl_led_event(3,2)"};
        QTest::newRow("first LED report of off") << none << "C2 03 00" << none;
        QTest::newRow("first blink report")
            << none << "C3 01 01 00 02" << QStringList{"ctrl_led_blink_event(1,1,-1,2)"};
        QTest::newRow("LED 16") << QStringList{"C2 FF 00"} << "C2 10 02" << none;
        QTest::newRow("LED 254 blinking") << QStringList{"C2 FF 00"} << "C3 FE 01 01 01" << none;
        QTest::newRow("LED report without a colour") << QStringList{"C2 FF 00"} << "C2 03" << none;
        QTest::newRow("blink report without a speed") << QStringList{"C3 FF 00 00 00"} << "C3 03 01 01" << none;

        // Echoes, other message types, unlisted ids.
        QTest::newRow("other echo replaces the entry")
            << QStringList{"E0 00 00 01 00 00 00 00 00", "A0 00 00 00 00 00 01 00 00"} << "E0 00 00 00 00 00 01 00 00"
            << none;
        QTest::newRow("command ignored") << on_zeros << "20 01 01 01 01 01 01 01 01" << none;
        QTest::newRow("request ignored") << on_zeros << "60 01 01 01 01 01 01 01 01" << none;
        QTest::newRow("firmware cached only") << QStringList{"C1 02 0A 07"} << "C1 02 0B 07" << none;
        QTest::newRow("unlisted id 0x3F") << QStringList{"FF 00"} << "FF 01" << none;

        // Payloads of other lengths: nothing is read beyond either payload.
        QTest::newRow("shorter payload") << on_zeros << "E0 00 01 00" << QStringList{"state_on_event(1,1)"};
        QTest::newRow("longer payload") << QStringList{"E0 00 00"} << "E0 00 01 01 01"
                                        << QStringList{"state_on_event(1,1)"};
        QTest::newRow("extra bytes only") << on_zeros << "E0 00 00 00 00 00 00 00 00 05" << none;
        QTest::newRow("bit word of one byte")
            << QStringList{"C4 00"} << "C4 81 FF" << QStringList{"ctrl_switch_event(0,1)", "ctrl_switch_event(7,1)"};
        QTest::newRow("gpo 1 beyond a short payload")
            << QStringList{"D8 01 00 00 0A 03 01 02 14"} << "D8 01 00 00 0B 03"
            << QStringList{"config_gpo_event(0,-1,-1,-1,11)"};
        QTest::newRow("silence too short") << QStringList{"DC EC 0A 00 02 01"} << "DC EB 0A 00 02" << none;
        QTest::newRow("empty payload") << on_zeros << "E0" << none;

        // A change for every other state report.
        QTest::newRow("comm") << QStringList{"CB 00 00 00"} << "CB 00 00 01" << QStringList{"state_comm_event(2,1)"};
        QTest::newRow("comm beyond module 3") << QStringList{"CB 00 00 00 00"} << "CB 00 00 00 01" << none;
        QTest::newRow("cough") << QStringList{"CC 00 00 00"} << "CC 01 00 00" << QStringList{"state_cough_event(0,1)"};
        QTest::newRow("auto on") << QStringList{with_type("D1", zeros8)} << "D1 00 00 00 00 00 00 00 01"
                                 << QStringList{"config_auto_on_event(7,1)"};
        QTest::newRow("crm mute config") << QStringList{"D4 00 00 00"} << "D4 00 01 00"
                                         << QStringList{"config_crm_mute_event(1,1)"};
        QTest::newRow("crm auto cue reset")
            << QStringList{"D5 00 00 00"} << "D5 00 00 01" << QStringList{"config_crm_auto_cue_reset_event(2,1)"};
        QTest::newRow("cue interlock") << QStringList{"D7 00"} << "D7 01"
                                       << QStringList{"config_cue_interlock_event(1)"};
        QTest::newRow("fader reserve") << QStringList{with_type("DB", zeros8)} << "DB 00 00 00 00 01 00 00 00"
                                       << QStringList{"config_fader_reserve_event(4,1)"};
        QTest::newRow("phantom") << QStringList{"DD 00 00 00"} << "DD 01 00 00"
                                 << QStringList{"config_phantom_event(0,1)"};
        QTest::newRow("mic at line") << QStringList{"DE 00 00 00"} << "DE 00 01 00"
                                     << QStringList{"config_mic_at_line_event(1,1)"};
        QTest::newRow("auto off") << QStringList{with_type("DF", zeros8)} << "DF 00 00 00 01 00 00 00 00"
                                  << QStringList{"config_auto_off_event(3,1)"};
        QTest::newRow("fader") << QStringList{with_type("E2", zeros8)} << "E2 00 00 00 00 00 C8 00 00"
                               << QStringList{"state_fader_event(5,200)"};
        QTest::newRow("auto cue") << QStringList{"E3 00 00"} << "E3 01 01"
                                  << QStringList{"state_auto_cue_event(0,1)", "state_auto_cue_event(1,1)"};
        QTest::newRow("source select") << QStringList{with_type("E4", zeros8)} << "E4 00 00 00 00 00 00 00 01"
                                       << QStringList{"state_src_sel_event(7,1)"};
        QTest::newRow("non stop") << QStringList{"E5 00"} << "E5 01" << QStringList{"state_non_stop_event(1)"};
        QTest::newRow("mic on") << QStringList{"E6 01"} << "E6 00" << QStringList{"state_mic_on_event(0)"};
        QTest::newRow("gpo state") << QStringList{"E7 00 00"} << "E7 00 01" << QStringList{"state_gpo_event(1,1)"};
        QTest::newRow("on air") << QStringList{"E8 00 00"} << "E8 01 00" << QStringList{"state_on_air_event(0,1)"};
        QTest::newRow("silence state") << QStringList{"E9 00"} << "E9 01"
                                       << QStringList{"state_silence_detection_event(1)"};
        QTest::newRow("module active") << QStringList{with_type("EA", zeros8)} << "EA 00 00 01 00 00 00 00 00"
                                       << QStringList{"state_module_event(2,1)"};
        QTest::newRow("crm mute state") << QStringList{"EB 00"} << "EB 01" << QStringList{"state_crm_mute_event(1)"};
        QTest::newRow("track") << QStringList{with_type("EC", zeros8)} << "EC 00 00 00 00 00 00 02 00"
                               << QStringList{"state_track_event(6,2)"};
        QTest::newRow("phone ringing") << QStringList{"ED 00"} << "ED 01"
                                       << QStringList{"state_phone_ringing_event(1)"};
        QTest::newRow("connect") << QStringList{"EE 00"} << "EE FF" << QStringList{"state_connect_event(255)"};
        QTest::newRow("locked on") << QStringList{with_type("F1", zeros8)} << "F1 01 00 00 00 00 00 00 00"
                                   << QStringList{"config_locked_on_event(0,1)"};
        QTest::newRow("mic on mode") << QStringList{"F3 00"} << "F3 02" << QStringList{"config_mic_on_event(2)"};
    }

    void events()
    {
        QFETCH(QStringList, earlier);
        QFETCH(QString, report);
        QFETCH(QStringList, expected);
        OpenConsole console;
        EventRecorder recorder(&console.korvel);
        for (const QString &earlier_report : earlier)
            console.feed(earlier_report.toLatin1().constData());
        recorder.clear();
        console.feed(report.toLatin1().constData());
        QCOMPARE(recorder.texts(), expected);
    }

    void cache_contents()
    {
        OpenConsole console;
        CKorvel &k = console.korvel;
        console.feed("E0 00 00 01 00 00 00 00 00");
        QCOMPARE(k.cached(0x20), bytes("00 00 01 00 00 00 00 00"));
        console.feed("E0 00 01");
        QCOMPARE(k.cached(0x20), bytes("00 01"));
        console.feed("C1 02 0A 07");
        QCOMPARE(k.cached(0x01), bytes("02 0A 07"));
        console.feed("A0 05 06");
        QCOMPARE(k.cached(0x20), bytes("05 06"));
        console.feed("B3 01 02 03");
        QCOMPARE(k.cached(0x33), bytes("01 02 03"));
        console.feed("F0 32 32 00 FF F2 72 00 00");
        QCOMPARE(k.cached(0x30), bytes("32 32 00 FF F2 72 00 00"));
        console.feed("F0 01 02 03 04 05 06");
        QCOMPARE(k.cached(0x30), bytes("01 02 03 04 05 06"));

        // Other message types and reports without a type byte leave the cache alone.
        const CKorvel::ReportCache before = k.report_cache();
        console.feed("20 01 01 01");
        console.feed("60 01 01 01");
        console.feed("05 01");
        k.on_data_ready(QByteArray());
        k.on_data_ready(bytes("E0"));
        QCOMPARE(k.report_cache(), before);

        // An empty payload leaves no entry behind.
        console.feed("E0");
        QVERIFY(!k.report_cache().contains(0x20));
    }

    void led_tables()
    {
        OpenConsole console;
        CKorvel &k = console.korvel;
        // Reports for LEDs outside the tables do not even create them.
        console.feed("C2 10 01");
        console.feed("83 FE 01 01 01");
        console.feed("C2 03");
        QVERIFY(k.report_cache().isEmpty());

        console.feed("C3 04 02 00 01");
        QCOMPARE(k.cached(0x02), QByteArray(16, '\0'));
        QByteArray blink(64, '\0');
        blink.replace(16, 4, bytes("01 02 00 01"));
        QCOMPARE(k.cached(0x03), blink);

        console.feed("C2 FF 01");
        QCOMPARE(k.cached(0x02), QByteArray(16, '\x01'));
        blink[16] = 0;
        QCOMPARE(k.cached(0x03), blink);

        console.feed("83 FF 02 01 00");
        for (int led = 0; led < 16; ++led)
            QCOMPARE(k.cached(0x03).mid(4 * led, 4), bytes("01 02 01 00"));
        QCOMPARE(k.cached(0x02), QByteArray(16, '\x01'));

        console.feed("82 09 02");
        QCOMPARE(k.cached(0x02).at(9), '\x02');
        QCOMPARE(k.cached(0x03).mid(36, 4), bytes("00 02 01 00"));
        QCOMPARE(k.cached(0x02).size(), 16);
        QCOMPARE(k.cached(0x03).size(), 64);
    }

    void echo_creates_both_tables()
    {
        OpenConsole console;
        console.feed("82 00 02");
        QCOMPARE(console.korvel.cached(0x02), bytes("02") + QByteArray(15, '\0'));
        QCOMPARE(console.korvel.cached(0x03), QByteArray(64, '\0'));
    }

    void slots_see_the_previous_report()
    {
        OpenConsole console;
        CKorvel &k = console.korvel;
        console.feed("D2 00 00 00 00 00 00 00 00");
        QList<QByteArray> seen;
        connect(&k, &CKorvel::config_cue_reset_event, this, [&] { seen << k.cached(0x12); });
        console.feed("D2 01 00 00 00 00 00 00 03");
        QCOMPARE(seen, QList<QByteArray>(2, bytes("00 00 00 00 00 00 00 00")));
        QCOMPARE(k.cached(0x12), bytes("01 00 00 00 00 00 00 03"));

        // Metering likewise; the first report is stored before it is announced.
        QList<QByteArray> meters;
        connect(&k, &CKorvel::state_metering_event, this, [&] { meters << k.cached(0x30); });
        console.feed("F0 01 01 01 01 01 01");
        console.feed("F0 02 02 02 02 02 02");
        QCOMPARE(meters, (QList<QByteArray>{bytes("01 01 01 01 01 01"), bytes("01 01 01 01 01 01")}));
    }

    void led_slots_see_the_updated_table()
    {
        OpenConsole console;
        CKorvel &k = console.korvel;
        console.feed("C2 FF 00");
        QStringList seen;
        connect(&k, &CKorvel::ctrl_led_event, this, [&](int id, int color) {
            seen << QStringLiteral("%1:%2:%3").arg(id).arg(color).arg(int(k.cached(0x02).at(id)));
            // The next LED is not updated yet.
            if (id < 15)
                seen << QString::number(int(k.cached(0x02).at(id + 1)));
        });
        console.feed("C2 FF 02");
        QCOMPARE(seen.size(), 31);
        QCOMPARE(seen.first(), QStringLiteral("0:2:2"));
        QCOMPARE(seen.at(1), QStringLiteral("0"));
        QCOMPARE(seen.last(), QStringLiteral("15:2:2"));
    }

    void close_during_an_event_ends_the_report()
    {
        OpenConsole console;
        CKorvel &k = console.korvel;
        console.feed(with_type("E0", zeros8).toLatin1().constData());
        console.feed("C2 FF 00");
        int events = 0;
        auto close = [&] {
            ++events;
            if (!console.usb.is_connected())
                return;
            QTest::ignoreMessage(QtDebugMsg, "USB Disconnected");
            console.usb.stop();
        };
        connect(&k, &CKorvel::state_on_event, this, close);
        connect(&k, &CKorvel::ctrl_led_event, this, close);
        connect(&k, &CKorvel::state_metering_event, this, close);

        console.feed("E0 01 01 01 01 01 01 01 01");
        QCOMPARE(events, 1);
        QVERIFY(k.report_cache().isEmpty());

        QTest::ignoreMessage(QtDebugMsg, "USB Connected!");
        QCOMPARE(console.usb.start(), 0);
        console.feed("C2 FF 02");
        QCOMPARE(events, 2);
        QVERIFY(k.report_cache().isEmpty());

        QTest::ignoreMessage(QtDebugMsg, "USB Connected!");
        QCOMPARE(console.usb.start(), 0);
        console.feed("F0 01 01 01 01 01 01");
        QCOMPARE(events, 3);
        QVERIFY(k.report_cache().isEmpty());
    }

    void report_fed_from_a_slot()
    {
        OpenConsole console;
        CKorvel &k = console.korvel;
        EventRecorder recorder(&k);
        console.feed(with_type("E0", zeros8).toLatin1().constData());
        console.feed(with_type("E2", zeros8).toLatin1().constData());
        bool fed = false;
        connect(&k, &CKorvel::state_on_event, this, [&] {
            if (!std::exchange(fed, true))
                console.feed("E2 00 01 00 00 00 00 00 00");
        });
        console.feed("E0 01 01 00 00 00 00 00 00");
        QCOMPARE(recorder.texts(),
                 (QStringList{"state_on_event(0,1)", "state_fader_event(1,1)", "state_on_event(1,1)"}));
        QCOMPARE(k.cached(0x20), bytes("01 01 00 00 00 00 00 00"));
        QCOMPARE(k.cached(0x22), bytes("00 01 00 00 00 00 00 00"));
    }

    void reports_through_the_link()
    {
        // The decoder runs on what the link reads, and the cache fills from the answers to the requests.
        OpenConsole console;
        EventRecorder recorder(&console.korvel);
        auto &device = EmulatedDevice::instance();
        device.queue_input(report("E0 00 00 01 00 00 00 00 00"));
        device.queue_input(report("E0 00 00 00 00 00 00 00 00"));
        QTRY_COMPARE(recorder.texts(), QStringList{"state_on_event(2,0)"});
        QCOMPARE(console.korvel.cached(0x20), bytes("00 00 00 00 00 00 00 00"));
    }
};

QTEST_GUILESS_MAIN(TestDecoder)
#include "tst_ckorvel_decoder.moc"
