// The server side: listening, clients and their count, delivery, device status notices, subscriptions, and the
// protections against clients that stop reading or send oversized messages.
#include "wstestclient.h"

#include "console/ckorvel.h"
#include "emulator/emulateddevice.h"
#include "usb/cusbhid.h"
#include "websocket/cwebsocketinterface.h"

#include "websocket/authentication.h"
#include "websocket/connectionguard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>

#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

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

// A handshake with an Origin header, or none when origin is empty; true when the server accepted it.
bool connects_with_origin(quint16 port, const QString &origin)
{
    QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    if (!origin.isEmpty())
        request.setRawHeader("Origin", origin.toUtf8());
    QWebSocket socket;
    socket.open(request);
    if (!QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState || socket.error() >= 0; },
                         10000))
        return false;
    return socket.state() == QAbstractSocket::ConnectedState;
}

// Tries to connect until the server lets the client in (a bound or a block may take a while to lift).
bool open_when_admitted(WsTestClient &client, quint16 port)
{
    return QTest::qWaitFor(
        [&] {
            client.socket.abort();
            client.texts.clear();
            client.socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
            (void)QTest::qWaitFor([&] { return client.socket.state() != QAbstractSocket::ConnectingState; }, 2000);
            return client.socket.state() == QAbstractSocket::ConnectedState;
        },
        10000);
}

QString answer_to(const QString &hello, const QString &password)
{
    const QJsonObject data = parse(hello).value("data").toObject();
    const QByteArray secret = korvel::websocket::password_secret(password, data.value("salt").toString().toUtf8());
    return QString::fromLatin1(korvel::websocket::expected_answer(secret, data.value("challenge").toString().toUtf8()));
}

// Runs a command and reports whether it succeeded.
bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// A network namespace joined to this one by a pair of virtual Ethernet links, gone with the object.
struct PeerNamespace {
    PeerNamespace()
    {
        const qint64 pid = QCoreApplication::applicationPid();
        name = QStringLiteral("korvelws%1").arg(pid);
        host_link = QStringLiteral("kvh%1").arg(pid % 100000);
        peer_link = QStringLiteral("kvp%1").arg(pid % 100000);
        const QString subnet = QStringLiteral("10.%1.%2.").arg(200 + pid % 50).arg(pid / 50 % 256);
        host_address = subnet + "1";
        peer_address = subnet + "2";
        ok = run("ip", {"netns", "add", name}) &&
             run("ip", {"link", "add", host_link, "type", "veth", "peer", "name", peer_link}) &&
             run("ip", {"link", "set", peer_link, "netns", name}) &&
             run("ip", {"addr", "add", host_address + "/30", "dev", host_link}) &&
             run("ip", {"link", "set", host_link, "up"}) &&
             in_namespace({"ip", "addr", "add", peer_address + "/30", "dev", peer_link}) &&
             in_namespace({"ip", "link", "set", peer_link, "up"}) && in_namespace({"ip", "link", "set", "lo", "up"});
    }
    ~PeerNamespace()
    {
        run("ip", {"netns", "del", name});
        run("ip", {"link", "del", host_link});
    }
    bool in_namespace(const QStringList &command) { return run("ip", QStringList{"netns", "exec", name} + command); }

    bool ok = false;
    QString name, host_link, peer_link, host_address, peer_address;
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

    // Handshakes that finish in any order, and connections that never finish theirs, each leave every accepted
    // client with its own socket: a reply reaches its asker alone and metering its subscribers alone.
    void eachClientGetsItsOwnSocket_data()
    {
        QTest::addColumn<int>("clients");
        QTest::addColumn<int>("stalled");
        QTest::newRow("one") << 1 << 0;
        QTest::newRow("six at once") << 6 << 0;
        QTest::newRow("six, two stalled before them") << 6 << 2;
    }

    void eachClientGetsItsOwnSocket()
    {
        QFETCH(int, clients);
        QFETCH(int, stalled);
        WsRig rig;
        QCOMPARE(rig.link->start(), 0);

        // TCP connections that send half a handshake, and one that sends no handshake at all.
        std::vector<std::unique_ptr<QTcpSocket>> half_open;
        for (int i = 0; i < stalled; ++i) {
            half_open.push_back(std::make_unique<QTcpSocket>());
            half_open.back()->connectToHost(QHostAddress::LocalHost, rig.port());
            QVERIFY(half_open.back()->waitForConnected(10000));
            half_open.back()->write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n");
        }
        QTcpSocket garbage;
        garbage.connectToHost(QHostAddress::LocalHost, rig.port());
        QVERIFY(garbage.waitForConnected(10000));
        garbage.write("not a handshake\r\n\r\n");

        std::vector<std::unique_ptr<WsTestClient>> all;
        QList<WsTestClient *> pointers;
        for (int i = 0; i < clients; ++i) {
            all.push_back(std::make_unique<WsTestClient>());
            pointers.append(all.back().get());
            all.back()->socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(rig.port())));
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.ws->client_count(), clients, 10000);
        for (auto &client : all)
            QTRY_COMPARE(client->socket.state(), QAbstractSocket::ConnectedState);
        QTRY_COMPARE(garbage.state(), QAbstractSocket::UnconnectedState);

        // Every other client subscribes; each asks for its own list, all at once.
        for (int i = 0; i < clients; ++i) {
            if (i % 2 == 0)
                all[i]->send(R"({"msg":"subscribe","data":"metering"})");
            all[i]->send(R"({"msg":"get_subscriptions"})");
        }
        for (int i = 0; i < clients; ++i) {
            QTRY_COMPARE(all[i]->texts.size(), 1);
            const QJsonArray expected = i % 2 == 0 ? QJsonArray{"metering"} : QJsonArray();
            QCOMPARE(parse(all[i]->take().at(0)).value("data").toArray(), expected);
        }
        emit rig.console->state_metering_event(1, 2, 3, 4, 5, 6);
        QVERIFY(sync_clients(*rig.ws, pointers));
        for (int i = 0; i < clients; ++i)
            QCOMPARE(msgs(all[i]->take()), i % 2 == 0 ? QStringList{"on_metering"} : QStringList());

        // Once the clients are gone, nothing of theirs is left behind, sockets included.
        for (auto &client : all)
            QVERIFY(client->close());
        QTRY_COMPARE(rig.ws->client_count(), 0);
        for (auto &tcp : half_open)
            tcp->abort();
        QTRY_COMPARE(rig.ws->findChildren<QWebSocket *>().size(), 0);
        QTRY_COMPARE(rig.ws->findChildren<QTcpSocket *>().size(), 0);
    }

    // Who may connect: the listen address decides which of the machine's addresses take connections.
    void listenAddressDecidesWhoCanConnect_data()
    {
        QTest::addColumn<QString>("listen");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("connects");
        QTest::newRow("every interface, 127.0.0.2") << ""
                                                    << "127.0.0.2" << true;
        QTest::newRow("this machine only, 127.0.0.1") << "127.0.0.1"
                                                      << "127.0.0.1" << true;
        QTest::newRow("this machine only, 127.0.0.2") << "127.0.0.1"
                                                      << "127.0.0.2" << false;
        QTest::newRow("127.0.0.2 only, 127.0.0.1") << "127.0.0.2"
                                                   << "127.0.0.1" << false;
    }

    void listenAddressDecidesWhoCanConnect()
    {
        QFETCH(QString, listen);
        QFETCH(QString, target);
        QFETCH(bool, connects);
        WsRig rig;
        if (!listen.isEmpty())
            rig.ws->set_listen_address(QHostAddress(listen));
        QVERIFY(rig.ws->is_listening());
        QTcpSocket probe;
        probe.connectToHost(QHostAddress(target), rig.port());
        QCOMPARE(probe.waitForConnected(10000), connects);
        if (!connects)
            QCOMPARE(probe.error(), QAbstractSocket::ConnectionRefusedError);
    }

    void allowedOrigins_data()
    {
        QTest::addColumn<QStringList>("allowed");
        QTest::addColumn<QString>("origin");
        QTest::addColumn<bool>("accepted");
        const QStringList studio{"http://studio.example", "https://playout.example:8443"};
        QTest::newRow("no list, any origin") << QStringList() << "http://elsewhere.example" << true;
        QTest::newRow("no list, no origin") << QStringList() << "" << true;
        QTest::newRow("on the list") << studio << "https://playout.example:8443" << true;
        QTest::newRow("on the list, other letter case") << studio << "HTTP://Studio.Example" << true;
        QTest::newRow("off the list") << studio << "http://elsewhere.example" << false;
        QTest::newRow("off the list: same host, other port") << studio << "https://playout.example" << false;
        QTest::newRow("off the list: a prefix of an allowed one") << studio << "http://studio.example.evil" << false;
        QTest::newRow("list, no origin") << studio << "" << true;
        // Stored entries that are no origins at all match no page's origin: the list allows no page.
        QTest::newRow("only invalid entries")
            << QStringList{"studio-panel", "studio-panel:8080/panel"} << "http://studio-panel:8080" << false;
    }

    void allowedOrigins()
    {
        QFETCH(QStringList, allowed);
        QFETCH(QString, origin);
        QFETCH(bool, accepted);
        WsRig rig;
        rig.ws->set_allowed_origins(allowed);
        QSignalSpy seen(rig.ws.get(), &CWebSocketInterface::origin_seen);
        LogCapture log;
        // Twice: the second handshake with the same origin is treated alike and not logged again.
        for (int attempt = 1; attempt <= 2; ++attempt) {
            QCOMPARE(connects_with_origin(rig.port(), origin), accepted);
            QTRY_COMPARE(rig.ws->client_count(), 0);
        }
        const QStringList expected = origin.isEmpty() ? QStringList() : QStringList{origin};
        QCOMPARE(rig.ws->seen_origins(), expected);
        QCOMPARE(seen.count(), expected.size());
        QCOMPARE(LogCapture::count_starting_with("WebSocket origin seen:"), expected.size());
    }

    // The password exchange. Each step is a message the client sends ("right" and "wrong" answers, "other"
    // for a command before authenticating), then what it receives.
    // Known answers, computed apart from this code (Python's hashlib).
    void passwordArithmetic_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QByteArray>("salt");
        QTest::addColumn<QByteArray>("challenge");
        QTest::addColumn<QByteArray>("secret");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("words") << "on air" << QByteArray("c2FsdA==") << QByteArray("Y2hhbGxlbmdl")
                               << QByteArray("hnD3ERJ/lGRPxP5Pymy7OBssxYoq4G5/SVCs9XDkDpA=")
                               << QByteArray("D46w/r9+5e3KLkeFmoLxHJ/P4DmW+PHLpf9sR6ZtQV4=");
        QTest::newRow("empty password") << "" << QByteArray("salt") << QByteArray("challenge")
                                        << QByteArray("Y0ea1poJCyWCd+yPum+ZQZov+ySJgVEGV8lEzNEUjpc=")
                                        << QByteArray("5fmcrqR0I7snYOpUX/Ac22UdSA81TwCyHqCr6eFQyyI=");
        QTest::newRow("UTF-8") << QStringLiteral("Grüße") << QByteArray("s") << QByteArray("c")
                               << QByteArray("x0iVzMkrmlSiJcyIhjoEIi/AnqeT+1635mtKNCA7yqg=")
                               << QByteArray("I+95GYJ81FTSkTMt0kpwUEt3vtuD4Z65JrTMyA7F1jk=");
    }

    void passwordArithmetic()
    {
        QFETCH(QString, password);
        QFETCH(QByteArray, salt);
        QFETCH(QByteArray, challenge);
        QFETCH(QByteArray, secret);
        QFETCH(QByteArray, answer);
        QCOMPARE(korvel::websocket::password_secret(password, salt), secret);
        QCOMPARE(korvel::websocket::expected_answer(secret, challenge), answer);
        QVERIFY(korvel::websocket::answers_match(answer, answer));
        QVERIFY(!korvel::websocket::answers_match(answer.chopped(1), answer));
        QVERIFY(!korvel::websocket::answers_match(secret, answer));
    }

    void password_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("replies");
        QTest::addColumn<bool>("closed");
        const QString required = "error: authentication required";
        const QString failed = "error: authentication failed";
        QTest::newRow("right") << QStringList{"right", "other"}
                               << QStringList{"authenticated: true", "api_version: 0.3.0"} << false;
        QTest::newRow("command first") << QStringList{"other", "right"} << QStringList{required, "authenticated: true"}
                                       << false;
        QTest::newRow("wrong, then right") << QStringList{"wrong", "right", "other"}
                                           << QStringList{failed, "authenticated: true", "api_version: 0.3.0"} << false;
        QTest::newRow("two wrong, then right")
            << QStringList{"wrong", "wrong", "right"} << QStringList{failed, failed, "authenticated: true"} << false;
        QTest::newRow("three wrong") << QStringList{"wrong", "wrong", "wrong"} << QStringList{failed, failed} << true;
        // Refused commands count against the address with the wrong answers: the fifth closes the connection.
        QTest::newRow("commands count as failures") << QStringList{"other", "wrong", "other", "wrong", "other", "right"}
                                                    << QStringList{required, failed, required, failed} << true;
        QTest::newRow("silent") << QStringList() << QStringList() << true;
    }

    void password()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, replies);
        QFETCH(bool, closed);
        WsRig rig;
        QCOMPARE(rig.link->start(), 0);
        const QByteArray salt = korvel::websocket::random_token();
        rig.ws->set_password_secret(korvel::websocket::password_secret("on air", salt), salt);
        rig.ws->set_authentication_timeout(1500);
        WsTestClient client, bystander;
        QVERIFY(client.open(rig.port()));
        QTRY_COMPARE(client.texts.size(), 1);
        const QString hello = client.take().at(0);
        const QJsonObject greeting = parse(hello);
        QCOMPARE(greeting.value("msg").toString(), QStringLiteral("hello"));
        QCOMPARE(greeting.value("data").toObject().value("salt").toString(), QString::fromLatin1(salt));
        QCOMPARE(
            QByteArray::fromBase64(greeting.value("data").toObject().value("challenge").toString().toLatin1()).size(),
            32);

        QStringList received;
        for (const QString &step : std::as_const(steps)) {
            const QString text =
                step == "right"
                    ? QStringLiteral(R"({"msg":"authenticate","data":"%1"})").arg(answer_to(hello, "on air"))
                : step == "wrong"
                    ? QStringLiteral(R"({"msg":"authenticate","data":"%1"})").arg(answer_to(hello, "on air "))
                    : QStringLiteral(R"({"msg":"get_api_version"})");
            const qsizetype before = client.texts.size();
            client.send(text);
            if (!QTest::qWaitFor([&] { return client.texts.size() > before; }, 1000))
                continue;
            const QJsonObject reply = parse(client.texts.last());
            received.append(reply.value("msg").toString() + ": " + reply.value("data").toVariant().toString());
        }
        QCOMPARE(received, replies);

        // Notifications reach a connection only once it has authenticated.
        QVERIFY(bystander.open(rig.port()));
        QTRY_COMPARE(bystander.texts.size(), 1);
        client.take();
        emit rig.console->state_non_stop_event(1);
        if (closed) {
            QTRY_COMPARE_WITH_TIMEOUT(client.socket.state(), QAbstractSocket::UnconnectedState, 5000);
            QCOMPARE(client.socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
            QTRY_COMPARE(rig.ws->client_count(), 1);
        } else {
            QTRY_COMPARE(client.texts.size(), 1);
            QCOMPARE(msgs(client.take()), QStringList{"on_non_stop"});
            // The bystander has not authenticated: nothing but its hello.
            QTest::qWait(100);
            QCOMPARE(msgs(bystander.take()), QStringList{"hello"});
        }
    }

    // Connections over either bound are closed before their handshake is read; the clients within keep being
    // served, and a closed connection makes room for a new one.
    void connectionBounds_data()
    {
        QTest::addColumn<int>("max_connections");
        QTest::addColumn<int>("max_per_address");
        QTest::addColumn<int>("admitted");
        QTest::newRow("per address") << 10 << 2 << 2;
        QTest::newRow("in all") << 3 << 32 << 3;
    }

    void connectionBounds()
    {
        QFETCH(int, max_connections);
        QFETCH(int, max_per_address);
        QFETCH(int, admitted);
        WsRig rig;
        QCOMPARE(rig.link->start(), 0);
        rig.ws->set_connection_limits(max_connections, max_per_address);
        std::vector<std::unique_ptr<WsTestClient>> clients;
        for (int i = 0; i < admitted; ++i) {
            clients.push_back(std::make_unique<WsTestClient>());
            QVERIFY(clients.back()->open(rig.port()));
        }
        WsTestClient refused;
        QVERIFY(!refused.open(rig.port()));
        QCOMPARE(rig.ws->client_count(), admitted);
        QCOMPARE(clients.front()->ask(R"({"msg":"get_api_version"})"),
                 QStringLiteral("{\n    \"data\": \"0.3.0\",\n    \"msg\": \"api_version\"\n}\n"));
        QVERIFY(clients.front()->close());
        WsTestClient next;
        QVERIFY(open_when_admitted(next, rig.port()));
    }

    // A TCP connection that never sends its handshake is closed; one that finished it stays.
    void aConnectionWithoutHandshakeIsClosed()
    {
        WsRig rig;
        rig.ws->set_handshake_timeout(300);
        WsTestClient client;
        QVERIFY(client.open(rig.port()));
        QTcpSocket silent;
        silent.connectToHost(QHostAddress::LocalHost, rig.port());
        QVERIFY(silent.waitForConnected(5000));
        QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QAbstractSocket::UnconnectedState, 5000);
        QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
        QCOMPARE(client.ask(R"({"msg":"get_api_version"})").isEmpty(), false);
    }

    // Out of descriptors, the server stops accepting for a moment and says so, instead of trying again at
    // once; a connection that waited meanwhile gets in once a descriptor comes free.
    void acceptingPausesWhenDescriptorsRunOut()
    {
        WsRig rig;
        QCOMPARE(rig.link->start(), 0);
        WsTestClient first;
        QVERIFY(first.open(rig.port()));
        LogCapture log;
        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        // Restored however the test ends.
        const std::unique_ptr<rlimit, void (*)(rlimit *)> restore(
            &saved, [](rlimit *limit) { ::setrlimit(RLIMIT_NOFILE, limit); });
        // One free descriptor below the limit: the client's socket takes it, the server's end finds none.
        rlimit low = saved;
        low.rlim_cur = 0;
        for (int free_slots = 0; free_slots < 1; ++low.rlim_cur) {
            if (::fcntl(static_cast<int>(low.rlim_cur), F_GETFD) < 0)
                ++free_slots;
        }
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
        WsTestClient waiting;
        waiting.socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(rig.port())));
        QTRY_COMPARE_WITH_TIMEOUT(
            LogCapture::count_starting_with("WebSocket server cannot accept connections: Too many open files"), 1,
            5000);
        QCOMPARE(waiting.socket.state(), QAbstractSocket::ConnectingState);
        QCOMPARE(first.ask(R"({"msg":"get_api_version"})"),
                 QStringLiteral("{\n    \"data\": \"0.3.0\",\n    \"msg\": \"api_version\"\n}\n"));
        first.socket.abort();
        QTRY_COMPARE_WITH_TIMEOUT(waiting.socket.state(), QAbstractSocket::ConnectedState, 5000);
        QCOMPARE(LogCapture::count_starting_with("WebSocket server cannot accept connections:"), 1);
    }

    // Five refused answers from an address close its new connections for a while; before authenticating, a
    // message of more than a few KiB closes the connection (1009) and counts as one of them.
    void failedAnswersBlockTheAddress_data()
    {
        QTest::addColumn<QString>("refused"); // one refused message
        QTest::newRow("wrong answer") << R"({"msg":"authenticate","data":"nope"})";
        QTest::newRow("command") << R"({"msg":"get_api_version"})";
        QTest::newRow("too big") << QStringLiteral(R"({"msg":"authenticate","data":"%1"})").arg(QString(5000, 'x'));
    }

    void failedAnswersBlockTheAddress()
    {
        QFETCH(QString, refused);
        WsRig rig;
        QCOMPARE(rig.link->start(), 0);
        const QByteArray salt = korvel::websocket::random_token();
        rig.ws->set_password_secret(korvel::websocket::password_secret("on air", salt), salt);
        // Each connection gets one refused message, so the per-connection count never closes one.
        for (int i = 0; i < korvel::websocket::ConnectionGuard::max_failures; ++i) {
            WsTestClient client;
            QVERIFY(client.open(rig.port()));
            QTRY_COMPARE(client.texts.size(), 1);
            client.send(refused);
            if (refused.size() > 4096) {
                QTRY_COMPARE(client.socket.state(), QAbstractSocket::UnconnectedState);
                QCOMPARE(client.socket.closeCode(), QWebSocketProtocol::CloseCodeTooMuchData);
            } else if (i + 1 < korvel::websocket::ConnectionGuard::max_failures) {
                QTRY_COMPARE(client.texts.size(), 2);
            } else {
                QTRY_COMPARE(client.socket.state(), QAbstractSocket::UnconnectedState);
                QCOMPARE(client.socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
            }
        }
        WsTestClient blocked;
        QVERIFY(!blocked.open(rig.port()));
        // After the first block (a second) the right answer gets in, and may then send large messages.
        WsTestClient later;
        QVERIFY(open_when_admitted(later, rig.port()));
        QTRY_COMPARE(later.texts.size(), 1);
        later.send(QStringLiteral(R"({"msg":"authenticate","data":"%1"})").arg(answer_to(later.texts.at(0), "on air")));
        QTRY_COMPARE(later.texts.size(), 2);
        QCOMPARE(parse(later.texts.at(1)).value("msg").toString(), QStringLiteral("authenticated"));
        const QString big = QStringLiteral(R"({"msg":"get_api_version","data":"%1"})").arg(QString(5000, 'x'));
        QCOMPARE(parse(later.ask(big)).value("msg").toString(), QStringLiteral("api_version"));
    }

    // A client whose machine vanishes without closing its connection is removed by TCP keep-alive.
    void aVanishedPeerIsRemoved_data()
    {
        QTest::addColumn<bool>("busy");
        QTest::newRow("idle connection") << false;
        QTest::newRow("notifications in flight") << true;
    }

    void aVanishedPeerIsRemoved()
    {
        QFETCH(bool, busy);
        if (::geteuid() != 0)
            QSKIP("needs root to create a network namespace");
        PeerNamespace peer;
        QVERIFY(peer.ok);
        WsRig rig;
        rig.ws->set_keep_alive({1, 1, 2});
        rig.ws->setPort(0);

        // A client in the other namespace: handshake, then silence for far longer than the test.
        QProcess client;
        client.setProgram("ip");
        client.setArguments({"netns", "exec", peer.name, "python3", "-c",
                             QStringLiteral("import socket, time\n"
                                            "s = socket.create_connection(('%1', %2))\n"
                                            "s.sendall(b'GET / HTTP/1.1\\r\\nHost: x\\r\\nUpgrade: websocket\\r\\n"
                                            "Connection: Upgrade\\r\\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\\r\\n"
                                            "Sec-WebSocket-Version: 13\\r\\n\\r\\n')\n"
                                            "time.sleep(600)\n")
                                 .arg(peer.host_address)
                                 .arg(rig.port())});
        client.start();
        QTRY_COMPARE_WITH_TIMEOUT(rig.ws->client_count(), 1, 10000);

        // The peer's link goes down: nothing it would answer reaches it any more.
        QVERIFY(peer.in_namespace({"ip", "link", "set", peer.peer_link, "down"}));
        if (busy)
            emit rig.console->state_non_stop_event(1);
        QTRY_COMPARE_WITH_TIMEOUT(rig.ws->client_count(), 0, 20000);
        client.kill();
        client.waitForFinished();
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

    // A client's metering interval lasts as long as its connection.
    void meteringIntervalIsGoneAfterReconnecting()
    {
        WsRig rig;
        QCOMPARE(rig.link->start(), 0);
        WsTestClient client;
        QVERIFY(client.open(rig.port()));
        QCOMPARE(parse(client.ask(R"({"msg":"set_metering_interval","data":50})")).value("data").toInt(), 50);
        QCOMPARE(parse(client.ask(R"({"msg":"get_metering_interval"})")).value("data").toInt(), 50);
        QVERIFY(client.close());
        QTRY_COMPARE(rig.ws->client_count(), 0);
        client.texts.clear();
        QVERIFY(client.open(rig.port()));
        QTRY_COMPARE(rig.ws->client_count(), 1);
        const QJsonObject reply = parse(client.ask(R"({"msg":"get_metering_interval"})"));
        QCOMPARE(reply.value("msg").toString(), QStringLiteral("metering_interval"));
        QCOMPARE(reply.value("data").toVariant(), QVariant(0));
    }

    // Two clients at their own intervals beside one that never asked for one: a single-report spike among quiet
    // reports reaches each, each gets at most one "on_metering" per interval, none carries a level never
    // reported, and a client at 0 gets every report in the very bytes the untouched client gets.
    void meteringAtEachClientsInterval_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<int>("spike_at");
        QTest::addColumn<int>("channel");
        QTest::newRow("0 and 10, spike in the middle") << 0 << 10 << 150 << 0;
        QTest::newRow("10 and 50, spike last") << 10 << 50 << 299 << 1;
        QTest::newRow("50 and 200, spike second") << 50 << 200 << 1 << 2;
        QTest::newRow("200 and 1000, spike first") << 200 << 1000 << 0 << 3;
        QTest::newRow("1000 and 0, spike last") << 1000 << 0 << 299 << 5;
        QTest::newRow("equal intervals") << 50 << 50 << 120 << 4;
    }

    void meteringAtEachClientsInterval()
    {
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(int, spike_at);
        QFETCH(int, channel);
        constexpr int reports = 300;
        constexpr float quiet = -42.5f;
        constexpr float spike = 9.75f;
        const char *const names[] = {"pgm_left", "pgm_right", "phones_left", "phones_right", "crm_left", "crm_right"};

        WsRig rig;
        QCOMPARE(rig.link->start(), 0);
        WsTestClient paced[2], plain;
        const int intervals[2] = {first, second};
        for (int i = 0; i < 2; ++i) {
            QVERIFY(paced[i].open(rig.port()));
            paced[i].send(R"({"msg":"subscribe","data":"metering"})");
            // Set back to 0 after an interval, or set at once.
            for (const int ms : intervals[i] ? QList<int>{intervals[i]} : QList<int>{50, 0}) {
                const QJsonObject reply =
                    parse(paced[i].ask(QStringLiteral(R"({"msg":"set_metering_interval","data":%1})").arg(ms)));
                QCOMPARE(reply, (QJsonObject{{"data", ms}, {"msg", "metering_interval"}}));
            }
        }
        QVERIFY(plain.open(rig.port()));
        plain.send(R"({"msg":"subscribe","data":"metering"})");
        QCOMPARE(parse(plain.ask(R"({"msg":"get_subscriptions"})")).value("data").toArray(), QJsonArray{"metering"});
        const QList<WsTestClient *> all{&paced[0], &paced[1], &plain};
        QVERIFY(sync_clients(*rig.ws, all));
        for (WsTestClient *client : all)
            client->take();

        QElapsedTimer clock;
        clock.start();
        for (int report = 0; report < reports; ++report) {
            float levels[6] = {quiet, quiet, quiet, quiet, quiet, quiet};
            if (report == spike_at)
                levels[channel] = spike;
            emit rig.console->state_metering_event(levels[0], levels[1], levels[2], levels[3], levels[4], levels[5]);
            QTest::qWait(1);
        }
        // The last interval's peaks follow when it ends.
        QTest::qWait(std::max(first, second) + 100);
        QVERIFY(sync_clients(*rig.ws, all));
        const qint64 elapsed = clock.elapsed();

        // Only the meters: the notice that the state is complete may come meanwhile.
        const auto meters = [](const QStringList &texts) {
            QStringList only;
            for (const QString &text : texts)
                if (parse(text).value("msg").toString() == QLatin1String("on_metering"))
                    only.append(text);
            return only;
        };
        const QStringList untouched = meters(plain.take());
        QCOMPARE(untouched.size(), reports);
        // A quiet report, byte for byte as every client got it before intervals existed.
        QCOMPARE(untouched.at(spike_at == 0 ? 1 : 0),
                 QStringLiteral("{\n    \"data\": {\n        \"crm_left\": -42.5,\n        \"crm_right\": -42.5,\n"
                                "        \"pgm_left\": -42.5,\n        \"pgm_right\": -42.5,\n"
                                "        \"phones_left\": -42.5,\n        \"phones_right\": -42.5\n    },\n"
                                "    \"msg\": \"on_metering\"\n}\n"));
        for (int i = 0; i < 2; ++i) {
            const QStringList texts = meters(paced[i].take());
            if (intervals[i] == 0) {
                QCOMPARE(texts, untouched);
                continue;
            }
            QVERIFY2(texts.size() <= elapsed / intervals[i] + 1,
                     qPrintable(QStringLiteral("%1 messages in %2 ms").arg(texts.size()).arg(elapsed)));
            int spikes = 0;
            for (const QString &text : texts) {
                const QJsonObject data = parse(text).value("data").toObject();
                QCOMPARE(data.size(), 6);
                for (int c = 0; c < 6; ++c) {
                    const double level = data.value(QLatin1String(names[c])).toDouble();
                    if (c == channel && level == spike)
                        ++spikes;
                    else
                        QCOMPARE(level, double(quiet));
                }
            }
            QCOMPARE(spikes, 1);
        }
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
