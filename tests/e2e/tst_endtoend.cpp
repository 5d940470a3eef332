// The whole application on the emulated console, driven from outside as an integrator's program drives it: real
// WebSocket and UDP clients on loopback, the console model answering behind the emulated USB device.
#include "emulatedapp.h"
#include "expectedsnapshot.h"
#include "jsonclient.h"

#include "app/mainwindow.h"
#include "console/ckorvel.h"
#include "emulator/emulateddevice.h"
#include "usb/cusbhid.h"
#include "websocket/cwebsocketinterface.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QTest>

#include <cmath>

using e2e::EmulatedApp;
using e2e::JsonClient;
using emulator::EmulatedDevice;

namespace {

EmulatedDevice &dev()
{
    return EmulatedDevice::instance();
}

const QString connected_text = QStringLiteral("{\n"
                                              "    \"data\": \"connected\",\n"
                                              "    \"msg\": \"on_device_status\"\n"
                                              "}\n");
const QString disconnected_text = QStringLiteral("{\n"
                                                 "    \"data\": \"disconnected\",\n"
                                                 "    \"msg\": \"on_device_status\"\n"
                                                 "}\n");
const QString not_connected_text = QStringLiteral("{\n"
                                                  "    \"data\": \"Device USB not connected!\",\n"
                                                  "    \"msg\": \"error\"\n"
                                                  "}\n");

QString compact(const QJsonValue &value)
{
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    return QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
}

QString label_text(const EmulatedApp &app, const char *name)
{
    const auto *label = app.window->findChild<QLabel *>(QLatin1String(name));
    return label ? label->text() : QString();
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private:
    // Compares a snapshot key by key, so a failure names the key.
    static void compare_snapshot(const QJsonObject &actual, const QJsonObject &expected)
    {
        QCOMPARE(QStringList(actual.keys()), QStringList(expected.keys()));
        for (const QString &key : expected.keys())
            QCOMPARE(key + " = " + compact(actual.value(key)), key + " = " + compact(expected.value(key)));
    }

private slots:
    void init() { dev().reset(); }

    void openingTheLinkIsAnnouncedAndGetAllAnswersTheFactoryState()
    {
        EmulatedApp app(false);
        CWebSocketInterface &ws = *app.window->websocket_interface();
        JsonClient a;
        JsonClient b;
        QVERIFY(a.open(app.ports.websocket));
        QVERIFY(b.open(app.ports.websocket));
        QTRY_COMPARE(label_text(app, "clients_ws"), QStringLiteral("2"));
        QVERIFY(!app.window->device_link()->is_connected());

        // Auto-connect opens the link as soon as the console is there.
        app.model.replug();
        QVERIFY(app.wait_until_synchronised());
        QVERIFY(e2e::sync_clients(ws, {&a, &b}));
        // Then, every start-up request answered, that the state is complete.
        const QStringList told{connected_text,
                               QStringLiteral("{\n    \"data\": true,\n    \"msg\": \"on_state_complete\"\n}\n")};
        QCOMPARE(a.texts(), told);
        QCOMPARE(b.texts(), told);
        QCOMPARE(label_text(app, "label_status_connection"), QStringLiteral("running"));

        a.send(QStringLiteral(R"({"msg": "get_all"})"));
        const QJsonObject reply = a.wait_for("all");
        const QJsonObject all = reply.value("data").toObject();
        QCOMPARE(all.size(), 38);
        compare_snapshot(all, e2e::expected_snapshot(e2e::factory_item));
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(all.value("firmware").toString(), QStringLiteral("1.4.12"));

        // The reply went to the client that asked, and only to it.
        QVERIFY(e2e::sync_clients(ws, {&a, &b}));
        QCOMPARE(a.texts().size(), 3);
        QCOMPARE(b.texts(), told);
    }

    void switchingAModuleReachesTheConsoleAndComesBackToEveryClient()
    {
        EmulatedApp app;
        QVERIFY(app.wait_until_synchronised());
        CWebSocketInterface &ws = *app.window->websocket_interface();
        JsonClient a;
        JsonClient b;
        QVERIFY(a.open(app.ports.websocket));
        QVERIFY(b.open(app.ports.websocket));
        dev().clear_writes();

        a.send(QStringLiteral(R"({"msg": "set_on", "data": {"mod3": "on"}})"));
        QTRY_COMPARE(dev().writes(), QList<QByteArray>{hex("0004050201000000000000")});
        QVERIFY(app.model.is_on(2));

        QVERIFY(!a.wait_for("on_on").isEmpty());
        QVERIFY(!b.wait_for("on_on").isEmpty());
        QVERIFY(app.wait_until_drained());
        QVERIFY(e2e::sync_clients(ws, {&a, &b}));
        const QString on_text = QStringLiteral("{\n"
                                               "    \"data\": {\n"
                                               "        \"mod3\": true\n"
                                               "    },\n"
                                               "    \"msg\": \"on_on\"\n"
                                               "}\n");
        // Success is not answered: the console's own report is the only message, to both clients alike.
        QCOMPARE(a.texts(), QStringList{on_text});
        QCOMPARE(b.texts(), QStringList{on_text});
        QCOMPARE(dev().writes().size(), 1);
    }

    void configurationChangeComesBackWithOnlyItsChangedFields_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QString>("notification");

        // The fields the client leaves out are filled from what the console reported: its factory state.
        QTest::newRow("gpo1 time") << R"({"msg": "set_config_gpo", "data": {"gpo1": {"time": 50}}})"
                                   << hex("0007180001000032000000")
                                   << R"({"data": {"gpo1": {"time": 50}}, "msg": "on_config_gpo"})";
        QTest::newRow("silence interval")
            << R"({"msg": "set_config_silence_detection", "data": {"interval": 10}})" << hex("00071CD80A000200000000")
            << R"({"data": {"interval": 10}, "msg": "on_config_silence_detection"})";
        QTest::newRow("air cue colour") << R"({"msg": "set_config_cue", "data": {"air": {"color_on": "red"}}})"
                                        << hex("0005190A01000000000000")
                                        << R"({"data": {"air": {"color_on": "red"}}, "msg": "on_config_cue"})";
        QTest::newRow("mod2 off colour") << R"({"msg": "set_config_on", "data": {"mod2": {"color_off": "red"}}})"
                                         << hex("00061A0102010100000000")
                                         << R"({"data": {"mod2": {"color_off": "red"}}, "msg": "on_config_on"})";
    }

    void configurationChangeComesBackWithOnlyItsChangedFields()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, written);
        QFETCH(QString, notification);

        EmulatedApp app;
        QVERIFY(app.wait_until_synchronised());
        JsonClient a;
        QVERIFY(a.open(app.ports.websocket));
        dev().clear_writes();

        a.send(command);
        QTRY_COMPARE(dev().writes(), QList<QByteArray>{written});
        QVERIFY(app.wait_until_drained());
        QVERIFY(e2e::sync_clients(*app.window->websocket_interface(), {&a}));
        QCOMPARE(a.messages().size(), 1);
        QCOMPARE(compact(a.messages().first()), compact(e2e::parse(notification)));
    }

    void meteringReachesSubscribedClientsOnly()
    {
        EmulatedApp app;
        QVERIFY(app.wait_until_synchronised());
        JsonClient subscribed;
        JsonClient other;
        QVERIFY(subscribed.open(app.ports.websocket));
        QVERIFY(other.open(app.ports.websocket));

        subscribed.send(QStringLiteral(R"({"msg": "subscribe", "data": ["metering"]})"));
        subscribed.send(QStringLiteral(R"({"msg": "get_subscriptions"})"));
        QCOMPARE(compact(subscribed.wait_for("subscriptions").value("data")), QStringLiteral(R"(["metering"])"));

        app.model.set_metering_rate(200);
        for (int i = 0; i < 3; ++i) {
            const QJsonObject levels = subscribed.wait_for("on_metering").value("data").toObject();
            QCOMPARE(QStringList(levels.keys()),
                     (QStringList{"crm_left", "crm_right", "pgm_left", "pgm_right", "phones_left", "phones_right"}));
            for (const QJsonValue &level : levels) {
                // Quarter-dB steps from -50 to +13.75.
                QVERIFY2(level.isDouble() && level.toDouble() >= -50 && level.toDouble() <= 13.75,
                         qPrintable(compact(level)));
                QCOMPARE(level.toDouble() * 4, std::round(level.toDouble() * 4));
            }
        }
        app.model.set_metering_rate(0);
        QVERIFY(app.wait_until_drained());

        // Every other notification still reaches both.
        app.model.press_on_key(0);
        QVERIFY(!other.wait_for("on_on").isEmpty());
        QVERIFY(!subscribed.wait_for("on_on").isEmpty());
        QVERIFY(e2e::sync_clients(*app.window->websocket_interface(), {&subscribed, &other}));
        QVERIFY(subscribed.messages("on_metering").size() >= 3);
        QCOMPARE(other.messages("on_metering").size(), 0);
        QCOMPARE(other.messages().size(), 1);
    }

    void unplugEmptiesTheStateAndAutoConnectRestoresIt()
    {
        EmulatedApp app;
        QVERIFY(app.wait_until_synchronised());
        CKorvel &console = *app.window->console();
        JsonClient a;
        QVERIFY(a.open(app.ports.websocket));
        a.send(QStringLiteral(R"({"msg": "set_on", "data": {"mod3": "on"}})"));
        QVERIFY(!a.wait_for("on_on").isEmpty());
        QVERIFY(e2e::sync_clients(*app.window->websocket_interface(), {&a}));
        a.clear();

        const int failed_opens = dev().failed_open_count();
        app.model.unplug();
        QCOMPARE(a.wait_for("on_device_status").value("data").toString(), QStringLiteral("disconnected"));
        QCOMPARE(a.texts(), QStringList{disconnected_text});
        QVERIFY(console.report_cache().isEmpty());
        QCOMPARE(label_text(app, "label_status_connection"), QStringLiteral("stopped"));

        // While unplugged every message is refused, queries included, and nothing is answered from old state.
        a.send(QStringLiteral(R"({"msg": "get_all"})"));
        QCOMPARE(a.wait_for("error").value("data").toString(), QStringLiteral("Device USB not connected!"));
        QCOMPARE(a.texts().last(), not_connected_text);
        QVERIFY(a.messages("all").isEmpty());
        // Auto-connect keeps trying.
        QTRY_VERIFY(dev().failed_open_count() > failed_opens);
        QVERIFY(!app.window->device_link()->is_connected());

        app.model.replug();
        QCOMPARE(a.wait_for("on_device_status").value("data").toString(), QStringLiteral("connected"));
        QVERIFY(app.wait_until_synchronised());
        a.send(QStringLiteral(R"({"msg": "get_all"})"));
        const QJsonObject all = a.wait_for("all").value("data").toObject();
        // The console kept its state; the application learned it afresh.
        compare_snapshot(all, e2e::expected_snapshot([&](unsigned char id) { return app.model.item(id); }));
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(all.value("on").toObject().value("mod3"), QJsonValue(true));
    }

    void udpClientReceivesRawReportsAndSwitchesAModule()
    {
        e2e::UdpClient udp;
        EmulatedApp app(true, &udp);
        QVERIFY(app.wait_until_synchronised());
        JsonClient a;
        QVERIFY(a.open(app.ports.websocket));
        dev().clear_writes();

        // A keep-alive registers the client and reaches nobody else.
        udp.send(hex("A0A04B41"), app.ports.udp_listen);
        QTRY_COMPARE(label_text(app, "clients_udp"), QStringLiteral("1"));
        QVERIFY(dev().writes().isEmpty());

        // A person opens fader 5: its state report goes out raw, marker in front, to all three ports.
        app.model.move_fader(4, true);
        const QByteArray fader_report = hex("A0A00AE20000000001000000");
        QTRY_VERIFY((udp.collect(), !udp.on_custom.isEmpty()));
        QCOMPARE(udp.on_metering, QList<QByteArray>{fader_report});
        QCOMPARE(udp.on_config, QList<QByteArray>{fader_report});
        QCOMPARE(udp.on_custom, QList<QByteArray>{fader_report});

        // A raw ON command for module 6: the bridge writes it unchanged behind the report number.
        udp.send(hex("A0A004050501000000000000"), app.ports.udp_listen);
        QTRY_COMPARE(dev().writes(), QList<QByteArray>{hex("0004050501000000000000")});
        QVERIFY(app.model.is_on(5));
        QCOMPARE(compact(a.wait_for("on_on").value("data")), QStringLiteral(R"({"mod6":true})"));
        const QByteArray on_report = hex("A0A00AE00000000000010000");
        QTRY_VERIFY((udp.collect(), udp.on_custom.size() == 2));
        QCOMPARE(udp.on_metering.last(), on_report);
        QCOMPARE(udp.on_config.last(), on_report);
        QCOMPARE(udp.on_custom.last(), on_report);

        // Level meters go to the metering port alone.
        app.model.set_metering_rate(200);
        QTRY_VERIFY((udp.collect(), udp.on_metering.last().at(3) == char(0xF0)));
        app.model.set_metering_rate(0);
        QVERIFY(app.wait_until_drained());
        app.model.press_on_key(0);
        QTRY_VERIFY((udp.collect(), udp.on_custom.size() == 3 && udp.on_config.size() == 3));
        for (const QByteArray &datagram : udp.on_config + udp.on_custom)
            QVERIFY2(datagram.at(3) != char(0xF0), datagram.toHex(' ').constData());
        QCOMPARE(udp.on_custom.last(), hex("A0A00AE00100000000010000"));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
