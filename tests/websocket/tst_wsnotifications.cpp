// One notification per console event: its "msg", the shape of its "data", the fields left out, and the events
// that are not sent at all.
#include "wstestclient.h"

#include "console/ckorvel.h"
#include "emulator/emulateddevice.h"
#include "mqtt/bridge.h"
#include "protocol/core.h"
#include "usb/cusbhid.h"
#include "websocket/cwebsocketinterface.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>

using emulator::EmulatedDevice;
using Emit = std::function<void(CKorvel &)>;
Q_DECLARE_METATYPE(Emit)

class TestWsNotifications : public QObject {
    Q_OBJECT

    std::unique_ptr<WsRig> rig;
    std::unique_ptr<WsTestClient> client;

    // Emits through the console and returns every text the client received for it.
    QStringList received(const Emit &emitter)
    {
        emitter(*rig->console);
        if (!sync_clients(*rig->ws, {client.get()}))
            return {QStringLiteral("no barrier")};
        return client->take();
    }

private slots:
    void init()
    {
        EmulatedDevice::instance().reset();
        rig = std::make_unique<WsRig>();
        // The link opens first: the client hears no device status, and may subscribe.
        QCOMPARE(rig->link->start(), 0);
        client = std::make_unique<WsTestClient>();
        QVERIFY(client->open(rig->port()));
        // Subscribed to "metering", so that every notification reaches this client.
        client->send(R"({"msg":"subscribe","data":"metering"})");
        QCOMPARE(QJsonDocument::fromJson(client->ask(R"({"msg":"get_subscriptions"})").toUtf8())
                     .object()
                     .value("data")
                     .toArray(),
                 QJsonArray{"metering"});
        client->take();
    }

    void cleanup()
    {
        client.reset();
        rig.reset();
    }

    void notification_data()
    {
        QTest::addColumn<Emit>("emitter");
        // The whole message, compact; empty when nothing may be sent.
        QTest::addColumn<QByteArray>("expected");

        auto row = [](const char *name, Emit emitter, const char *expected) {
            QTest::newRow(name) << emitter << QByteArray(expected);
        };

        // Keyed word, and the blinking LED's keyed object with only the changed fields.
        row(
            "steady LED b2 green", [](CKorvel &c) { emit c.ctrl_led_event(9, 2); },
            R"({"data":{"b2":"green"},"msg":"on_ctrl_led"})");
        row(
            "LED colour out of list: member left out", [](CKorvel &c) { emit c.ctrl_led_event(0, 3); },
            R"({"data":{},"msg":"on_ctrl_led"})");
        row(
            "LED 16 not sent", [](CKorvel &c) { emit c.ctrl_led_event(16, 1); }, "");
        row(
            "LED 200 not sent", [](CKorvel &c) { emit c.ctrl_led_event(200, 1); }, "");
        row(
            "blink speed of a1 only", [](CKorvel &c) { emit c.ctrl_led_blink_event(0, -1, -1, 2); },
            R"({"data":{"a1":{"blink_speed":"fast"}},"msg":"on_ctrl_led"})");
        row(
            "blink colours of a4", [](CKorvel &c) { emit c.ctrl_led_blink_event(3, 1, 0, -1); },
            R"({"data":{"a4":{"color_off":"off","color_on":"red"}},"msg":"on_ctrl_led"})");
        row(
            "blink codes out of list left out", [](CKorvel &c) { emit c.ctrl_led_blink_event(3, 7, 1, 3); },
            R"({"data":{"a4":{"color_off":"red"}},"msg":"on_ctrl_led"})");
        row(
            "blink LED 20 not sent", [](CKorvel &c) { emit c.ctrl_led_blink_event(20, 1, 1, 1); }, "");
        row(
            "blink LED -1 not sent", [](CKorvel &c) { emit c.ctrl_led_blink_event(-1, 1, 1, 1); }, "");

        // Keyed flags.
        row(
            "control key b8", [](CKorvel &c) { emit c.ctrl_switch_event(15, 1); },
            R"({"data":{"b8":true},"msg":"on_ctrl_key"})");
        row(
            "config auto on", [](CKorvel &c) { emit c.config_auto_on_event(0, 0); },
            R"({"data":{"mod1":false},"msg":"on_config_auto_on"})");
        row(
            "config crm mute", [](CKorvel &c) { emit c.config_crm_mute_event(2, 1); },
            R"({"data":{"mod3":true},"msg":"on_config_crm_mute"})");
        row(
            "config crm mute of \"*\" not sent", [](CKorvel &c) { emit c.config_crm_mute_event(3, 1); }, "");
        row(
            "config crm auto cue reset", [](CKorvel &c) { emit c.config_crm_auto_cue_reset_event(1, 0); },
            R"({"data":{"mod2":false},"msg":"on_config_crm_auto_cue_reset"})");
        row(
            "config fader reserve", [](CKorvel &c) { emit c.config_fader_reserve_event(5, 1); },
            R"({"data":{"mod6":true},"msg":"on_config_fader_reserve"})");
        row(
            "config phantom", [](CKorvel &c) { emit c.config_phantom_event(2, 1); },
            R"({"data":{"mod3":true},"msg":"on_config_phantom"})");
        row(
            "config mic at line", [](CKorvel &c) { emit c.config_mic_at_line_event(0, 0); },
            R"({"data":{"mod1":false},"msg":"on_config_mic_at_line"})");
        row(
            "config auto off", [](CKorvel &c) { emit c.config_auto_off_event(7, 1); },
            R"({"data":{"mod8":true},"msg":"on_config_auto_off"})");
        row(
            "config locked on", [](CKorvel &c) { emit c.config_locked_on_event(6, 0); },
            R"({"data":{"mod7":false},"msg":"on_config_locked_on"})");
        row(
            "module 3 on", [](CKorvel &c) { emit c.state_on_event(2, 1); }, R"({"data":{"mod3":true},"msg":"on_on"})");
        row(
            "state 5 is true", [](CKorvel &c) { emit c.state_on_event(2, 5); },
            R"({"data":{"mod3":true},"msg":"on_on"})");
        row(
            "module 9 not sent", [](CKorvel &c) { emit c.state_on_event(8, 1); }, "");
        row(
            "cue non_stop", [](CKorvel &c) { emit c.state_cue_event(9, 1); },
            R"({"data":{"non_stop":true},"msg":"on_cue"})");
        row(
            "fader", [](CKorvel &c) { emit c.state_fader_event(0, 1); }, R"({"data":{"mod1":true},"msg":"on_fader"})");
        row(
            "auto cue announcer", [](CKorvel &c) { emit c.state_auto_cue_event(1, 1); },
            R"({"data":{"announcer":true},"msg":"on_auto_cue"})");
        row(
            "gpo", [](CKorvel &c) { emit c.state_gpo_event(1, 1); }, R"({"data":{"gpo2":true},"msg":"on_gpo"})");
        row(
            "on air", [](CKorvel &c) { emit c.state_on_air_event(0, 1); },
            R"({"data":{"on_air1":true},"msg":"on_on_air"})");
        row(
            "module active", [](CKorvel &c) { emit c.state_module_event(4, 1); },
            R"({"data":{"mod5":true},"msg":"on_module_active"})");
        row(
            "comm", [](CKorvel &c) { emit c.state_comm_event(0, 1); }, R"({"data":{"mod1":true},"msg":"on_comm"})");
        row(
            "cough", [](CKorvel &c) { emit c.state_cough_event(2, 0); }, R"({"data":{"mod3":false},"msg":"on_cough"})");
        row(
            "voicetrack mod8", [](CKorvel &c) { emit c.state_vt_event(7, 1); },
            R"({"data":{"mod8":true},"msg":"on_voicetrack"})");
        row(
            "voicetrack unnamed position not sent", [](CKorvel &c) { emit c.state_vt_event(4, 1); }, "");

        // Keyed objects with only the changed fields.
        row(
            "cue reset of mod4", [](CKorvel &c) { emit c.config_cue_reset_event(3, 0, 1, -1, -1, -1); },
            R"({"data":{"mod4":{"enabled_by_line":false,"enabled_by_mic_usb_voip":true}},"msg":"on_config_cue_reset"})");
        row(
            "cue reset, nothing changed", [](CKorvel &c) { emit c.config_cue_reset_event(3, -1, -1, -1, -1, -1); },
            R"({"data":{"mod4":{}},"msg":"on_config_cue_reset"})");
        row(
            "on air config", [](CKorvel &c) { emit c.config_on_air_event(7, -1, -1, 1, 0); },
            R"({"data":{"mod8":{"on_air2_enabled_by_line":true,"on_air2_enabled_by_mic_usb_voip":false}},)"
            R"("msg":"on_config_on_air"})");
        row(
            "studio remote config", [](CKorvel &c) { emit c.config_studio_remote_event(0, 1, -1, 0); },
            R"({"data":{"mod1":{"comm_private":false,"cough_enable":true}},"msg":"on_config_studio_remote"})");
        row(
            "gpo2 trigger and time", [](CKorvel &c) { emit c.config_gpo_event(1, 3, -1, -1, 30); },
            R"({"data":{"gpo2":{"time":30,"trigger":"phone"}},"msg":"on_config_gpo"})");
        row(
            "gpo codes out of list left out", [](CKorvel &c) { emit c.config_gpo_event(0, 14, 1, 4, -1); },
            R"({"data":{"gpo1":{"mode":"inverted"}},"msg":"on_config_gpo"})");
        row(
            "gpo 3 not sent", [](CKorvel &c) { emit c.config_gpo_event(2, 1, 1, 1, 1); }, "");
        row(
            "cue colour of air", [](CKorvel &c) { emit c.config_cue_event(10, 2, -1); },
            R"({"data":{"air":{"color_on":"green"}},"msg":"on_config_cue"})");
        row(
            "on colours", [](CKorvel &c) { emit c.config_on_event(4, -1, 1, 0); },
            R"({"data":{"mod5":{"color_off":"off","color_on_and_fader":"red"}},"msg":"on_config_on"})");
        row(
            "pgm auto off", [](CKorvel &c) { emit c.config_pgm_auto_off_event(1, 1, -1); },
            R"({"data":{"mod2":{"enabled_by_line":true}},"msg":"on_config_pgm_auto_off"})");

        // Flat silence-detection settings: the threshold's unchanged marker is 1, -1 is a threshold.
        row(
            "silence: interval unit only", [](CKorvel &c) { emit c.config_silence_detection_event(1, -1, 1, -1, -1); },
            R"({"data":{"interval_unit":"minutes"},"msg":"on_config_silence_detection"})");
        row(
            "silence: threshold -1", [](CKorvel &c) { emit c.config_silence_detection_event(-1, -1, -1, -1, -1); },
            R"({"data":{"threshold":-1},"msg":"on_config_silence_detection"})");
        row(
            "silence: every field", [](CKorvel &c) { emit c.config_silence_detection_event(-21, 10, 0, 2, 1); },
            R"({"data":{"enable":true,"interval":10,"interval_unit":"seconds","source":"stereo","threshold":-21},)"
            R"("msg":"on_config_silence_detection"})");
        row(
            "silence: source out of list", [](CKorvel &c) { emit c.config_silence_detection_event(1, -1, 2, 3, 0); },
            R"({"data":{"enable":false},"msg":"on_config_silence_detection"})");

        // Bare flags and the bare word.
        row(
            "cue interlock", [](CKorvel &c) { emit c.config_cue_interlock_event(1); },
            R"({"data":true,"msg":"on_config_cue_interlock"})");
        row(
            "mic on mode on_air1", [](CKorvel &c) { emit c.config_mic_on_event(1); },
            R"({"data":"on_air1","msg":"on_config_mic_on"})");
        row(
            "mic on mode 3 not sent", [](CKorvel &c) { emit c.config_mic_on_event(3); }, "");
        row(
            "non stop", [](CKorvel &c) { emit c.state_non_stop_event(0); }, R"({"data":false,"msg":"on_non_stop"})");
        row(
            "mic on state 5", [](CKorvel &c) { emit c.state_mic_on_event(5); }, R"({"data":true,"msg":"on_mic_on"})");
        row(
            "silence detected", [](CKorvel &c) { emit c.state_silence_detection_event(1); },
            R"({"data":true,"msg":"on_silence_detection"})");
        row(
            "crm mute", [](CKorvel &c) { emit c.state_crm_mute_event(1); }, R"({"data":true,"msg":"on_crm_mute"})");
        row(
            "phone ringing", [](CKorvel &c) { emit c.state_phone_ringing_event(1); },
            R"({"data":true,"msg":"on_phone_ringing"})");
        row(
            "voip connect", [](CKorvel &c) { emit c.state_connect_event(0); },
            R"({"data":false,"msg":"on_voip_connect"})");

        // Source select names and track words.
        row(
            "source mod8 line", [](CKorvel &c) { emit c.state_src_sel_event(7, 0); },
            R"({"data":{"mod8":"line"},"msg":"on_source_select"})");
        row(
            "source mod8 voip", [](CKorvel &c) { emit c.state_src_sel_event(7, 2); },
            R"({"data":{"mod8":"voip"},"msg":"on_source_select"})");
        row(
            "source mod1 mic", [](CKorvel &c) { emit c.state_src_sel_event(0, 1); },
            R"({"data":{"mod1":"mic"},"msg":"on_source_select"})");
        row(
            "source mod4 usb", [](CKorvel &c) { emit c.state_src_sel_event(3, 255); },
            R"({"data":{"mod4":"usb"},"msg":"on_source_select"})");
        row(
            "source module 9 not sent", [](CKorvel &c) { emit c.state_src_sel_event(8, 1); }, "");
        row(
            "track play", [](CKorvel &c) { emit c.state_track_event(1, 1); },
            R"({"data":{"mod2":"play"},"msg":"on_track"})");
        row(
            "track state out of list", [](CKorvel &c) { emit c.state_track_event(1, 3); },
            R"({"data":{},"msg":"on_track"})");

        // Metering levels as numbers.
        row(
            "metering", [](CKorvel &c) { emit c.state_metering_event(-12.25f, 3.5f, -50.0f, 13.75f, 0.75f, 0.0f); },
            R"({"data":{"crm_left":0.75,"crm_right":0,"phones_left":-50,"phones_right":13.75,)"
            R"("pgm_left":-12.25,"pgm_right":3.5},"msg":"on_metering"})");
    }

    void notification()
    {
        QFETCH(Emit, emitter);
        QFETCH(QByteArray, expected);
        QSignalSpy notified(&korvel::protocol::Core::of(*rig->console), &korvel::protocol::Core::message);
        const QStringList texts = received(emitter);
        // Announced once for each message the clients got.
        QCOMPARE(notified.size(), texts.size());
        if (expected.isEmpty()) {
            QCOMPARE(texts, QStringList());
            return;
        }
        // The broker's payload: the same message, compact.
        QCOMPARE(korvel::mqtt::Bridge::json_text(notified.at(0).at(0).toJsonObject()),
                 QJsonDocument::fromJson(expected).toJson(QJsonDocument::Compact));
        QCOMPARE(texts.size(), 1);
        QJsonParseError error;
        const QJsonDocument wanted = QJsonDocument::fromJson(expected, &error);
        QVERIFY2(!wanted.isNull(), qPrintable(error.errorString()));
        QCOMPARE(QJsonDocument::fromJson(texts.at(0).toUtf8()), wanted);
        // Sent in the indented form, keys in order.
        QCOMPARE(texts.at(0), QString::fromUtf8(wanted.toJson(QJsonDocument::Indented)));
    }

    void exactTexts_data()
    {
        QTest::addColumn<Emit>("emitter");
        QTest::addColumn<QString>("text");
        QTest::newRow("gpo2") << Emit([](CKorvel &c) { emit c.config_gpo_event(1, 3, -1, -1, 30); })
                              << QStringLiteral("{\n"
                                                "    \"data\": {\n"
                                                "        \"gpo2\": {\n"
                                                "            \"time\": 30,\n"
                                                "            \"trigger\": \"phone\"\n"
                                                "        }\n"
                                                "    },\n"
                                                "    \"msg\": \"on_config_gpo\"\n"
                                                "}\n");
        QTest::newRow("bare flag") << Emit([](CKorvel &c) { emit c.config_cue_interlock_event(1); })
                                   << QStringLiteral("{\n"
                                                     "    \"data\": true,\n"
                                                     "    \"msg\": \"on_config_cue_interlock\"\n"
                                                     "}\n");
        QTest::newRow("metering") << Emit([](CKorvel &c) {
            emit c.state_metering_event(-12.25f, 3.5f, 0.25f, -0.5f, 1.0f, -2.0f);
        })
                                  << QStringLiteral("{\n"
                                                    "    \"data\": {\n"
                                                    "        \"crm_left\": 1,\n"
                                                    "        \"crm_right\": -2,\n"
                                                    "        \"pgm_left\": -12.25,\n"
                                                    "        \"pgm_right\": 3.5,\n"
                                                    "        \"phones_left\": 0.25,\n"
                                                    "        \"phones_right\": -0.5\n"
                                                    "    },\n"
                                                    "    \"msg\": \"on_metering\"\n"
                                                    "}\n");
    }

    void exactTexts()
    {
        QFETCH(Emit, emitter);
        QFETCH(QString, text);
        QCOMPARE(received(emitter), QStringList{text});
    }

    // Events of one report go out in the order they were emitted.
    void orderOfEvents()
    {
        const QStringList texts = received([](CKorvel &c) {
            emit c.state_cue_event(0, 0);
            emit c.state_cue_event(10, 1);
            emit c.ctrl_led_event(3, 2);
        });
        QStringList data;
        for (const QString &text : texts)
            data.append(QString::fromUtf8(
                QJsonDocument(QJsonDocument::fromJson(text.toUtf8()).object()).toJson(QJsonDocument::Compact)));
        QCOMPARE(data,
                 (QStringList{R"({"data":{"mod1":false},"msg":"on_cue"})", R"({"data":{"air":true},"msg":"on_cue"})",
                              R"({"data":{"a4":"green"},"msg":"on_ctrl_led"})"}));
    }
};

QTEST_GUILESS_MAIN(TestWsNotifications)
#include "tst_wsnotifications.moc"
