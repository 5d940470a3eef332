// The bridge in the whole stack: the emulated console behind the device link, the console object, the WebSocket
// server with a real client, the broker connection to a real Mosquitto and the bridge, checked from the broker's
// side with an independent MQTT client.
#include "broker.h"
#include "dispatcherrig.h"
#include "jsonclient.h"
#include "probe.h"

#include "console/ckorvel.h"
#include "emulator/consolemodel.h"
#include "emulator/emulateddevice.h"
#include "emulator/reports.h"
#include "mqtt/bridge.h"
#include "mqtt/client.h"
#include "usb/cusbhid.h"
#include "usb/usbids.h"
#include "websocket/cwebsocketinterface.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>

#include <memory>

using emulator::EmulatedDevice;
using korvel::mqtt::Bridge;
using State = korvel::mqtt::Client::State;

namespace {

const QString prefix = QStringLiteral("studio/bridge");
const QString status_topic = prefix + "/status";
const QString event_topic = prefix + "/event";
const QString command_topic = prefix + "/command";
const QString reply_topic = prefix + "/reply";
const QString state_prefix = prefix + "/state/";

// Every key of the "all" snapshot of a console that has reported everything.
constexpr int snapshot_keys = 38;

EmulatedDevice &device()
{
    return EmulatedDevice::instance();
}

// A payload's JSON value; a bare string, number or boolean included.
QJsonValue parsed(const QByteArray &payload)
{
    const QJsonDocument wrapped = QJsonDocument::fromJson("[" + payload + "]");
    return wrapped.isArray() && wrapped.array().size() == 1 ? wrapped.array().at(0) : QJsonValue(QJsonValue::Undefined);
}

// The payloads that arrived on one topic, in order.
QByteArrayList payloads(const Probe &probe, const QString &topic)
{
    QByteArrayList out;
    for (const Probe::Message &m : probe.messages) {
        if (m.topic == topic)
            out << m.payload;
    }
    return out;
}

// Where a message on topic arrived among everything the probe received, from index `from` on; -1 when it did not.
qsizetype position(const Probe &probe, const QString &topic, const QByteArray &payload, qsizetype from = 0)
{
    for (qsizetype i = from; i < probe.messages.size(); ++i) {
        if (probe.messages.at(i).topic == topic && probe.messages.at(i).payload == payload)
            return i;
    }
    return -1;
}

// A metering report of the console: every level at `level` (the console's byte), one channel at `peak`.
QByteArray metering_report(char level, int channel = -1, char peak = 0)
{
    QByteArray report(2 + 6, level);
    report[0] = char(report.size());
    report[1] = char(emulator::type_byte(emulator::MessageType::state, emulator::item::metering));
    if (channel >= 0)
        report[2 + channel] = peak;
    return report;
}

// The state topics whose last payload is a value (filled) or empty (cleared).
qsizetype state_topics(const Probe &probe, bool filled)
{
    qsizetype n = 0;
    for (auto it = probe.last.cbegin(); it != probe.last.cend(); ++it)
        n += it.key().startsWith(state_prefix) && it.value().isEmpty() != filled;
    return n;
}

} // namespace

class TestMqttBridge : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void lateSubscriberGetsTheCompleteState();
    void commandIsCarriedOut_data();
    void commandIsCarriedOut();
    void answersGoToTheReplyTopic_data();
    void answersGoToTheReplyTopic();
    void commandWhileUnplugged();
    void brokerRestartCompletesTheStateAgain();
    void unplugAndReplug();
    void meteringAtItsRateWithPeaks_data();
    void meteringAtItsRateWithPeaks();
    void brokerThatStopsReadingLosesMetersNotState();

private:
    // Waits until the console's state is complete and every key of it is on its way to the broker.
    bool wait_until_published();
    QJsonObject all_from_websocket();
    // The state topics a late subscriber gets, by key, checked against the WebSocket client's "all".
    void verify_late_state_equals_all();

    std::unique_ptr<Broker> broker;
    emulator::ConsoleModel model;
    std::unique_ptr<CUSBHID> link;
    std::unique_ptr<CKorvel> console;
    std::unique_ptr<CWebSocketInterface> ws;
    std::unique_ptr<korvel::mqtt::Client> mqtt;
    std::unique_ptr<Bridge> bridge;
    std::unique_ptr<e2e::JsonClient> client;
};

void TestMqttBridge::init()
{
    broker = std::make_unique<Broker>();
    QVERIFY2(broker->start(), qPrintable(broker->log()));

    device().reset();
    model.restore_factory_state();
    device().set_present(true);
    device().set_model(&model);
    // In the window's order: link, console, WebSocket server; the bridge follows the link after them.
    link = std::make_unique<CUSBHID>(nullptr, korvel::usb::vendor_id, korvel::usb::product_id);
    console = std::make_unique<CKorvel>(link.get(), nullptr);
    ws = std::make_unique<CWebSocketInterface>(console.get(), nullptr);
    ws->setPort(0);
    mqtt = std::make_unique<korvel::mqtt::Client>(nullptr);
    bridge = std::make_unique<Bridge>(console.get(), mqtt.get(), nullptr);

    korvel::mqtt::Settings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = broker->port();
    settings.prefix = prefix;
    settings.client_id = QStringLiteral("korvel-bridge-test");
    mqtt->set_settings(settings);
    mqtt->start();
    QTRY_COMPARE_WITH_TIMEOUT(mqtt->state(), State::Connected, 10000);

    link->set_auto_connect(true);
    QCOMPARE(link->start(), 0);
    client = std::make_unique<e2e::JsonClient>();
    QVERIFY(client->open(ws->listening_port()));
}

void TestMqttBridge::cleanup()
{
    client.reset();
    bridge.reset();
    mqtt.reset();
    ws.reset();
    console.reset();
    if (link)
        link->stop();
    link.reset();
    device().set_model(nullptr);
    broker.reset();
}

bool TestMqttBridge::wait_until_published()
{
    if (!QTest::qWaitFor([&] { return ws->state_complete() && mqtt->state_cache().size() == snapshot_keys; }))
        return false;
    // The broker has it all once a subscriber sees, for every key, the value the bridge sent last.
    Probe watcher(broker->port(), state_prefix + "#");
    return watcher.wait_for([&] {
        const QMap<QString, QByteArray> &sent = mqtt->state_cache();
        for (auto it = sent.cbegin(); it != sent.cend(); ++it) {
            if (watcher.last.value(state_prefix + it.key()) != it.value())
                return false;
        }
        return true;
    });
}

QJsonObject TestMqttBridge::all_from_websocket()
{
    client->send(QStringLiteral(R"({"msg": "get_all"})"));
    return client->wait_for(QStringLiteral("all")).value(QLatin1String("data")).toObject();
}

void TestMqttBridge::verify_late_state_equals_all()
{
    const QJsonObject all = all_from_websocket();
    QCOMPARE(all.size(), snapshot_keys);
    // Once a subscriber has seen every key, the broker has them all, and a later subscriber gets them retained.
    Probe watcher(broker->port(), state_prefix + "#");
    QVERIFY(watcher.wait_for([&] { return watcher.last.size() == snapshot_keys; }));
    Probe late(broker->port(), state_prefix + "#");
    QVERIFY(late.ready());
    QVERIFY(late.wait_for([&] { return late.retained.size() == snapshot_keys; }));
    for (auto it = all.constBegin(); it != all.constEnd(); ++it) {
        const QByteArray payload = late.retained.value(state_prefix + it.key());
        QVERIFY2(parsed(payload) == it.value(), qPrintable(it.key() + ": " + QString::fromUtf8(payload)));
    }
}

void TestMqttBridge::lateSubscriberGetsTheCompleteState()
{
    QVERIFY(wait_until_published());
    verify_late_state_equals_all();
    Probe status(broker->port(), status_topic);
    QVERIFY(status.wait_for([&] { return !status.retained.isEmpty(); }));
    QCOMPARE(status.retained.value(status_topic), QByteArray(R"("connected")"));
}

void TestMqttBridge::commandIsCarriedOut_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArrayList>("reports"); // written to the console, in order
    QTest::addColumn<QByteArray>("event");       // exactly
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("member");
    QTest::addColumn<QString>("field"); // empty: the member's value itself
    QTest::addColumn<QJsonValue>("value");

    QTest::newRow("fader reserve") << QByteArray(R"({"msg": "set_config_fader_reserve", "data": {"mod2": true}})")
                                   << QByteArrayList{written("04 1B 01 01")}
                                   << QByteArray(R"({"data":{"mod2":true},"msg":"on_config_fader_reserve"})")
                                   << "config_fader_reserve"
                                   << "mod2" << QString() << QJsonValue(true);
    QTest::newRow("cough with id") << QByteArray(R"({"msg":"set_studio_remote","data":{"mod1":{"cough":true}},"id":4})")
                                   << QByteArrayList{written("04 0C 00 01")}
                                   << QByteArray(R"({"data":{"mod1":true},"msg":"on_cough"})") << "studio_remote"
                                   << "mod1"
                                   << "cough" << QJsonValue(true);
    QTest::newRow("non-stop") << QByteArray(R"({"msg": "set_non_stop", "data": "on"})")
                              << QByteArrayList{written("03 0A 01")}
                              << QByteArray(R"({"data":true,"msg":"on_non_stop"})") << "non_stop" << QString()
                              << QString() << QJsonValue(true);
    QTest::newRow("led steady") << QByteArray(R"({"msg": "set_ctrl_led", "data": {"b5": "green"}})")
                                << QByteArrayList{written("04 02 0C 02")}
                                << QByteArray(R"({"data":{"b5":"green"},"msg":"on_ctrl_led"})") << "ctrl_led"
                                << "b5" << QString() << QJsonValue(QStringLiteral("green"));
    // The blink table's report, and the key it shares with the steady table's.
    QTest::newRow("led blinking")
        << QByteArray(
               R"({"msg":"set_ctrl_led","data":{"b8":{"color_on":"green","color_off":"off","blink_speed":"fast"}}})")
        << QByteArrayList{written("06 03 0F 02 00 02")}
        << QByteArray(R"({"data":{"b8":{"blink_speed":"fast","color_on":"green"}},"msg":"on_ctrl_led"})") << "ctrl_led"
        << "b8"
        << "blink_speed" << QJsonValue(QStringLiteral("fast"));
}

void TestMqttBridge::commandIsCarriedOut()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArrayList, reports);
    QFETCH(QByteArray, event);
    QFETCH(QString, key);
    QFETCH(QString, member);
    QFETCH(QString, field);
    QFETCH(QJsonValue, value);

    QVERIFY(wait_until_published());
    QVERIFY(device().pending_input() == 0);
    Probe watcher(broker->port(), prefix + "/#");
    QVERIFY(watcher.ready());
    device().clear_writes();
    watcher.publish(command_topic, command);

    QVERIFY(watcher.wait_for([&] { return payloads(watcher, event_topic).contains(event); }));
    QCOMPARE(device().writes(), reports);
    // A command that succeeds has no answer.
    QCOMPARE(payloads(watcher, reply_topic), QByteArrayList());

    const QString topic = state_prefix + key;
    const auto shown = [&](const QByteArray &payload) {
        QJsonValue v = parsed(payload);
        if (!member.isEmpty())
            v = v.toObject().value(member);
        if (!field.isEmpty())
            v = v.toObject().value(field);
        return v;
    };
    QVERIFY(watcher.wait_for([&] { return shown(watcher.last.value(topic)) == value; }));
    Probe late(broker->port(), topic);
    QVERIFY(late.wait_for([&] { return late.retained.contains(topic); }));
    QCOMPARE(shown(late.retained.value(topic)), value);
    QCOMPARE(parsed(late.retained.value(topic)), all_from_websocket().value(key));
    // Only the notification's key was rebuilt: every other one still equals the snapshot.
    verify_late_state_equals_all();
}

void TestMqttBridge::answersGoToTheReplyTopic_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply"); // exactly

    QTest::newRow("query with id") << QByteArray(R"({"msg": "get_state_complete", "id": 7})")
                                   << QByteArray(R"({"data":true,"id":7,"msg":"state_complete"})");
    QTest::newRow("query without id") << QByteArray(R"({"msg": "get_topics"})")
                                      << QByteArray(R"({"data":["metering"],"msg":"topics"})");
    QTest::newRow("error with id") << QByteArray(R"({"msg": "set_on", "data": {"mod9": "on"}, "id": "x1"})")
                                   << QByteArray(R"({"data":"invalid key: 'data.mod9'","id":"x1","msg":"error"})");
    QTest::newRow("error with string id")
        << QByteArray(R"({"id": "n-12", "msg": "set_on", "data": {"mod3": 1}})")
        << QByteArray(
               R"({"data":"invalid data type for key: 'data.mod3', expected: String","id":"n-12","msg":"error"})");
    QTest::newRow("object id refused")
        << QByteArray(R"({"id": {"n": [1, 2]}, "msg": "set_on", "data": {"mod3": "on"}})")
        << QByteArray(
               R"({"data":"invalid data type for key: 'id', expected: String (at most 256 characters) or Number","msg":"error"})");
    // The broker keeps no subscriptions and no meters of its own: the list is empty, and an interval is still
    // checked before it is found to have nowhere to go.
    QTest::newRow("subscriptions") << QByteArray(R"({"msg": "get_subscriptions", "id": 2})")
                                   << QByteArray(R"({"data":[],"id":2,"msg":"subscriptions"})");
    QTest::newRow("interval refused") << QByteArray(R"({"msg": "set_metering_interval", "data": 0.5})")
                                      << QByteArray(
                                             R"({"data":"invalid data value '0.5' for key: 'data'","msg":"error"})");
    QTest::newRow("error without id") << QByteArray(R"({"msg": "set_non_stop", "data": "start"})")
                                      << QByteArray(
                                             R"({"data":"invalid data value 'start' for key: 'data'","msg":"error"})");
    QTest::newRow("no msg") << QByteArray(R"({"data": {"mod1": "on"}, "id": 3})")
                            << QByteArray(R"({"data":"key not found: 'msg'","id":3,"msg":"error"})");
    QTest::newRow("malformed") << QByteArray(R"({"msg": "set_on", "data": {"mod1": "on"})")
                               << QByteArray(R"({"data":"JSON syntax error, unterminated object","msg":"error"})");
    // As docs/mqtt.md shows it: cut short, the parser stops inside the last string.
    QTest::newRow("cut short") << QByteArray(R"({"msg": "set_on", "data": {"mod1": "on")")
                               << QByteArray(R"({"data":"JSON syntax error, unterminated string","msg":"error"})");
    QTest::newRow("not JSON") << QByteArray("on")
                              << QByteArray(R"({"data":"JSON syntax error, illegal value","msg":"error"})");
    QTest::newRow("too big") << QByteArray(R"({"msg": "get_topics", "pad": ")") +
                                    QByteArray(CWebSocketInterface::max_incoming_message, 'x') + "\"}"
                             << QByteArray(R"({"data":"message too big","msg":"error"})");
    QTest::newRow("empty") << QByteArray()
                           << QByteArray(R"({"data":"JSON syntax error, illegal value","msg":"error"})");
}

void TestMqttBridge::answersGoToTheReplyTopic()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);

    QVERIFY(wait_until_published());
    Probe watcher(broker->port(), reply_topic);
    QVERIFY(watcher.ready());
    client->clear();
    device().clear_writes();
    watcher.publish(command_topic, command);
    QVERIFY(watcher.wait_for([&] { return !watcher.messages.isEmpty(); }));
    QCOMPARE(payloads(watcher, reply_topic), QByteArrayList{reply});
    QVERIFY(!watcher.messages.first().retained);
    // Nothing reached the console, and the answer went to the broker alone, not to a WebSocket client.
    QCOMPARE(device().writes(), QByteArrayList());
    QVERIFY(e2e::sync_clients(*ws, {client.get()}));
    QCOMPARE(client->texts(), QStringList());
}

void TestMqttBridge::commandWhileUnplugged()
{
    QVERIFY(wait_until_published());
    Probe watcher(broker->port(), prefix + "/#");
    model.unplug();
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(status_topic) == R"("disconnected")"; }));
    device().clear_writes();
    watcher.publish(command_topic, R"({"msg": "set_on", "data": {"mod1": "on"}, "id": 5})");
    QVERIFY(watcher.wait_for([&] { return watcher.last.contains(reply_topic); }));
    QCOMPARE(payloads(watcher, reply_topic),
             QByteArrayList{R"({"data":"Device USB not connected!","id":5,"msg":"error"})"});
    QCOMPARE(device().writes(), QByteArrayList());
}

void TestMqttBridge::brokerRestartCompletesTheStateAgain()
{
    QVERIFY(wait_until_published());
    QSignalSpy up(mqtt.get(), &korvel::mqtt::Client::broker_connected);
    broker->stop(); // no persistence: the restarted broker has nothing retained
    QTRY_COMPARE(mqtt->state(), State::Failed);
    QVERIFY(broker->start());
    QTRY_COMPARE_WITH_TIMEOUT(up.size(), 1, 10000);
    verify_late_state_equals_all();
    Probe status(broker->port(), status_topic);
    QVERIFY(status.wait_for([&] { return !status.retained.isEmpty(); }));
    QCOMPARE(status.retained.value(status_topic), QByteArray(R"("connected")"));
}

void TestMqttBridge::unplugAndReplug()
{
    QVERIFY(wait_until_published());
    Probe watcher(broker->port(), prefix + "/#");
    QVERIFY(watcher.ready());

    model.unplug();
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(status_topic) == R"("disconnected")"; }));
    // Every state topic emptied: a late subscriber finds the status alone.
    QVERIFY(watcher.wait_for([&] { return state_topics(watcher, false) == snapshot_keys; }));
    {
        Probe late(broker->port(), prefix + "/#");
        // Retained messages come at once after the subscription; give stragglers a moment.
        late.wait_for([] { return false; }, 300);
        QCOMPARE(late.retained, (QMap<QString, QByteArray>{{status_topic, R"("disconnected")"}}));
    }

    model.replug();
    QVERIFY(wait_until_published());
    const QByteArray complete = R"({"data":true,"msg":"on_state_complete"})";
    QVERIFY(watcher.wait_for([&] { return position(watcher, event_topic, complete) >= 0; }));
    QVERIFY(watcher.wait_for([&] { return state_topics(watcher, true) == snapshot_keys; }));
    // The events in their order, and no state before the console's state is complete again.
    const qsizetype gone = position(watcher, event_topic, R"({"data":"disconnected","msg":"on_device_status"})");
    const qsizetype back = position(watcher, event_topic, R"({"data":"connected","msg":"on_device_status"})");
    const qsizetype done = position(watcher, event_topic, complete);
    QVERIFY(gone >= 0 && gone < back && back < done);
    QVERIFY(position(watcher, status_topic, R"("connected")", gone) > gone);
    for (qsizetype i = gone; i < done; ++i) {
        const Probe::Message &m = watcher.messages.at(i);
        QVERIFY2(!m.topic.startsWith(state_prefix) || m.payload.isEmpty(), qPrintable(m.topic));
    }
    verify_late_state_equals_all();
}

void TestMqttBridge::meteringAtItsRateWithPeaks_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channel"); // the level that peaks in a single report

    QTest::newRow("every report, pgm left") << 0 << 0;
    QTest::newRow("20/s, crm right") << 20 << 5;
    QTest::newRow("20/s, phones left") << 20 << 2;
    QTest::newRow("3/s, pgm right") << 3 << 1;
    QTest::newRow("1000/s, crm left") << 1000 << 4;
}

void TestMqttBridge::meteringAtItsRateWithPeaks()
{
    QFETCH(int, rate);
    QFETCH(int, channel);

    const QStringList names{"pgm_left", "pgm_right", "phones_left", "phones_right", "crm_left", "crm_right"};
    constexpr int reports = 1000; // a second of the console's metering
    constexpr int spike_at = 537;
    constexpr char quiet = 10;  // -40 dB
    constexpr char peak = 0x3F; // +13 dB
    QVERIFY(wait_until_published());
    bridge->set_metering_rate(rate);
    QCOMPARE(bridge->metering_rate(), rate);
    Probe watcher(broker->port(), prefix + "/metering");
    QVERIFY(watcher.ready());

    // One report a millisecond, as the console sends them.
    int fed = 0;
    QElapsedTimer clock;
    QTimer feeder;
    feeder.setTimerType(Qt::PreciseTimer);
    connect(&feeder, &QTimer::timeout, [&] {
        for (const qint64 due = std::min<qint64>(clock.elapsed() + 1, reports); fed < due; ++fed) {
            device().queue_input(fed == spike_at ? metering_report(quiet, channel, peak) : metering_report(quiet));
        }
        if (fed == reports)
            feeder.stop();
    });
    clock.start();
    feeder.start(1);
    QVERIFY(watcher.wait_for([&] { return !feeder.isActive(); }));
    const qint64 fed_ms = clock.elapsed();
    QVERIFY(watcher.wait_for([&] { return device().pending_input() == 0; }));
    // The last peak follows at most one interval later.
    watcher.wait_for([] { return false; }, 600);

    const QByteArrayList sent = payloads(watcher, prefix + "/metering");
    if (rate == 0) {
        QCOMPARE(sent.size(), reports);
    } else {
        // The rate over the feed and the last interval, and the intervals a late due may still take.
        const qint64 catch_up_ms = korvel::MeteringThrottle::catch_up_ns / 1'000'000;
        const qint64 allowed = (fed_ms + 1000 / rate + catch_up_ms) * rate / 1000 + 1;
        QVERIFY2(sent.size() <= allowed, qPrintable(QStringLiteral("%1 > %2").arg(sent.size()).arg(allowed)));
    }
    int spikes = 0;
    for (const QByteArray &payload : sent) {
        const QJsonObject message = QJsonDocument::fromJson(payload).object();
        QCOMPARE(message.value("msg").toString(), QStringLiteral("on_metering"));
        const QJsonObject levels = message.value("data").toObject();
        QCOMPARE(levels.keys().size(), names.size());
        for (int c = 0; c < names.size(); ++c) {
            const double level = levels.value(names.at(c)).toDouble(1000);
            // Only levels the console reported.
            QVERIFY2(level == -40 || (c == channel && level == 13), payload.constData());
            spikes += level == 13;
        }
    }
    QCOMPARE(spikes, 1);
}

void TestMqttBridge::brokerThatStopsReadingLosesMetersNotState()
{
    QVERIFY(wait_until_published());
    const QString changed = state_prefix + "config_fader_reserve";
    Probe watcher(broker->port(), changed);
    QVERIFY(watcher.ready());
    bridge->set_metering_rate(0);
    broker->pause();
    // Far more meters than the socket buffers and the outgoing queue hold together, a state change among them.
    for (int chunk = 0; chunk < 12; ++chunk) {
        if (chunk == 6)
            client->send(QStringLiteral(R"({"msg": "set_config_fader_reserve", "data": {"mod2": true}})"));
        for (int i = 0; i < 4000; ++i)
            device().queue_input(metering_report(char(chunk)));
        QVERIFY(QTest::qWaitFor([] { return device().pending_input() == 0; }));
    }
    QVERIFY(mqtt->outgoing().dropped() > 0);
    QVERIFY(mqtt->outgoing().bytes() <= mqtt->outgoing().budget_bytes());
    QCOMPARE(mqtt->state(), State::Connected);

    QCOMPARE(all_from_websocket().value("config_fader_reserve").toObject().value("mod2"), QJsonValue(true));
    broker->resume();
    QVERIFY(watcher.wait_for([&] { return parsed(watcher.last.value(changed)).toObject().value("mod2") == true; }));
    verify_late_state_equals_all();
}

QTEST_GUILESS_MAIN(TestMqttBridge)
#include "tst_mqttbridge.moc"
