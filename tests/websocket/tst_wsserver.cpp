// The server side: listening, clients and their count, delivery, device status notices, subscriptions, and the
// protections against clients that stop reading or send oversized messages.
#include "wstestclient.h"

#include "console/ckorvel.h"
#include "emulator/emulateddevice.h"
#include "usb/cusbhid.h"
#include "websocket/cwebsocketinterface.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>

using emulator::EmulatedDevice;

namespace {
const QString connected_text =
    QStringLiteral("{\n    \"data\": \"connected\",\n    \"msg\": \"on_device_status\"\n}\n");
const QString disconnected_text =
    QStringLiteral("{\n    \"data\": \"disconnected\",\n    \"msg\": \"on_device_status\"\n}\n");

QJsonObject parse(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

QStringList msgs(const QStringList &texts)
{
    QStringList names;
    for (const QString &text : texts)
        names.append(parse(text).value("msg").toString());
    return names;
}

// Debug lines written while an instance lives, passed on to the test log as well.
class LogCapture {
public:
    LogCapture()
    {
        lines().clear();
        previous() = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() { qInstallMessageHandler(previous()); }
    static QStringList &lines()
    {
        static QStringList captured;
        return captured;
    }
    static qsizetype count_starting_with(const QString &prefix)
    {
        return std::count_if(lines().cbegin(), lines().cend(), [&](const QString &l) { return l.startsWith(prefix); });
    }

private:
    static QtMessageHandler &previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        lines().append(message);
        if (previous())
            previous()(type, context, message);
    }
};
} // namespace

class TestWsServer : public QObject {
    Q_OBJECT

private slots:
    void init() { EmulatedDevice::instance().reset(); }

    void listensOnTheStoredPortAndLogsIt()
    {
        QTest::ignoreMessage(QtDebugMsg, "WebSocket Server is listening on port: 0");
        WsRig rig;
        QVERIFY(rig.ws->is_listening());
        QVERIFY(rig.port() != 0);

        // A port known to be free a moment ago: the line shows it, and the server listens there.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::AnyIPv4, 0));
        const quint16 chosen = probe.serverPort();
        probe.close();
        QTest::ignoreMessage(QtDebugMsg,
                             qPrintable(QStringLiteral("WebSocket Server is listening on port: %1").arg(chosen)));
        rig.ws->setPort(chosen);
        QVERIFY(rig.ws->is_listening());
        QCOMPARE(rig.ws->listening_port(), chosen);
    }

    void aNumberThatIsNoPortIsNotListenedOn_data()
    {
        QTest::addColumn<int>("port");
        QTest::newRow("65536") << 65536;
        QTest::newRow("-1") << -1;
        QTest::newRow("65536 + 19552") << 65536 + 19552;
    }

    void aNumberThatIsNoPortIsNotListenedOn()
    {
        QFETCH(int, port);
        WsRig rig;
        QVERIFY(rig.ws->is_listening());
        rig.ws->setPort(port);
        QVERIFY(!rig.ws->is_listening());
        rig.ws->setPort(0);
        QVERIFY(rig.ws->is_listening());
    }

    void nothingIsSentToANewClient()
    {
        WsRig rig;
        WsTestClient client;
        QVERIFY(client.open(rig.port()));
        QTRY_COMPARE(rig.ws->client_count(), 1);
        QVERIFY(sync_clients(*rig.ws, {&client}));
        QCOMPARE(client.take(), QStringList());
    }

    void deviceStatusReachesEveryClientOncePerOpenAndClose()
    {
        WsRig rig;
        WsTestClient first, second;
        QVERIFY(first.open(rig.port()));
        QVERIFY(second.open(rig.port()));
        QTRY_COMPARE(rig.ws->client_count(), 2);

        QCOMPARE(rig.link->start(), 0);
        QVERIFY(sync_clients(*rig.ws, {&first, &second}));
        QCOMPARE(first.take(), QStringList{connected_text});
        QCOMPARE(second.take(), QStringList{connected_text});

        QCOMPARE(rig.link->stop(), 0);
        QVERIFY(sync_clients(*rig.ws, {&first, &second}));
        QCOMPARE(first.take(), QStringList{disconnected_text});
        QCOMPARE(second.take(), QStringList{disconnected_text});
    }

    void clientCountFollowsConnectionsAndDisconnections()
    {
        WsRig rig;
        QSignalSpy counts(rig.ws.get(), &CWebSocketInterface::connected_clients);
        WsTestClient first, second;

        QTest::ignoreMessage(QtDebugMsg, "New websocket connection...");
        QVERIFY(first.open(rig.port()));
        QTRY_COMPARE(counts.count(), 1);
        QTest::ignoreMessage(QtDebugMsg, "New websocket connection...");
        QVERIFY(second.open(rig.port()));
        QTRY_COMPARE(counts.count(), 2);

        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^socketDisconnected: QWebSocket\\(0x[0-9a-f]+\\)$"));
        QVERIFY(first.close());
        QTRY_COMPARE(counts.count(), 3);
        QVERIFY(second.close());
        QTRY_COMPARE(counts.count(), 4);

        QList<int> values;
        for (const auto &args : std::as_const(counts))
            values.append(args.at(0).toInt());
        QCOMPARE(values, (QList<int>{1, 2, 1, 0}));
        QCOMPARE(rig.ws->client_count(), 0);
        // Disconnected connections are released.
        QTRY_COMPARE(rig.ws->findChildren<QWebSocket *>().size(), 0);
    }

    void subscriptionsAreGoneAfterReconnecting()
    {
        WsRig rig;
        QCOMPARE(rig.link->start(), 0);
        WsTestClient client;
        QVERIFY(client.open(rig.port()));
        client.send(R"({"msg":"subscribe","data":"metering"})");
        QCOMPARE(parse(client.ask(R"({"msg":"get_subscriptions"})")).value("data").toArray(), QJsonArray{"metering"});

        QVERIFY(client.close());
        QTRY_COMPARE(rig.ws->client_count(), 0);
        client.texts.clear();
        QVERIFY(client.open(rig.port()));
        QTRY_COMPARE(rig.ws->client_count(), 1);
        const QJsonObject reply = parse(client.ask(R"({"msg":"get_subscriptions"})"));
        QCOMPARE(reply.value("msg").toString(), QStringLiteral("subscriptions"));
        QVERIFY(reply.value("data").isArray());
        QCOMPARE(reply.value("data").toArray(), QJsonArray());
    }

    void meteringGoesOnlyToSubscribers_data()
    {
        // Which of three clients, in order of connection, subscribe to "metering".
        QTest::addColumn<QList<bool>>("subscribed");
        QTest::newRow("first and third") << QList<bool>{true, false, true};
        QTest::newRow("second and third") << QList<bool>{false, true, true};
        QTest::newRow("first and second") << QList<bool>{true, true, false};
        QTest::newRow("none") << QList<bool>{false, false, false};
    }

    void meteringGoesOnlyToSubscribers()
    {
        QFETCH(QList<bool>, subscribed);
        WsRig rig;
        QCOMPARE(rig.link->start(), 0);
        WsTestClient clients[3];
        QList<WsTestClient *> all;
        for (int i = 0; i < 3; ++i) {
            QVERIFY(clients[i].open(rig.port()));
            all.append(&clients[i]);
            if (subscribed[i]) {
                clients[i].send(R"({"msg":"subscribe","data":"metering"})");
                QCOMPARE(parse(clients[i].ask(R"({"msg":"get_subscriptions"})")).value("data").toArray(),
                         QJsonArray{"metering"});
            }
        }
        QVERIFY(sync_clients(*rig.ws, all));
        for (auto *client : all)
            client->take();

        emit rig.console->state_metering_event(-12.25f, 3.5f, 0, 0, 0, 0);
        emit rig.console->state_on_event(0, 1);
        emit rig.console->state_metering_event(1, 2, 3, 4, 5, 6);
        QVERIFY(sync_clients(*rig.ws, all));
        for (int i = 0; i < 3; ++i) {
            const QStringList expected =
                subscribed[i] ? QStringList{"on_metering", "on_on", "on_metering"} : QStringList{"on_on"};
            QCOMPARE(msgs(clients[i].take()), expected);
        }
    }

    void aRefusedMessageIsAnsweredToItsSenderOnly()
    {
        WsRig rig;
        WsTestClient sender, other;
        QVERIFY(sender.open(rig.port()));
        QVERIFY(other.open(rig.port()));
        QTRY_COMPARE(rig.ws->client_count(), 2);

        // Link closed: every message is refused.
        QCOMPARE(sender.ask(R"({"msg":"get_api_version"})"),
                 QStringLiteral("{\n    \"data\": \"Device USB not connected!\",\n    \"msg\": \"error\"\n}\n"));

        QCOMPARE(rig.link->start(), 0);
        QVERIFY(sync_clients(*rig.ws, {&sender, &other}));
        sender.take();
        other.take();
        sender.send(R"({"msg": "get_topics",})");
        // A message carried out without a reply produces nothing.
        sender.send(R"({"msg": "GET_TOPICS"})");
        // Answered after the two above have been handled.
        sender.send(R"({"msg": "get_api_version"})");
        QTRY_COMPARE(sender.texts.size(), 2);
        const QStringList replies = sender.take();
        QCOMPARE(msgs(replies), (QStringList{"error", "api_version"}));
        QVERIFY(parse(replies.at(0)).value("data").toString().startsWith("JSON syntax error, "));
        QVERIFY(sync_clients(*rig.ws, {&sender, &other}));
        QCOMPARE(other.take(), QStringList());
        QCOMPARE(sender.take(), QStringList());
    }

    void binaryFramesAreDropped()
    {
        WsRig rig;
        QCOMPARE(rig.link->start(), 0);
        WsTestClient client;
        QVERIFY(client.open(rig.port()));
        QTRY_COMPARE(rig.ws->client_count(), 1);
        QVERIFY(sync_clients(*rig.ws, {&client}));
        client.take();
        client.socket.sendBinaryMessage(R"({"msg":"get_topics"})");
        // A text message sent after it is answered; the binary one is not.
        QCOMPARE(parse(client.ask(R"({"msg":"get_api_version"})")).value("msg").toString(),
                 QStringLiteral("api_version"));
        QCOMPARE(client.texts.size(), 1);
    }

    void setPortKeepsConnectedClients()
    {
        WsRig rig;
        WsTestClient client;
        QVERIFY(client.open(rig.port()));
        QTRY_COMPARE(rig.ws->client_count(), 1);
        rig.ws->setPort(0);
        QVERIFY(rig.ws->is_listening());
        QCOMPARE(rig.ws->client_count(), 1);
        QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
        emit rig.console->state_non_stop_event(1);
        QVERIFY(sync_clients(*rig.ws, {&client}));
        QCOMPARE(msgs(client.take()), QStringList{"on_non_stop"});
    }

    // The server cannot listen any more (its new port is taken): connected clients keep getting notifications,
    // replies and error replies; new connections wait for a port that works.
    void clientsAreServedWhileTheServerCannotListen()
    {
        WsRig rig;
        QCOMPARE(rig.link->start(), 0);
        WsTestClient client;
        QVERIFY(client.open(rig.port()));
        QTRY_COMPARE(rig.ws->client_count(), 1);
        QVERIFY(sync_clients(*rig.ws, {&client}));
        client.take();

        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::AnyIPv4, 0));
        rig.ws->setPort(holder.serverPort());
        QVERIFY(!rig.ws->is_listening());
        QCOMPARE(rig.ws->listening_port(), quint16(0));

        emit rig.console->state_on_event(2, 1);
        QVERIFY(sync_clients(*rig.ws, {&client}));
        QCOMPARE(client.take(),
                 QStringList{QStringLiteral(
                     "{\n    \"data\": {\n        \"mod3\": true\n    },\n    \"msg\": \"on_on\"\n}\n")});
        QCOMPARE(parse(client.ask(R"({"msg":"get_api_version"})")).value("data").toString(), QStringLiteral("0.3.0"));
        QCOMPARE(parse(client.ask("not json")).value("msg").toString(), QStringLiteral("error"));

        rig.link->stop();
        QVERIFY(sync_clients(*rig.ws, {&client}));
        QVERIFY(client.take().contains(disconnected_text));

        rig.ws->setPort(0);
        QVERIFY(rig.ws->is_listening());
        WsTestClient late;
        QVERIFY(late.open(rig.port()));
        QTRY_COMPARE(rig.ws->client_count(), 2);
    }

    // A client that stops reading is closed once its unsent output reaches the bound; the others go on.
    void aClientThatStopsReadingIsDropped()
    {
        WsRig rig;
        QSignalSpy counts(rig.ws.get(), &CWebSocketInterface::connected_clients);
        WsTestClient healthy;
        QVERIFY(healthy.open(rig.port()));

        // A raw client: opens the connection by hand, then takes in almost nothing more.
        QTcpSocket stalled;
        stalled.connectToHost(QHostAddress::LocalHost, rig.port());
        QVERIFY(stalled.waitForConnected(10000));
        stalled.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
        QTRY_VERIFY(stalled.peek(4096).contains("\r\n\r\n"));
        QVERIFY(stalled.readAll().startsWith("HTTP/1.1 101"));
        stalled.setReadBufferSize(1);
        QTRY_COMPARE(rig.ws->client_count(), 2);
        QCOMPARE(counts.count(), 2);

        LogCapture log;
        const QJsonObject bulk{{"data", QString(256 * 1024, QLatin1Char('x'))}, {"msg", "bulk"}};
        int sent = 0;
        // Far more than the bound plus whatever the kernel buffers on both ends can hold.
        constexpr int max_sends = 1000;
        while (rig.ws->client_count() == 2 && sent < max_sends) {
            rig.ws->sendJSON(bulk, QString(), nullptr);
            ++sent;
            QVERIFY(QTest::qWaitFor([&] { return healthy.texts.size() == sent; }, 10000));
        }
        QCOMPARE(rig.ws->client_count(), 1);
        QCOMPARE(counts.count(), 3);
        QCOMPARE(counts.last().at(0).toInt(), 1);
        QCOMPARE(LogCapture::count_starting_with("WebSocket client too slow, closed:"), 1);

        // The healthy client got everything and keeps receiving; the dropped one is released without a
        // second removal.
        emit rig.console->state_cue_event(8, 1);
        QVERIFY(sync_clients(*rig.ws, {&healthy}));
        const QStringList received = healthy.take();
        QCOMPARE(received.size(), sent + 1);
        QCOMPARE(parse(received.last()).value("msg").toString(), QStringLiteral("on_cue"));
        QCOMPARE(healthy.socket.state(), QAbstractSocket::ConnectedState);
        QTRY_COMPARE(rig.ws->findChildren<QWebSocket *>().size(), 1);
        QVERIFY(sync_clients(*rig.ws, {&healthy}));
        QCOMPARE(counts.count(), 3);
        QCOMPARE(LogCapture::count_starting_with("socketDisconnected:"), 0);
    }

    void oversizedMessageClosesOnlyItsSender()
    {
        WsRig rig;
        QCOMPARE(rig.link->start(), 0);
        WsTestClient big, other;
        QVERIFY(big.open(rig.port()));
        QVERIFY(other.open(rig.port()));
        other.send(R"({"msg":"subscribe","data":"metering"})");
        QCOMPARE(parse(other.ask(R"({"msg":"get_subscriptions"})")).value("data").toArray(), QJsonArray{"metering"});
        QTRY_COMPARE(rig.ws->client_count(), 2);

        // A message of exactly the limit is still read (and refused as the non-JSON it is).
        const qsizetype limit = CWebSocketInterface::max_incoming_message;
        QVERIFY(parse(big.ask(QString(limit, QLatin1Char('x')))).value("data").toString().startsWith("JSON syntax"));
        QCOMPARE(big.socket.state(), QAbstractSocket::ConnectedState);

        big.send(QString(limit + 1, QLatin1Char('x')));
        QTRY_COMPARE(big.socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(big.socket.closeCode(), QWebSocketProtocol::CloseCodeTooMuchData);
        QTRY_COMPARE(rig.ws->client_count(), 1);

        other.take();
        emit rig.console->state_metering_event(1, 2, 3, 4, 5, 6);
        QVERIFY(sync_clients(*rig.ws, {&other}));
        QCOMPARE(msgs(other.take()), QStringList{"on_metering"});
        QCOMPARE(other.socket.state(), QAbstractSocket::ConnectedState);
    }
};

QTEST_GUILESS_MAIN(TestWsServer)
#include "tst_wsserver.moc"
