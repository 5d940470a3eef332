// The frame of every client message (link check, parsing, "msg"), and the subscription and query commands as a
// real client sees them over a loopback connection.
#include "dispatcherrig.h"

#include "console/startupstate.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <QWebSocket>

using emulator::EmulatedDevice;

namespace {

// A client connected to the rig's server on a port of the system's choosing.
struct LoopbackClient {
    QWebSocket socket;
    QSignalSpy received{&socket, &QWebSocket::textMessageReceived};

    bool connect_to(CWebSocketInterface &websocket)
    {
        websocket.setPort(0);
        if (!websocket.is_listening() || websocket.listening_port() == 0)
            return false;
        QSignalSpy connected(&socket, &QWebSocket::connected);
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(websocket.listening_port())));
        return connected.wait(5000) || connected.count() == 1;
    }
    // Sends one message and returns the next text that arrives (empty when none comes).
    QString ask(const QString &message)
    {
        const qsizetype before = received.count();
        socket.sendTextMessage(message);
        if (received.count() == before && !received.wait(5000))
            return QString();
        return received.at(before).at(0).toString();
    }
};

QString envelope(const char *msg, const char *data_json)
{
    // Indented, keys in ascending order: the form every message to a client takes.
    return QStringLiteral("{\n    \"data\": %1,\n    \"msg\": \"%2\"\n}\n")
        .arg(QLatin1String(data_json), QLatin1String(msg));
}

const char *const metering_only = "[\n        \"metering\"\n    ]";
const char *const empty_array = "[\n    ]";

} // namespace

class TestDispatcherFrame : public QObject {
    Q_OBJECT

private slots:
    void init() { EmulatedDevice::instance().reset(); }

    void unplugged_refuses_everything_data()
    {
        QTest::addColumn<QString>("message");
        QTest::newRow("get_api_version") << QString::fromUtf8(R"({"msg": "get_api_version"})");
        QTest::newRow("set_on") << QString::fromUtf8(R"({"msg": "set_on", "data": {"mod1": "on"}})");
        QTest::newRow("subscribe") << QString::fromUtf8(R"({"msg": "subscribe", "data": "metering"})");
        QTest::newRow("set_metering_interval") << QString::fromUtf8(R"({"msg": "set_metering_interval", "data": 50})");
        QTest::newRow("syntax error") << QString::fromUtf8(R"({"msg": "get_topics",})");
        QTest::newRow("no msg") << QString::fromUtf8("[1, 2]");
        QTest::newRow("unknown command") << QString::fromUtf8(R"({"msg": "GET_TOPICS"})");
        QTest::newRow("empty") << QString::fromUtf8("");
    }

    void unplugged_refuses_everything()
    {
        QFETCH(QString, message);
        DispatcherRig never_opened;
        QString error;
        QCOMPARE(never_opened.websocket.parseJSON(nullptr, message, error), -1);
        QCOMPARE(error, QStringLiteral("Device USB not connected!"));

        DispatcherRig closed;
        QVERIFY(closed.open());
        QCOMPARE(closed.link.stop(), 0);
        EmulatedDevice::instance().clear_writes();
        error.clear();
        QCOMPARE(closed.websocket.parseJSON(nullptr, message, error), -1);
        QCOMPARE(error, QStringLiteral("Device USB not connected!"));
        QVERIFY(EmulatedDevice::instance().writes().isEmpty());
    }

    void refused_frames_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("error_start");
        QTest::addColumn<bool>("whole");
        const QString syntax = QStringLiteral("JSON syntax error, ");
        const QString no_msg = QStringLiteral("key not found: 'msg'");
        QTest::newRow("trailing comma") << QString::fromUtf8(R"({"msg": "get_topics",})") << syntax << false;
        QTest::newRow("empty text") << QString::fromUtf8("") << syntax << false;
        QTest::newRow("unterminated") << QString::fromUtf8(R"({"msg": "set_on", "data": {)") << syntax << false;
        QTest::newRow("top-level number") << QString::fromUtf8("5") << syntax << false;
        QTest::newRow("top-level string") << QString::fromUtf8(R"("get_topics")") << syntax << false;
        QTest::newRow("NaN literal") << QString::fromUtf8(
                                            R"({"msg": "set_config_gpo", "data": {"gpo1": {"time": NaN}}})")
                                     << syntax << false;
        QTest::newRow("number overflow") << QString::fromUtf8(
                                                R"({"msg": "set_config_gpo", "data": {"gpo1": {"time": 1e999}}})")
                                         << syntax << false;
        QTest::newRow("garbage after object") << QString::fromUtf8(R"({"msg": "get_topics"} x)") << syntax << false;
        QTest::newRow("array") << QString::fromUtf8("[1, 2]") << no_msg << true;
        QTest::newRow("empty array") << QString::fromUtf8("[]") << no_msg << true;
        QTest::newRow("empty object") << QString::fromUtf8("{}") << no_msg << true;
        QTest::newRow("data only") << QString::fromUtf8(R"({"data": {"mod1": "on"}})") << no_msg << true;
        QTest::newRow("msg letter case") << QString::fromUtf8(R"({"MSG": "get_topics"})") << no_msg << true;
        QTest::newRow("msg nested") << QString::fromUtf8(R"({"data": {"msg": "get_topics"}})") << no_msg << true;
    }

    void refused_frames()
    {
        QFETCH(QString, message);
        QFETCH(QString, error_start);
        QFETCH(bool, whole);
        DispatcherRig rig;
        QVERIFY(rig.open());
        EmulatedDevice::instance().clear_writes();
        QString error;
        QCOMPARE(rig.websocket.parseJSON(nullptr, message, error), -1);
        if (whole) {
            QCOMPARE(error, error_start);
        } else {
            QVERIFY2(error.startsWith(error_start), qPrintable(error));
            // The parser's own description follows.
            QVERIFY(error.size() > error_start.size());
        }
        QVERIFY(EmulatedDevice::instance().writes().isEmpty());
    }

    void ignored_messages_data()
    {
        QTest::addColumn<QString>("message");
        QTest::newRow("msg 5") << QString::fromUtf8(R"({"msg": 5})");
        QTest::newRow("msg capitals") << QString::fromUtf8(R"({"msg": "GET_TOPICS"})");
        QTest::newRow("msg null") << QString::fromUtf8(R"({"msg": null})");
        QTest::newRow("msg true") << QString::fromUtf8(R"({"msg": true})");
        QTest::newRow("msg array") << QString::fromUtf8(R"({"msg": ["set_on"], "data": {"mod1": "on"}})");
        QTest::newRow("msg object") << QString::fromUtf8(R"({"msg": {"set_on": 1}})");
        QTest::newRow("msg letter case of a command")
            << QString::fromUtf8(R"({"msg": "Set_On", "data": {"mod1": "on"}})");
        QTest::newRow("msg with a space") << QString::fromUtf8(R"({"msg": "set_on ", "data": {"mod1": "on"}})");
        QTest::newRow("msg empty") << QString::fromUtf8(R"({"msg": ""})");
        QTest::newRow("unknown command") << QString::fromUtf8(R"({"msg": "set_everything", "data": {"mod1": "on"}})");
    }

    // Answered with nothing at all: result 0, error untouched, no report; over a connection, no reply.
    void ignored_messages()
    {
        QFETCH(QString, message);
        DispatcherRig rig;
        QVERIFY(rig.open());
        EmulatedDevice::instance().clear_writes();
        QString error = QStringLiteral("untouched");
        QCOMPARE(rig.websocket.parseJSON(nullptr, message, error), 0);
        QCOMPARE(error, QStringLiteral("untouched"));
        QVERIFY(EmulatedDevice::instance().writes().isEmpty());

        LoopbackClient client;
        QVERIFY(client.connect_to(rig.websocket));
        client.socket.sendTextMessage(message);
        // Messages are handled in order, so the first text back answers the second message.
        QCOMPARE(client.ask(R"({"msg": "get_api_version"})"), envelope("api_version", "\"0.3.0\""));
        QCOMPARE(client.received.count(), 1);
    }

    // Queries and subscriptions without a connection behind them touch nothing and answer nobody.
    void senderless_queries_and_subscriptions()
    {
        DispatcherRig rig;
        QVERIFY(rig.open());
        LoopbackClient other;
        QVERIFY(other.connect_to(rig.websocket));
        QTRY_COMPARE(rig.websocket.client_count(), 1);
        EmulatedDevice::instance().clear_writes();

        QString error = QStringLiteral("untouched");
        for (const char *message :
             {R"({"msg": "subscribe", "data": "metering"})", R"({"msg": "unsubscribe", "data": "*"})",
              R"({"msg": "get_subscriptions"})", R"({"msg": "get_topics"})", R"({"msg": "get_api_version"})",
              R"({"msg": "get_config"})", R"({"msg": "get_states"})", R"({"msg": "get_all"})",
              R"({"msg": "get_firmware"})", R"({"msg": "set_metering_interval", "data": 50})",
              R"({"msg": "get_metering_interval"})"}) {
            QCOMPARE(rig.websocket.parseJSON(nullptr, QLatin1String(message), error), 0);
        }
        QCOMPARE(error, QStringLiteral("untouched"));
        QCOMPARE(rig.websocket.client_count(), 1);
        QVERIFY(EmulatedDevice::instance().writes().isEmpty());
        // The connected client got none of those answers: its own question is answered first.
        QCOMPARE(other.ask(R"({"msg": "get_topics"})"), envelope("topics", metering_only));
        QCOMPARE(other.received.count(), 1);
    }

    void queries_answer_the_sender()
    {
        DispatcherRig rig;
        QVERIFY(rig.open());
        rig.feed({input("05 C1 01 04 0C")});
        LoopbackClient client;
        QVERIFY(client.connect_to(rig.websocket));

        QCOMPARE(client.ask(R"({"msg": "get_api_version", "data": 17})"), envelope("api_version", "\"0.3.0\""));
        QCOMPARE(client.ask(R"({"msg": "get_topics"})"), envelope("topics", metering_only));
        QCOMPARE(client.ask(R"({"msg": "get_firmware"})"), envelope("firmware", "\"1.4.12\""));
        QCOMPARE(client.ask(R"({"msg": "set_on", "data": {"mod9": "on"}})"),
                 envelope("error", "\"invalid key: 'data.mod9'\""));
    }

    // A message's "id" comes back, exactly as given, on its reply or its error; without one the reply is the
    // same text as ever. A syntax error has no id to read, so it is answered as before.
    void replies_carry_the_id_data()
    {
        QTest::addColumn<QString>("message"); // %1: where the id member goes
        QTest::addColumn<QString>("id");      // as the client sends it
        QTest::addColumn<QString>("id_text"); // as the reply carries it; empty: the reply has no id
        QTest::addColumn<QString>("msg");
        QTest::addColumn<QString>("data");
        QTest::addColumn<bool>("unplugged");
        const QString api = QStringLiteral(R"({"msg": "get_api_version"%1})");
        const QString version = QStringLiteral("\"0.3.0\"");
        QTest::newRow("query, number") << api << "7"
                                       << "7"
                                       << "api_version" << version << false;
        QTest::newRow("query, string") << api << R"("r-1")"
                                       << R"("r-1")"
                                       << "api_version" << version << false;
        QTest::newRow("query, id before msg") << QStringLiteral(R"({"data": 0%1, "msg": "get_topics"})") << "2"
                                              << "2"
                                              << "topics" << metering_only << false;
        QTest::newRow("invalid key") << QStringLiteral(R"({"msg": "set_on", "data": {"mod9": "on"}%1})") << "3"
                                     << "3"
                                     << "error"
                                     << "\"invalid key: 'data.mod9'\"" << false;
        QTest::newRow("invalid value") << QStringLiteral(R"({"msg": "set_on", "data": {"mod1": "maybe"}%1})")
                                       << R"("x")"
                                       << R"("x")"
                                       << "error"
                                       << "\"invalid data value 'maybe' for key: 'data.mod1'\"" << false;
        QTest::newRow("no msg") << QStringLiteral(R"({"data": 1%1})") << "4"
                                << "4"
                                << "error"
                                << "\"key not found: 'msg'\"" << false;
        // Each client's metering interval: the reply, and the refusals of what is no whole number from 0 to 1000.
        const QString interval = QStringLiteral(R"({"msg": "set_metering_interval"%1})");
        QTest::newRow("set interval") << QStringLiteral(R"({"msg": "set_metering_interval", "data": 50%1})") << "8"
                                      << "8"
                                      << "metering_interval"
                                      << "50" << false;
        QTest::newRow("set interval 0") << QStringLiteral(R"({"msg": "set_metering_interval", "data": 0%1})") << "8"
                                        << "8"
                                        << "metering_interval"
                                        << "0" << false;
        QTest::newRow("set interval 1000")
            << QStringLiteral(R"({"msg": "set_metering_interval", "data": 1000%1})") << "8"
            << "8"
            << "metering_interval"
            << "1000" << false;
        QTest::newRow("get interval") << QStringLiteral(R"({"msg": "get_metering_interval"%1})") << "9"
                                      << "9"
                                      << "metering_interval"
                                      << "0" << false;
        const struct {
            const char *name;
            const char *data;
            const char *error;
        } refused_intervals[] = {
            {"interval 1001", R"(, "data": 1001)", R"("invalid data value '1001' for key: 'data'")"},
            {"interval -1", R"(, "data": -1)", R"("invalid data value '-1' for key: 'data'")"},
            {"interval 2.5", R"(, "data": 2.5)", R"("invalid data value '2.5' for key: 'data'")"},
            {"interval -0.5", R"(, "data": -0.5)", R"("invalid data value '-0.5' for key: 'data'")"},
            {"interval string", R"(, "data": "50")", R"("invalid data type for key: 'data', expected: Number")"},
            {"interval absent", "", R"("invalid data type for key: 'data', expected: Number")"},
            {"interval null", R"(, "data": null)", R"("invalid data type for key: 'data', expected: Number")"},
        };
        for (const auto &row : refused_intervals) {
            QTest::newRow(row.name) << interval.arg(QLatin1String(row.data) + QStringLiteral("%1")) << "1.5"
                                    << "1.5"
                                    << "error" << row.error << false;
        }
        QTest::newRow("not connected") << api << "5"
                                       << "5"
                                       << "error"
                                       << "\"Device USB not connected!\"" << true;
        QTest::newRow("syntax error") << QStringLiteral(R"({"msg": "get_topics"%1,})") << "6"
                                      << ""
                                      << "error"
                                      << "" << false;
    }

    void replies_carry_the_id()
    {
        QFETCH(QString, message);
        QFETCH(QString, id);
        QFETCH(QString, id_text);
        QFETCH(QString, msg);
        QFETCH(QString, data);
        QFETCH(bool, unplugged);
        DispatcherRig rig;
        QVERIFY(rig.open());
        if (unplugged)
            QCOMPARE(rig.link.stop(), 0);
        LoopbackClient client;
        QVERIFY(client.connect_to(rig.websocket));

        const QString without = client.ask(message.arg(QString()));
        const QString with = client.ask(message.arg(QStringLiteral(", \"id\": ") + id));
        if (id_text.isEmpty()) {
            QVERIFY2(without.contains(QLatin1String("JSON syntax error, ")), qPrintable(without));
            QCOMPARE(with, without);
            return;
        }
        QCOMPARE(without, envelope(msg.toLatin1().constData(), data.toLatin1().constData()));
        QCOMPARE(
            with,
            QStringLiteral("{\n    \"data\": %1,\n    \"id\": %2,\n    \"msg\": \"%3\"\n}\n").arg(data, id_text, msg));
        // The next message without an id is answered without one.
        if (!unplugged)
            QCOMPARE(client.ask(QStringLiteral(R"({"msg": "get_topics"})")), envelope("topics", metering_only));
    }

    // Only a string of at most 256 characters or a number is echoed; any other id refuses its message with an
    // error that carries none, so a client cannot make every reply as large as it likes.
    void ids_that_cannot_be_echoed_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("echoed");
        QTest::newRow("null") << "null" << false;
        QTest::newRow("object") << R"({"n": 1})" << false;
        QTest::newRow("array") << "[1]" << false;
        QTest::newRow("bool") << "true" << false;
        QTest::newRow("257 characters") << '"' + QString(257, 'x') + '"' << false;
        QTest::newRow("256 characters") << '"' + QString(256, 'x') + '"' << true;
        QTest::newRow("empty string") << R"("")" << true;
        QTest::newRow("large number") << "1e300" << true;
    }

    void ids_that_cannot_be_echoed()
    {
        QFETCH(QString, id);
        QFETCH(bool, echoed);
        DispatcherRig rig;
        QVERIFY(rig.open());
        LoopbackClient client;
        QVERIFY(client.connect_to(rig.websocket));
        // A console command with such an id is refused the same way.
        const QString on = QStringLiteral(R"({"msg": "set_on", "data": {"mod1": "on"}, "id": %1})").arg(id);
        const QString reply = client.ask(QStringLiteral(R"({"msg": "get_api_version", "id": %1})").arg(id));
        if (echoed) {
            const QJsonObject answer = QJsonDocument::fromJson(reply.toUtf8()).object();
            QCOMPARE(answer.value("msg").toString(), QStringLiteral("api_version"));
            QCOMPARE(answer.value("id"), QJsonDocument::fromJson(("[" + id + "]").toUtf8()).array().at(0));
            return;
        }
        QCOMPARE(reply, envelope("error", R"("invalid data type for key: 'id', expected: String (at most 256 )"
                                          R"(characters) or Number")"));
        QCOMPARE(client.ask(on), reply);
    }

    // The id of the last message is not left behind for the notifications that follow it.
    void notifications_carry_no_id()
    {
        DispatcherRig rig;
        QVERIFY(rig.open());
        rig.feed({input("0A E0 00 00 00 00 00 00 00 00")});
        LoopbackClient client;
        QVERIFY(client.connect_to(rig.websocket));
        QCOMPARE(client.ask(R"({"msg": "get_topics", "id": 1})"),
                 QStringLiteral("{\n    \"data\": %1,\n    \"id\": 1,\n    \"msg\": \"topics\"\n}\n")
                     .arg(QLatin1String(metering_only)));
        rig.feed({input("0A E0 00 01 00 00 00 00 00 00")});
        QTRY_COMPARE(client.received.count(), 2);
        const QJsonObject notification =
            QJsonDocument::fromJson(client.received.at(1).at(0).toString().toUtf8()).object();
        QCOMPARE(notification.value("msg").toString(), QStringLiteral("on_on"));
        QVERIFY(!notification.contains(QLatin1String("id")));
    }

    // After the link opens, "on_state_complete" comes once: when the last start-up request is answered, or, with
    // answers missing, once the wait for them is over. get_state_complete tells which side of it a client is on.
    void state_complete_data()
    {
        QTest::addColumn<int>("left_out"); // start-up answers the console does not send, from the last on
        QTest::addColumn<bool>("complete_at_once");
        QTest::newRow("every answer") << 0 << true;
        QTest::newRow("one missing") << 1 << false;
        QTest::newRow("none") << int(CKorvel::startup_requests().size()) << false;
    }

    void state_complete()
    {
        QFETCH(int, left_out);
        QFETCH(bool, complete_at_once);
        DispatcherRig rig;
        LoopbackClient client;
        QVERIFY(client.connect_to(rig.websocket));
        QVERIFY(rig.open());
        const auto texts = [&client] {
            QStringList all;
            for (const QList<QVariant> &arguments : client.received)
                all << arguments.at(0).toString();
            return all;
        };
        QTRY_COMPARE(texts(), QStringList{envelope("on_device_status", "\"connected\"")});
        QCOMPARE(client.ask(R"({"msg": "get_state_complete"})"), envelope("state_complete", "false"));

        const auto requests = CKorvel::startup_requests();
        for (std::size_t i = 0; i + left_out < requests.size(); ++i) {
            // A state report of each id, answers in the order asked; an echo answers nothing.
            const unsigned id = static_cast<unsigned>(requests[i]);
            EmulatedDevice::instance().queue_input(QByteArray::fromHex("038300"));
            EmulatedDevice::instance().queue_input(QByteArray(1, '\x03') + char(0xC0 | id) + QByteArray(1, '\0'));
        }
        QTRY_COMPARE(EmulatedDevice::instance().pending_input(), 0);
        QCOMPARE(client.ask(R"({"msg": "get_state_complete"})"),
                 envelope("state_complete", complete_at_once ? "true" : "false"));

        const QString told = envelope("on_state_complete", "true");
        QTRY_VERIFY_WITH_TIMEOUT(texts().contains(told), 2 * StartupState::max_wait_ms);
        QCOMPARE(client.ask(R"({"msg": "get_state_complete"})"), envelope("state_complete", "true"));
        QCOMPARE(texts().count(told), 1);
        QCOMPARE(texts().count(envelope("on_device_status", "\"connected\"")), 1);
    }

    // A command from a connection reaches the console and is not answered; a refused one is answered to its
    // sender with the refusal, after the reports of the keys before the refused one.
    void commands_from_a_client()
    {
        DispatcherRig rig;
        QVERIFY(rig.open());
        LoopbackClient client;
        QVERIFY(client.connect_to(rig.websocket));
        EmulatedDevice::instance().clear_writes();

        client.socket.sendTextMessage(R"({"msg": "set_on", "data": {"mod1": "on"}})");
        QCOMPARE(client.ask(R"({"msg": "set_cue", "data": {"aux": "on", "mod0": "on"}})"),
                 envelope("error", "\"invalid key: 'data.mod0'\""));
        QCOMPARE(client.received.count(), 1);
        QCOMPARE(EmulatedDevice::instance().writes(), (QByteArrayList{written("04 05 00 01"), written("04 06 08 01")}));
    }

    void get_all_joins_config_and_states()
    {
        DispatcherRig rig;
        QVERIFY(rig.open());
        rig.feed({input("05 C1 02 0A 07"), input("0A E0 00 01 00 00 00 00 00 00"), input("07 DC EC 05 01 02 01")});
        LoopbackClient client;
        QVERIFY(client.connect_to(rig.websocket));

        const QJsonObject config = QJsonDocument::fromJson(client.ask(R"({"msg": "get_config"})").toUtf8()).object();
        const QJsonObject states = QJsonDocument::fromJson(client.ask(R"({"msg": "get_states"})").toUtf8()).object();
        const QJsonObject all = QJsonDocument::fromJson(client.ask(R"({"msg": "get_all"})").toUtf8()).object();
        QCOMPARE(config.value("msg").toString(), QStringLiteral("config"));
        QCOMPARE(states.value("msg").toString(), QStringLiteral("states"));
        QCOMPARE(all.value("msg").toString(), QStringLiteral("all"));
        QVERIFY(config.value("data").isObject());
        QVERIFY(states.value("data").isObject());

        QJsonObject joined = config.value("data").toObject();
        const QJsonObject state_data = states.value("data").toObject();
        for (auto it = state_data.begin(); it != state_data.end(); ++it)
            joined.insert(it.key(), it.value());
        QVERIFY(!joined.isEmpty());
        QCOMPARE(all.value("data").toObject(), joined);
    }

    void subscriptions()
    {
        DispatcherRig rig;
        QVERIFY(rig.open());
        LoopbackClient client;
        QVERIFY(client.connect_to(rig.websocket));
        const QString get = QStringLiteral(R"({"msg": "get_subscriptions"})");

        QCOMPARE(client.ask(get), envelope("subscriptions", empty_array));
        // A known topic, a word that is no topic and a number: only the topic is taken, and nothing is answered.
        client.socket.sendTextMessage(R"({"msg": "subscribe", "data": ["metering", "weather", 7]})");
        QCOMPARE(client.ask(get), envelope("subscriptions", metering_only));
        client.socket.sendTextMessage(R"({"msg": "subscribe", "data": ["metering", "weather", 7]})");
        QCOMPARE(client.ask(get), envelope("subscriptions", metering_only));
        // "*" inside an array is just a word that is not subscribed.
        client.socket.sendTextMessage(R"({"msg": "unsubscribe", "data": ["*"]})");
        QCOMPARE(client.ask(get), envelope("subscriptions", metering_only));
        client.socket.sendTextMessage(R"({"msg": "unsubscribe", "data": "*"})");
        QCOMPARE(client.ask(get), envelope("subscriptions", empty_array));
        client.socket.sendTextMessage(R"({"msg": "subscribe", "data": "metering"})");
        QCOMPARE(client.ask(get), envelope("subscriptions", metering_only));
        client.socket.sendTextMessage(R"({"msg": "unsubscribe", "data": {"topic": "metering"}})");
        QCOMPARE(client.ask(get), envelope("subscriptions", metering_only));
        client.socket.sendTextMessage(R"({"msg": "unsubscribe", "data": ["metering"]})");
        QCOMPARE(client.ask(get), envelope("subscriptions", empty_array));
        client.socket.sendTextMessage(R"({"msg": "subscribe", "data": "Metering"})");
        QCOMPARE(client.ask(get), envelope("subscriptions", empty_array));
        // Every message above but the queries went unanswered.
        QCOMPARE(client.received.count(), 9);
    }

    // Each client has its own list.
    void subscriptions_are_per_client()
    {
        DispatcherRig rig;
        QVERIFY(rig.open());
        LoopbackClient first;
        QVERIFY(first.connect_to(rig.websocket));
        LoopbackClient second;
        second.socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(rig.websocket.listening_port())));
        QTRY_COMPARE(rig.websocket.client_count(), 2);

        first.socket.sendTextMessage(R"({"msg": "subscribe", "data": "metering"})");
        QCOMPARE(first.ask(R"({"msg": "get_subscriptions"})"), envelope("subscriptions", metering_only));
        QCOMPARE(second.ask(R"({"msg": "get_subscriptions"})"), envelope("subscriptions", empty_array));
    }
};

QTEST_GUILESS_MAIN(TestDispatcherFrame)
#include "tst_dispatcher_frame.moc"
