// State and configuration snapshots built from the report cache.
#include "wstestclient.h"

#include "console/ckorvel.h"
#include "console/items.h"
#include "emulator/emulateddevice.h"
#include "protocol/core.h"
#include "usb/cusbhid.h"
#include "websocket/cwebsocketinterface.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <memory>

using emulator::EmulatedDevice;
using Reports = QList<QByteArray>;

namespace {
QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (const int v : values)
        result.append(static_cast<char>(v));
    return result;
}

// A state report (message type 3) of the given type byte.
QByteArray state(unsigned char type, std::initializer_list<int> payload)
{
    return input_report(type, bytes(payload));
}

// Reports after which the LED colour table holds colour and the blink table holds blink, whether the decoder
// keeps the tables itself (echoes set every entry, LED reports change one LED) or caches each payload as it
// comes. The last two reports are LED reports for LED colour[0] == blink[0], whose values they repeat.
Reports led_tables(const QByteArray &colour, const QByteArray &blink)
{
    Reports reports;
    for (int i = 0; i < 16; ++i)
        reports.append(input_report(0x82, bytes({i, colour.at(i)})));
    for (int i = 0; i < 16; ++i) {
        if (blink.at(4 * i) != 0)
            reports.append(
                input_report(0x83, bytes({i, blink.at(4 * i + 1), blink.at(4 * i + 2), blink.at(4 * i + 3)})));
    }
    reports.append(input_report(0xC2, colour));
    reports.append(input_report(0xC3, blink));
    return reports;
}

QByteArray led_colours()
{
    // LED 0 red, LED 1 red (the report's own LED and colour), LEDs 3, 6 and 15 green, LED 5 an unknown code.
    QByteArray table(16, '\0');
    table[0] = 1;
    table[1] = 1;
    table[3] = 2;
    table[5] = 3;
    table[6] = 2;
    table[15] = 2;
    return table;
}

QByteArray led_blinks(bool a4_blinking)
{
    QByteArray table(64, '\0');
    // LED 1 blinks green/red at normal speed; byte 0 (its LED number) makes LED 0 blink the same way.
    const QByteArray led1 = bytes({1, 2, 1, 1});
    table.replace(0, 4, led1);
    table.replace(4, 4, led1);
    if (a4_blinking)
        table.replace(12, 4, bytes({1, 1, 0, 2}));
    // LED 6 blinks with an unknown colour off and speed.
    table.replace(24, 4, bytes({1, 2, 7, 3}));
    return table;
}

const QStringList state_keys{"auto_cue",      "crm_mute",      "ctrl_key",          "ctrl_led",
                             "cue",           "fader",         "firmware",          "gpo",
                             "mic_on",        "module_active", "non_stop",          "on",
                             "on_air",        "phone_ringing", "silence_detection", "source_select",
                             "studio_remote", "track",         "voicetrack",        "voip_connect"};
const QStringList config_keys{"config_auto_off",
                              "config_auto_on",
                              "config_crm_auto_cue_reset",
                              "config_crm_mute",
                              "config_cue",
                              "config_cue_interlock",
                              "config_cue_reset",
                              "config_fader_reserve",
                              "config_gpo",
                              "config_locked_on",
                              "config_mic_at_line",
                              "config_mic_on",
                              "config_on",
                              "config_on_air",
                              "config_phantom",
                              "config_pgm_auto_off",
                              "config_silence_detection",
                              "config_studio_remote"};

// One report of every id the snapshots read, every code inside its list.
Reports full_set()
{
    Reports reports = led_tables(led_colours(), led_blinks(true));
    reports << state(0xC1, {1, 4, 12}) << state(0xC4, {0, 0}) << state(0xCB, {0, 0, 0}) << state(0xCC, {0, 0, 0})
            << state(0xCD, {0, 0, 0, 0, 0, 0, 0, 0});
    for (const int type :
         {0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF, 0xE0, 0xE1,
          0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xF1, 0xF2, 0xF3})
        reports << state(static_cast<unsigned char>(type), {0, 0, 0, 0, 0, 0, 0, 0});
    return reports;
}

// The items whose reports feed a key: its catalogue rows, and the studio remote's two switches for theirs.
QList<korvel::ReportId> items_of(const QString &key)
{
    QList<korvel::ReportId> ids;
    for (const korvel::Item &row : korvel::catalogue) {
        if (row.snapshot && key == QLatin1String(row.snapshot))
            ids << row.id;
    }
    if (key == QLatin1String(korvel::studio_remote_snapshot)) {
        for (const auto &[id, name] : korvel::studio_remote_switches)
            ids << id;
    }
    return ids;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}
} // namespace

class TestWsSnapshots : public QObject {
    Q_OBJECT

    std::unique_ptr<WsRig> rig;

    void feed(const Reports &reports)
    {
        for (const QByteArray &report : reports)
            rig->console->on_data_ready(report);
    }

    QJsonObject snapshot()
    {
        QJsonObject data;
        rig->ws->get_config(data);
        rig->ws->get_states(data);
        return data;
    }

private slots:
    void init()
    {
        EmulatedDevice::instance().reset();
        rig = std::make_unique<WsRig>();
        QCOMPARE(rig->link->start(), 0);
    }

    void cleanup() { rig.reset(); }

    void builder_data()
    {
        QTest::addColumn<Reports>("reports");
        QTest::addColumn<QString>("key");
        // The key's value, compact; empty when the key must be left out.
        QTest::addColumn<QByteArray>("expected");

        auto row = [](const char *name, const Reports &reports, const char *key, const char *expected) {
            QTest::newRow(name) << reports << QString::fromLatin1(key) << QByteArray(expected);
        };

        row("LED a4 blinking", led_tables(led_colours(), led_blinks(true)), "ctrl_led",
            R"({"a1":{"blink_speed":"normal","color_off":"red","color_on":"green"},)"
            R"("a2":{"blink_speed":"normal","color_off":"red","color_on":"green"},"a3":"off",)"
            R"("a4":{"blink_speed":"fast","color_off":"off","color_on":"red"},"a5":"off",)"
            R"("a7":{"color_on":"green"},"a8":"off","b1":"off","b2":"off","b3":"off","b4":"off","b5":"off",)"
            R"("b6":"off","b7":"off","b8":"green"})");
        row("LED a4 steady", led_tables(led_colours(), led_blinks(false)), "ctrl_led",
            R"({"a1":{"blink_speed":"normal","color_off":"red","color_on":"green"},)"
            R"("a2":{"blink_speed":"normal","color_off":"red","color_on":"green"},"a3":"off","a4":"green","a5":"off",)"
            R"("a7":{"color_on":"green"},"a8":"off","b1":"off","b2":"off","b3":"off","b4":"off","b5":"off",)"
            R"("b6":"off","b7":"off","b8":"green"})");
        row("LEDs never reported", {}, "ctrl_led", "");

        row("control keys", {state(0xC4, {0x01, 0x80})}, "ctrl_key",
            R"({"a1":true,"a2":false,"a3":false,"a4":false,"a5":false,"a6":false,"a7":false,"a8":false,)"
            R"("b1":false,"b2":false,"b3":false,"b4":false,"b5":false,"b6":false,"b7":false,"b8":true})");
        row("control keys, one byte", {state(0xC4, {0x01})}, "ctrl_key", "");
        row("on", {state(0xE0, {1, 0, 0, 0, 0, 0, 0, 1})}, "on",
            R"({"mod1":true,"mod2":false,"mod3":false,"mod4":false,"mod5":false,"mod6":false,"mod7":false,"mod8":true})");
        row("on, short entry", {state(0xE0, {1, 0, 0})}, "on", "");
        row("on, never reported", {}, "on", "");
        row("cue", {state(0xE1, {0x05, 0x04})}, "cue",
            R"({"air":true,"aux":false,"mod1":true,"mod2":false,"mod3":true,"mod4":false,"mod5":false,"mod6":false,)"
            R"("mod7":false,"mod8":false,"non_stop":false})");
        row("fader", {state(0xE2, {0, 1, 0, 0, 0, 0, 0, 0})}, "fader",
            R"({"mod1":false,"mod2":true,"mod3":false,"mod4":false,"mod5":false,"mod6":false,"mod7":false,"mod8":false})");
        row("auto cue", {state(0xE3, {0, 7})}, "auto_cue", R"({"announcer":true,"crm":false})");
        row("source select", {state(0xE4, {1, 0, 0, 5, 0, 0, 0, 1})}, "source_select",
            R"({"mod1":"mic","mod2":"line","mod3":"line","mod4":"usb","mod5":"line","mod6":"line","mod7":"line",)"
            R"("mod8":"voip"})");
        row("source select, all line", {state(0xE4, {0, 0, 0, 0, 0, 0, 0, 0})}, "source_select",
            R"({"mod1":"line","mod2":"line","mod3":"line","mod4":"line","mod5":"line","mod6":"line","mod7":"line",)"
            R"("mod8":"line"})");
        row("non stop", {state(0xE5, {1})}, "non_stop", "true");
        row("mic on", {state(0xE6, {0})}, "mic_on", "false");
        row("gpo", {state(0xE7, {0, 1})}, "gpo", R"({"gpo1":false,"gpo2":true})");
        row("on air", {state(0xE8, {1, 0})}, "on_air", R"({"on_air1":true,"on_air2":false})");
        row("silence detection", {state(0xE9, {1})}, "silence_detection", "true");
        row("module active", {state(0xEA, {0, 0, 0, 0, 1, 0, 0, 0})}, "module_active",
            R"({"mod1":false,"mod2":false,"mod3":false,"mod4":false,"mod5":true,"mod6":false,"mod7":false,"mod8":false})");
        row("crm mute", {state(0xEB, {1})}, "crm_mute", "true");
        row("track, code 3 left out", {state(0xEC, {0, 1, 2, 3, 0, 0, 0, 0})}, "track",
            R"({"mod1":"stop","mod2":"play","mod3":"end","mod5":"stop","mod6":"stop","mod7":"stop","mod8":"stop"})");
        row("studio remote", {state(0xCB, {1, 0, 1}), state(0xCC, {0, 1, 0})}, "studio_remote",
            R"({"mod1":{"comm":true,"cough":false},"mod2":{"comm":false,"cough":true},"mod3":{"comm":true,"cough":false}})");
        row("studio remote without cough", {state(0xCB, {1, 0, 1})}, "studio_remote", "");
        row("voicetrack", {state(0xCD, {1, 0, 1, 1, 1, 1, 1, 1})}, "voicetrack",
            R"({"mod1":true,"mod2":false,"mod3":true,"mod8":true})");
        row("phone ringing", {state(0xED, {1})}, "phone_ringing", "true");
        row("voip connect", {state(0xEE, {0})}, "voip_connect", "false");
        row("firmware 2.10.7", {state(0xC1, {0x02, 0x0A, 0x07})}, "firmware", R"("2.10.7")");
        row("firmware unsigned", {state(0xC1, {0xFF, 0x00, 0x80})}, "firmware", R"("255.0.128")");
        row("firmware, two bytes", {state(0xC1, {1, 4})}, "firmware", "");

        row("config auto on", {state(0xD1, {0, 0, 1, 0, 0, 0, 0, 0})}, "config_auto_on",
            R"({"mod1":false,"mod2":false,"mod3":true,"mod4":false,"mod5":false,"mod6":false,"mod7":false,"mod8":false})");
        row("config cue reset", {state(0xD2, {0x1F, 0, 0, 0x05, 0, 0, 0, 0x10})}, "config_cue_reset",
            R"({"mod1":{"enabled_by_line":true,"enabled_by_mic_usb_voip":true,"reset_by_fader":true,"reset_by_fader_and_on":true,"reset_by_on":true},)"
            R"("mod2":{"enabled_by_line":false,"enabled_by_mic_usb_voip":false,"reset_by_fader":false,"reset_by_fader_and_on":false,"reset_by_on":false},)"
            R"("mod3":{"enabled_by_line":false,"enabled_by_mic_usb_voip":false,"reset_by_fader":false,"reset_by_fader_and_on":false,"reset_by_on":false},)"
            R"("mod4":{"enabled_by_line":true,"enabled_by_mic_usb_voip":false,"reset_by_fader":true,"reset_by_fader_and_on":false,"reset_by_on":false},)"
            R"("mod5":{"enabled_by_line":false,"enabled_by_mic_usb_voip":false,"reset_by_fader":false,"reset_by_fader_and_on":false,"reset_by_on":false},)"
            R"("mod6":{"enabled_by_line":false,"enabled_by_mic_usb_voip":false,"reset_by_fader":false,"reset_by_fader_and_on":false,"reset_by_on":false},)"
            R"("mod7":{"enabled_by_line":false,"enabled_by_mic_usb_voip":false,"reset_by_fader":false,"reset_by_fader_and_on":false,"reset_by_on":false},)"
            R"("mod8":{"enabled_by_line":false,"enabled_by_mic_usb_voip":false,"reset_by_fader":false,"reset_by_fader_and_on":true,"reset_by_on":false}})");
        row("config on air", {state(0xD3, {0x0A, 0x05, 0, 0, 0, 0, 0, 0xFF})}, "config_on_air",
            R"({"mod1":{"on_air1_enabled_by_line":false,"on_air1_enabled_by_mic_usb_voip":true,"on_air2_enabled_by_line":false,"on_air2_enabled_by_mic_usb_voip":true},)"
            R"("mod2":{"on_air1_enabled_by_line":true,"on_air1_enabled_by_mic_usb_voip":false,"on_air2_enabled_by_line":true,"on_air2_enabled_by_mic_usb_voip":false},)"
            R"("mod3":{"on_air1_enabled_by_line":false,"on_air1_enabled_by_mic_usb_voip":false,"on_air2_enabled_by_line":false,"on_air2_enabled_by_mic_usb_voip":false},)"
            R"("mod4":{"on_air1_enabled_by_line":false,"on_air1_enabled_by_mic_usb_voip":false,"on_air2_enabled_by_line":false,"on_air2_enabled_by_mic_usb_voip":false},)"
            R"("mod5":{"on_air1_enabled_by_line":false,"on_air1_enabled_by_mic_usb_voip":false,"on_air2_enabled_by_line":false,"on_air2_enabled_by_mic_usb_voip":false},)"
            R"("mod6":{"on_air1_enabled_by_line":false,"on_air1_enabled_by_mic_usb_voip":false,"on_air2_enabled_by_line":false,"on_air2_enabled_by_mic_usb_voip":false},)"
            R"("mod7":{"on_air1_enabled_by_line":false,"on_air1_enabled_by_mic_usb_voip":false,"on_air2_enabled_by_line":false,"on_air2_enabled_by_mic_usb_voip":false},)"
            R"("mod8":{"on_air1_enabled_by_line":true,"on_air1_enabled_by_mic_usb_voip":true,"on_air2_enabled_by_line":true,"on_air2_enabled_by_mic_usb_voip":true}})");
        row("config crm mute", {state(0xD4, {1, 0, 1})}, "config_crm_mute",
            R"({"mod1":true,"mod2":false,"mod3":true})");
        row("config crm auto cue reset", {state(0xD5, {0, 1, 0})}, "config_crm_auto_cue_reset",
            R"({"mod1":false,"mod2":true,"mod3":false})");
        row("config studio remote", {state(0xD6, {0x07, 0x01, 0x06})}, "config_studio_remote",
            R"({"mod1":{"comm_enable":true,"comm_private":true,"cough_enable":true},)"
            R"("mod2":{"comm_enable":false,"comm_private":false,"cough_enable":true},)"
            R"("mod3":{"comm_enable":true,"comm_private":true,"cough_enable":false}})");
        row("config cue interlock", {state(0xD7, {1})}, "config_cue_interlock", "true");
        row("config gpo, trigger 14 left out", {state(0xD8, {3, 1, 2, 30, 14, 0, 0, 255})}, "config_gpo",
            R"({"gpo1":{"mode":"inverted","time":30,"trigger":"phone","type":"pulse_by_off"},)"
            R"("gpo2":{"mode":"non_inverted","time":255,"type":"continues"}})");
        row("config gpo, one GPO only", {state(0xD8, {3, 1, 2, 30})}, "config_gpo", "");
        row("config cue colours", {state(0xD9, {0x29, 0, 0, 0, 0, 0x07})}, "config_cue",
            R"({"air":{"color_off":"red"},"aux":{"color_off":"off","color_on":"off"},)"
            R"("mod1":{"color_off":"green","color_on":"red"},"mod2":{"color_off":"off","color_on":"green"},)"
            R"("mod3":{"color_off":"off","color_on":"off"},"mod4":{"color_off":"off","color_on":"off"},)"
            R"("mod5":{"color_off":"off","color_on":"off"},"mod6":{"color_off":"off","color_on":"off"},)"
            R"("mod7":{"color_off":"off","color_on":"off"},"mod8":{"color_off":"off","color_on":"off"},)"
            R"("non_stop":{"color_off":"off","color_on":"off"}})");
        row("config on colours", {state(0xDA, {0x16, 0, 0, 0, 0x01, 0xC8})}, "config_on",
            R"({"mod1":{"color_off":"red","color_on":"green","color_on_and_fader":"red"},)"
            R"("mod2":{"color_off":"off","color_on":"red","color_on_and_fader":"off"},)"
            R"("mod3":{"color_off":"off","color_on":"off","color_on_and_fader":"off"},)"
            R"("mod4":{"color_off":"off","color_on":"off","color_on_and_fader":"off"},)"
            R"("mod5":{"color_off":"off","color_on":"off","color_on_and_fader":"off"},)"
            R"("mod6":{"color_off":"off","color_on":"off","color_on_and_fader":"green"},)"
            R"("mod7":{"color_off":"off","color_on":"off","color_on_and_fader":"off"},)"
            R"("mod8":{"color_off":"off","color_on":"off"}})");
        row("config on colours, five bytes", {state(0xDA, {0x16, 0, 0, 0, 0x01})}, "config_on", "");
        row("config fader reserve", {state(0xDB, {0, 0, 0, 0, 0, 0, 1, 0})}, "config_fader_reserve",
            R"({"mod1":false,"mod2":false,"mod3":false,"mod4":false,"mod5":false,"mod6":false,"mod7":true,"mod8":false})");
        row("config silence detection, threshold -20", {state(0xDC, {0xEC, 10, 1, 2, 1})}, "config_silence_detection",
            R"({"enable":true,"interval":10,"interval_unit":"minutes","source":"stereo","threshold":-20})");
        row("config silence detection, codes out of list", {state(0xDC, {0x05, 200, 2, 3, 0})},
            "config_silence_detection", R"({"enable":false,"interval":200,"threshold":5})");
        row("config silence detection, four bytes", {state(0xDC, {0xEC, 10, 1, 2})}, "config_silence_detection", "");
        row("config phantom", {state(0xDD, {0, 0, 1})}, "config_phantom", R"({"mod1":false,"mod2":false,"mod3":true})");
        row("config mic at line", {state(0xDE, {1, 0, 0})}, "config_mic_at_line",
            R"({"mod1":true,"mod2":false,"mod3":false})");
        row("config auto off", {state(0xDF, {1, 1, 1, 1, 1, 1, 1, 0})}, "config_auto_off",
            R"({"mod1":true,"mod2":true,"mod3":true,"mod4":true,"mod5":true,"mod6":true,"mod7":true,"mod8":false})");
        row("config locked on", {state(0xF1, {0, 0, 0, 0, 0, 0, 0, 9})}, "config_locked_on",
            R"({"mod1":false,"mod2":false,"mod3":false,"mod4":false,"mod5":false,"mod6":false,"mod7":false,"mod8":true})");
        row("config pgm auto off", {state(0xF2, {1, 2, 3, 0, 0, 0, 0, 0})}, "config_pgm_auto_off",
            R"({"mod1":{"enabled_by_line":true,"enabled_by_mic_usb_voip":false},)"
            R"("mod2":{"enabled_by_line":false,"enabled_by_mic_usb_voip":true},)"
            R"("mod3":{"enabled_by_line":true,"enabled_by_mic_usb_voip":true},)"
            R"("mod4":{"enabled_by_line":false,"enabled_by_mic_usb_voip":false},)"
            R"("mod5":{"enabled_by_line":false,"enabled_by_mic_usb_voip":false},)"
            R"("mod6":{"enabled_by_line":false,"enabled_by_mic_usb_voip":false},)"
            R"("mod7":{"enabled_by_line":false,"enabled_by_mic_usb_voip":false},)"
            R"("mod8":{"enabled_by_line":false,"enabled_by_mic_usb_voip":false}})");
        row("config mic on, code 1", {state(0xF3, {1})}, "config_mic_on", R"("on_air1")");
        row("config mic on, code 5", {state(0xF3, {5})}, "config_mic_on", "");
        row("config mic on, code 3", {state(0xF3, {3})}, "config_mic_on", "");
    }

    void builder()
    {
        QFETCH(Reports, reports);
        QFETCH(QString, key);
        QFETCH(QByteArray, expected);
        feed(reports);
        const QJsonObject data = snapshot();
        if (expected.isEmpty()) {
            QVERIFY2(!data.contains(key), qPrintable(QJsonDocument(data).toJson(QJsonDocument::Compact)));
            return;
        }
        QVERIFY(data.contains(key));
        const QJsonDocument wanted = QJsonDocument::fromJson("{\"v\":" + expected + "}");
        QVERIFY2(!wanted.isNull(), expected.constData());
        QCOMPARE(data.value(key), wanted.object().value("v"));
    }

    // What a notification of each item has rebuilt (the MQTT bridge's state topics): that key alone, as the
    // whole snapshot has it, or nothing where the snapshot leaves it out.
    void item_snapshot_data() { builder_data(); }

    void item_snapshot()
    {
        QFETCH(Reports, reports);
        QFETCH(QString, key);
        QFETCH(QByteArray, expected);
        feed(reports);
        const QJsonObject data = snapshot();
        const QJsonObject whole = data.contains(key) ? QJsonObject{{key, data.value(key)}} : QJsonObject();
        const QList<korvel::ReportId> ids = items_of(key);
        QVERIFY(!ids.isEmpty());
        for (const korvel::ReportId id : ids) {
            QJsonObject one;
            korvel::protocol::Core::of(*rig->console).snapshots().put(one, id);
            QCOMPARE(one, whole);
        }
    }

    // Every item with a notification rebuilds one key, and together they rebuild every key.
    void everyKeyHasItsNotifications()
    {
        feed(full_set());
        QJsonObject all;
        rig->ws->get_all_data(all);
        QCOMPARE(all.size(), korvel::snapshot_key_count());
        QJsonObject rebuilt;
        for (const korvel::Item &row : korvel::catalogue) {
            if (!row.notification || row.id == korvel::ReportId::metering)
                continue;
            QJsonObject one;
            korvel::protocol::Core::of(*rig->console).snapshots().put(one, row.id);
            QVERIFY2(one.size() == 1, row.notification);
            rebuilt.insert(one.begin().key(), one.begin().value());
        }
        // The firmware has no notification: it comes once, with the start-up answers.
        QJsonObject firmware;
        korvel::protocol::Core::of(*rig->console).snapshots().put(firmware, korvel::ReportId::firmware);
        rebuilt.insert(QStringLiteral("firmware"), firmware.value("firmware"));
        QCOMPARE(rebuilt, all);
    }

    void nothingReportedGivesEmptySnapshots()
    {
        QJsonObject states, config, firmware;
        rig->ws->get_states(states);
        rig->ws->get_config(config);
        rig->ws->get_firmware(firmware);
        QCOMPARE(states, QJsonObject());
        QCOMPARE(config, QJsonObject());
        QCOMPARE(firmware, QJsonObject());
        // Reading did not create cache entries.
        QCOMPARE(rig->console->report_cache().size(), 0);
    }

    void fullSetOfReportsGivesEveryKey()
    {
        feed(full_set());
        QJsonObject states, config;
        rig->ws->get_states(states);
        rig->ws->get_config(config);
        QCOMPARE(states.size(), 20);
        QCOMPARE(config.size(), 18);
        QCOMPARE(states.keys(), sorted(state_keys));
        QCOMPARE(config.keys(), sorted(config_keys));
    }

    void queriesOverTheConnection()
    {
        feed(full_set());
        WsTestClient client;
        QVERIFY(client.open(rig->port()));
        const QJsonObject all = QJsonDocument::fromJson(client.ask(R"({"msg":"get_all"})").toUtf8()).object();
        QCOMPARE(all.value("msg").toString(), QStringLiteral("all"));
        QCOMPARE(all.value("data").toObject().keys(), sorted(state_keys + config_keys));
        QCOMPARE(all.value("data").toObject().size(), 38);

        const QJsonObject states = QJsonDocument::fromJson(client.ask(R"({"msg":"get_states"})").toUtf8()).object();
        QCOMPARE(states.value("data").toObject().size(), 20);
        const QJsonObject config = QJsonDocument::fromJson(client.ask(R"({"msg":"get_config"})").toUtf8()).object();
        QCOMPARE(config.value("data").toObject().size(), 18);

        QCOMPARE(client.ask(R"({"msg":"get_firmware"})"),
                 QStringLiteral("{\n    \"data\": \"1.4.12\",\n    \"msg\": \"firmware\"\n}\n"));
    }
};

QTEST_GUILESS_MAIN(TestWsSnapshots)
#include "tst_wssnapshots.moc"
