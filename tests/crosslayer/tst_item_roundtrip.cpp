// Every console item through every layer: a client's JSON command, the dispatcher, the emulated console applying
// it with its own layouts, the decoder, the notification to the client and the snapshot. One row per item, field
// and representative value; a wrong argument position, offset or name in any layer shows here.
#include "emulatedapp.h"
#include "jsonclient.h"

#include "app/mainwindow.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <memory>

using e2e::EmulatedApp;
using e2e::JsonClient;

namespace {
QJsonValue json(const char *text)
{
    // Wrapped in an array so a bare value parses too.
    return QJsonDocument::fromJson(QByteArray("[") + text + "]").array().at(0);
}
} // namespace

class TestItemRoundTrip : public QObject {
    Q_OBJECT

    std::unique_ptr<EmulatedApp> app;
    std::unique_ptr<JsonClient> client;

    // The steady colour of LED a1, which settle() flips between red and green.
    QString sentinel;

    static QString set_ctrl_led(const QString &data)
    {
        return QStringLiteral(R"({"msg": "set_ctrl_led", "data": %1})").arg(data);
    }

    // Flips LED a1 and waits until every client is told: the echoes of the commands sent before have been
    // handled (the console answers in order).
    bool settle(const QList<JsonClient *> &clients)
    {
        sentinel = sentinel == QLatin1String("red") ? QStringLiteral("green") : QStringLiteral("red");
        clients.front()->send(set_ctrl_led(QStringLiteral(R"({"a1": "%1"})").arg(sentinel)));
        const QJsonObject told{{QStringLiteral("data"), QJsonObject{{QStringLiteral("a1"), sentinel}}},
                               {QStringLiteral("msg"), QStringLiteral("on_ctrl_led")}};
        return QTest::qWaitFor([&] {
            for (const JsonClient *c : clients) {
                if (!c->messages(QStringLiteral("on_ctrl_led")).contains(told))
                    return false;
            }
            return true;
        });
    }

    QJsonObject all()
    {
        client->send(QStringLiteral(R"({"msg": "get_all"})"));
        return client->wait_for(QStringLiteral("all")).value(QLatin1String("data")).toObject();
    }

private slots:
    void initTestCase()
    {
        app = std::make_unique<EmulatedApp>();
        QVERIFY(app->wait_until_synchronised());
        client = std::make_unique<JsonClient>();
        QVERIFY(client->open(app->ports.websocket));
        sentinel = all().value(QLatin1String("ctrl_led")).toObject().value(QLatin1String("a1")).toString();
    }

    void cleanupTestCase()
    {
        client.reset();
        app.reset();
    }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("notification");
        QTest::addColumn<QString>("announced"); // the notification's "data", exactly
        QTest::addColumn<QString>("key");       // where the snapshot shows the value
        QTest::addColumn<QString>("member");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");

        const auto row = [](const char *name, const char *msg, const char *data, const char *notification,
                            const char *announced, const char *key, const char *member, const char *field,
                            const char *value) {
            const QString command = QStringLiteral(R"({"msg": "%1", "data": %2})").arg(msg, data);
            QTest::newRow(name) << command << notification << announced << key << member << field << value;
        };
        // clang-format off
        row("led steady",         "set_ctrl_led", R"({"b5": "green"})", "on_ctrl_led", R"({"b5": "green"})", "ctrl_led", "b5", "", R"("green")");
        row("on",                 "set_on", R"({"mod3": "on"})", "on_on", R"({"mod3": true})", "on", "mod3", "", "true");
        row("cue aux",            "set_cue", R"({"aux": "on"})", "on_cue", R"({"aux": true})", "cue", "aux", "", "true");
        row("track",              "set_track", R"({"mod5": "play"})", "on_track", R"({"mod5": "play"})", "track", "mod5", "", R"("play")");
        row("voicetrack mod8",    "set_voicetrack", R"({"mod8": true})", "on_voicetrack", R"({"mod8": true})", "voicetrack", "mod8", "", "true");
        row("comm",               "set_studio_remote", R"({"mod2": {"comm": true}})", "on_comm", R"({"mod2": true})", "studio_remote", "mod2", "comm", "true");
        row("cough",              "set_studio_remote", R"({"mod1": {"cough": true}})", "on_cough", R"({"mod1": true})", "studio_remote", "mod1", "cough", "true");
        row("non-stop",           "set_non_stop", R"("on")", "on_non_stop", "true", "non_stop", "", "", "true");
        row("auto cue announcer", "set_auto_cue", R"({"announcer": "on"})", "on_auto_cue", R"({"announcer": true})", "auto_cue", "announcer", "", "true");
        row("auto on",            "set_config_auto_on", R"({"mod1": true})", "on_config_auto_on", R"({"mod1": true})", "config_auto_on", "mod1", "", "true");
        row("auto off",           "set_config_auto_off", R"({"mod8": true})", "on_config_auto_off", R"({"mod8": true})", "config_auto_off", "mod8", "", "true");
        row("locked on",          "set_config_locked_on", R"({"mod4": true})", "on_config_locked_on", R"({"mod4": true})", "config_locked_on", "mod4", "", "true");
        row("fader reserve",      "set_config_fader_reserve", R"({"mod2": true})", "on_config_fader_reserve", R"({"mod2": true})", "config_fader_reserve", "mod2", "", "true");
        row("crm mute",           "set_config_crm_mute", R"({"mod2": false})", "on_config_crm_mute", R"({"mod2": false})", "config_crm_mute", "mod2", "", "false");
        row("crm auto cue reset", "set_config_crm_auto_cue_reset", R"({"mod3": true})", "on_config_crm_auto_cue_reset", R"({"mod3": true})", "config_crm_auto_cue_reset", "mod3", "", "true");
        row("phantom",            "set_config_phantom", R"({"mod1": true})", "on_config_phantom", R"({"mod1": true})", "config_phantom", "mod1", "", "true");
        row("mic at line",        "set_config_mic_at_line", R"({"mod3": true})", "on_config_mic_at_line", R"({"mod3": true})", "config_mic_at_line", "mod3", "", "true");
        row("cue interlock",      "set_config_cue_interlock", "true", "on_config_cue_interlock", "true", "config_cue_interlock", "", "", "true");
        row("mic on mode",        "set_config_mic_on", R"("on_air2")", "on_config_mic_on", R"("on_air2")", "config_mic_on", "", "", R"("on_air2")");
        row("gpo time",           "set_config_gpo", R"({"gpo2": {"time": 30}})", "on_config_gpo", R"({"gpo2": {"time": 30}})", "config_gpo", "gpo2", "time", "30");
        row("gpo mode",           "set_config_gpo", R"({"gpo1": {"mode": "inverted"}})", "on_config_gpo", R"({"gpo1": {"mode": "inverted"}})", "config_gpo", "gpo1", "mode", R"("inverted")");
        row("gpo type",           "set_config_gpo", R"({"gpo1": {"type": "pulse_by_off"}})", "on_config_gpo", R"({"gpo1": {"type": "pulse_by_off"}})", "config_gpo", "gpo1", "type", R"("pulse_by_off")");
        row("cue colour off",     "set_config_cue", R"({"mod3": {"color_off": "red"}})", "on_config_cue", R"({"mod3": {"color_off": "red"}})", "config_cue", "mod3", "color_off", R"("red")");
        row("cue colour on",      "set_config_cue", R"({"air": {"color_on": "red"}})", "on_config_cue", R"({"air": {"color_on": "red"}})", "config_cue", "air", "color_on", R"("red")");
        row("on colour fader",    "set_config_on", R"({"mod6": {"color_on_and_fader": "green"}})", "on_config_on", R"({"mod6": {"color_on_and_fader": "green"}})", "config_on", "mod6", "color_on_and_fader", R"("green")");
        row("on colour off",      "set_config_on", R"({"mod5": {"color_off": "red"}})", "on_config_on", R"({"mod5": {"color_off": "red"}})", "config_on", "mod5", "color_off", R"("red")");
        row("cue reset",          "set_config_cue_reset", R"({"mod2": {"reset_by_fader": true}})", "on_config_cue_reset", R"({"mod2": {"reset_by_fader": true}})", "config_cue_reset", "mod2", "reset_by_fader", "true");
        row("cue reset last",     "set_config_cue_reset", R"({"mod7": {"reset_by_fader_and_on": true}})", "on_config_cue_reset", R"({"mod7": {"reset_by_fader_and_on": true}})", "config_cue_reset", "mod7", "reset_by_fader_and_on", "true");
        row("on air",             "set_config_on_air", R"({"mod7": {"on_air1_enabled_by_line": true}})", "on_config_on_air", R"({"mod7": {"on_air1_enabled_by_line": true}})", "config_on_air", "mod7", "on_air1_enabled_by_line", "true");
        row("studio remote",      "set_config_studio_remote", R"({"mod3": {"comm_private": true}})", "on_config_studio_remote", R"({"mod3": {"comm_private": true}})", "config_studio_remote", "mod3", "comm_private", "true");
        row("pgm auto off",       "set_config_pgm_auto_off", R"({"mod1": {"enabled_by_mic_usb_voip": true}})", "on_config_pgm_auto_off", R"({"mod1": {"enabled_by_mic_usb_voip": true}})", "config_pgm_auto_off", "mod1", "enabled_by_mic_usb_voip", "true");
        row("silence threshold",  "set_config_silence_detection", R"({"threshold": -21})", "on_config_silence_detection", R"({"threshold": -21})", "config_silence_detection", "", "threshold", "-21");
        row("silence interval",   "set_config_silence_detection", R"({"interval": 45})", "on_config_silence_detection", R"({"interval": 45})", "config_silence_detection", "", "interval", "45");
        row("silence source",     "set_config_silence_detection", R"({"source": "left"})", "on_config_silence_detection", R"({"source": "left"})", "config_silence_detection", "", "source", R"("left")");
        row("silence unit",       "set_config_silence_detection", R"({"interval_unit": "minutes"})", "on_config_silence_detection", R"({"interval_unit": "minutes"})", "config_silence_detection", "", "interval_unit", R"("minutes")");
        // clang-format on
    }

    void roundTrip()
    {
        QFETCH(QString, command);
        QFETCH(QString, notification);
        QFETCH(QString, announced);
        QFETCH(QString, key);
        QFETCH(QString, member);
        QFETCH(QString, field);
        QFETCH(QString, value);

        const QJsonObject before = all();
        QVERIFY2(before.contains(key), qPrintable(key));

        // What the snapshot must show afterwards: the one value replaced, every other member and field as before.
        QJsonObject expected = before;
        {
            QJsonValue item = expected.value(key);
            const QJsonValue new_value = json(value.toUtf8().constData());
            QJsonObject of_member = member.isEmpty() ? item.toObject() : item.toObject().value(member).toObject();
            QJsonValue changed = field.isEmpty() ? new_value : (of_member.insert(field, new_value), of_member);
            if (!member.isEmpty()) {
                QJsonObject members = item.toObject();
                QVERIFY2(members.value(member) != changed, "the row's value is the console's value already");
                members.insert(member, changed);
                changed = members;
            } else {
                QVERIFY2(item != changed, "the row's value is the console's value already");
            }
            expected.insert(key, changed);
        }

        client->clear();
        client->send(command);
        const QJsonObject message = client->wait_for(notification);
        QCOMPARE(message.value(QLatin1String("data")), json(announced.toUtf8().constData()));

        const QJsonObject after = all();
        QCOMPARE(after.value(key), expected.value(key));
    }

    // An LED command is answered with an echo, not a state report; what the echo changes still reaches every
    // client, the sender included, and an echo that changes nothing reaches nobody.
    void led_change_reaches_every_client_data()
    {
        QTest::addColumn<QString>("before");    // set_ctrl_led "data" the first client sends beforehand
        QTest::addColumn<QString>("command");   // then this
        QTest::addColumn<QString>("announced"); // the "data" of "on_ctrl_led" both clients get; empty: none
        QTest::newRow("steady colour") << R"({"a2": "off"})"
                                       << R"({"a2": "red"})"
                                       << R"({"a2": "red"})";
        QTest::newRow("same steady colour") << R"({"a2": "red"})"
                                            << R"({"a2": "red"})"
                                            << "";
        QTest::newRow("blinking") << R"({"b3": {"color_on": "off", "color_off": "off", "blink_speed": "slow"}})"
                                  << R"({"b3": {"color_on": "green", "color_off": "off", "blink_speed": "fast"}})"
                                  << R"({"b3": {"blink_speed": "fast", "color_on": "green"}})";
        QTest::newRow("same blinking")
            << R"({"b3": {"color_on": "red", "color_off": "green", "blink_speed": "normal"}})"
            << R"({"b3": {"color_on": "red", "color_off": "green", "blink_speed": "normal"}})"
            << "";
        QTest::newRow("two LEDs in one command") << R"({"a3": "off", "a4": "off"})"
                                                 << R"({"a3": "green", "a4": "off"})"
                                                 << R"({"a3": "green"})";
    }

    void led_change_reaches_every_client()
    {
        QFETCH(QString, before);
        QFETCH(QString, command);
        QFETCH(QString, announced);
        JsonClient other;
        QVERIFY(other.open(app->ports.websocket));
        client->clear();
        client->send(set_ctrl_led(before));
        QVERIFY(settle({client.get(), &other}));

        client->clear();
        other.clear();
        client->send(set_ctrl_led(command));
        QVERIFY(settle({client.get(), &other}));

        QList<QJsonValue> expected;
        if (!announced.isEmpty())
            expected << json(announced.toUtf8().constData());
        expected << QJsonObject{{QStringLiteral("a1"), sentinel}};
        for (const JsonClient *told : {client.get(), &other}) {
            QList<QJsonValue> data;
            for (const QJsonObject &message : told->messages(QStringLiteral("on_ctrl_led")))
                data << message.value(QLatin1String("data"));
            QCOMPARE(data, expected);
        }
    }
};

QTEST_MAIN(TestItemRoundTrip)
#include "tst_item_roundtrip.moc"
