#include "broker.h"
#include "probe.h"

#include "console/ckorvel.h"
#include "emulator/emulateddevice.h"
#include "mqtt/client.h"
#include "mqtt/linkstatus.h"
#include "usb/cusbhid.h"
#include "usb/usbids.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <memory>
#include <thread>

using emulator::EmulatedDevice;
using State = korvel::mqtt::Client::State;
using Retained = QMap<QString, QByteArray>;

namespace {

const QString prefix = QStringLiteral("studio/test");
const QString status_topic = prefix + "/status";

korvel::mqtt::Settings settings_for(quint16 port)
{
    korvel::mqtt::Settings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = port;
    s.prefix = prefix + '/'; // the trailing slash is not a level of its own
    s.client_id = QStringLiteral("korvel-test");
    return s;
}

QList<State> states(const QSignalSpy &spy)
{
    QList<State> out;
    for (const QList<QVariant> &args : spy)
        out << args.at(0).value<State>();
    return out;
}

bool run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished() && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// In dir: an authority "ca", a broker certificate for 127.0.0.1 and a client certificate, both signed by it, an
// unrelated authority "other", and each authority's certificate alone, hashed for lookup, in dir/ca and
// dir/other.
bool make_certificates(const QString &dir)
{
    const QStringList ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    QFile ext(dir + "/ext.cnf");
    if (!ext.open(QIODevice::WriteOnly) || ext.write("subjectAltName=IP:127.0.0.1\n") < 0)
        return false;
    ext.close();
    for (const QString name : {"ca", "other"}) {
        if (!run("openssl", QStringList{"req", "-x509"} + ec +
                                QStringList{"-days", "1", "-subj", "/CN=" + name, "-keyout", dir + "/" + name + ".key",
                                            "-out", dir + "/" + name + ".crt"}) ||
            !QDir().mkpath(dir + "/" + name) ||
            !QFile::copy(dir + "/" + name + ".crt", dir + "/" + name + "/" + name + ".crt") ||
            !run("openssl", {"rehash", dir + "/" + name}))
            return false;
    }
    for (const QString name : {"server", "client"}) {
        if (!run("openssl", QStringList{"req"} + ec +
                                QStringList{"-subj", "/CN=" + name, "-keyout", dir + "/" + name + ".key", "-out",
                                            dir + "/" + name + ".csr"}) ||
            !run("openssl",
                 {"x509", "-req", "-in", dir + "/" + name + ".csr", "-CA", dir + "/ca.crt", "-CAkey", dir + "/ca.key",
                  "-CAcreateserial", "-days", "1", "-extfile", dir + "/ext.cnf", "-out", dir + "/" + name + ".crt"}))
            return false;
    }
    return true;
}

} // namespace

class TestMqttClient : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void connectionOutcome_data();
    void connectionOutcome();
    void stopLeavesStatusOffline();
    void killedProcessLeavesStatusOffline();
    void stopFromACommandSlot();
    void stateIsPublishedOnlyWhenChanged();
    void clear_stateEmptiesEveryStateTopic();
    void brokerRestartRepublishesStatusAndState();
    void commandsAreHandedOnAndRepliesGoOut();
    void brokerThatStopsReadingDropsMeteringNotState();
    void stateKeysMustBeOneLevel_data();
    void stateKeysMustBeOneLevel();
    void statusFollowsTheUsbLink();

private:
    // Starts the interface on the test's broker and waits until it is connected.
    void connect_mqtt();

    std::unique_ptr<Broker> broker;
    std::unique_ptr<korvel::mqtt::Client> mqtt;
};

void TestMqttClient::init()
{
    broker = std::make_unique<Broker>();
    QVERIFY2(broker->start(), qPrintable(broker->log()));
    mqtt = std::make_unique<korvel::mqtt::Client>(nullptr);
    mqtt->set_settings(settings_for(broker->port()));
}

void TestMqttClient::cleanup()
{
    mqtt.reset();
    broker.reset();
}

void TestMqttClient::connect_mqtt()
{
    mqtt->start();
    QTRY_COMPARE_WITH_TIMEOUT(mqtt->state(), State::Connected, 10000);
}

void TestMqttClient::connectionOutcome_data()
{
    QTest::addColumn<QString>("broker_kind");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    // A directory of authorities, or a CA file (*.crt), in the test's certificate directory.
    QTest::addColumn<QString>("authority");
    // The client certificate and key given: "" none, "client" its own pair, "key" a key only, "mismatch" the
    // certificate with another key.
    QTest::addColumn<QString>("client");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("topic_prefix");
    QTest::addColumn<State>("state");
    // DIR stands for the certificate directory; A|B: either (the broker's alert may be lost to its reset).
    QTest::addColumn<QString>("reason");

    const QString ip = "127.0.0.1";
    const QString refused = "connection refused: not authorised";
    const QString handshake = "broker unreachable: TLS handshake failed: ";
    const State up = State::Connected;
    const State failed = State::Failed;
    const auto row = [&](const char *name, const QString &kind, const QString &user, const QString &password,
                         const QString &authority, const QString &client, const QString &host,
                         const QString &topic_prefix, State state, const QString &reason) {
        QTest::newRow(name) << kind << user << password << authority << client << host << topic_prefix << state
                            << reason;
    };
    row("anonymous", "open", "", "", "", "", ip, prefix, up, "");
    row("right password", "accounts", "studio1", "s3cret", "", "", ip, prefix, up, "");
    row("wrong password", "accounts", "studio1", "secret", "", "", ip, prefix, failed, refused);
    row("unknown user", "accounts", "studio2", "s3cret", "", "", ip, prefix, failed, refused);
    row("no user", "accounts", "", "", "", "", ip, prefix, failed, refused);
    row("TLS, trusted", "tls", "", "", "ca", "", ip, prefix, up, "");
    row("TLS, other authority", "tls", "", "", "other", "", ip, prefix, failed,
        handshake + "certificate verify failed");
    row("TLS, CA file", "tls", "", "", "ca.crt", "", ip, prefix, up, "");
    row("TLS, CA file of another authority", "tls", "", "", "other.crt", "", ip, prefix, failed,
        handshake + "certificate verify failed");
    row("TLS, CA file missing", "tls", "", "", "missing.crt", "", ip, prefix, failed,
        R"(invalid settings: cannot read the CA file "DIR/missing.crt": no such file or directory)");
    row("client certificate required and given", "client certificates", "", "", "ca.crt", "client", ip, prefix, up, "");
    row("client certificate required, none given", "client certificates", "", "", "ca.crt", "", ip, prefix, failed,
        handshake + "tlsv13 alert certificate required|" + handshake + "the broker closed the connection");
    row("client certificate required, other authority", "client certificates", "", "", "other.crt", "client", ip,
        prefix, failed, handshake + "certificate verify failed");
    row("client key without its certificate", "client certificates", "", "", "ca.crt", "key", ip, prefix, failed,
        "invalid settings: a client key needs its certificate");
    row("client key of another certificate", "client certificates", "", "", "ca.crt", "mismatch", ip, prefix, failed,
        handshake + R"(unable to load client key file "DIR/other.key" (key values mismatch))");
    row("nothing listening", "none", "", "", "", "", ip, prefix, failed, "broker unreachable: connection refused");
    row("never answers", "silent", "", "", "", "", ip, prefix, failed, "broker unreachable: no answer within 0.3 s");
    row("wildcard in prefix", "open", "", "", "", "", ip, "studio/+/a", failed,
        R"(invalid settings: topic prefix "studio/+/a")");
    row("prefix a wildcard", "open", "", "", "", "", ip, "#", failed, R"(invalid settings: topic prefix "#")");
    row("no host", "open", "", "", "", "", " ", prefix, failed, "invalid settings: no broker host");
}

void TestMqttClient::connectionOutcome()
{
    QFETCH(QString, broker_kind);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, authority);
    QFETCH(QString, client);
    QFETCH(QString, host);
    QFETCH(QString, topic_prefix);
    QFETCH(State, state);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QByteArray options = "allow_anonymous true\n";
    if (broker_kind == "accounts") {
        QVERIFY(run("mosquitto_passwd", {"-c", "-b", dir.filePath("passwords"), "studio1", "s3cret"}));
        options = "allow_anonymous false\npassword_file " + dir.filePath("passwords").toUtf8() + "\n";
    } else if (broker_kind == "tls" || broker_kind == "client certificates") {
        QVERIFY(make_certificates(dir.path()));
        options += "certfile " + dir.filePath("server.crt").toUtf8() + "\nkeyfile " +
                   dir.filePath("server.key").toUtf8() + "\n";
        if (broker_kind == "client certificates")
            options += "require_certificate true\ncafile " + dir.filePath("ca.crt").toUtf8() + "\n";
    }
    broker = std::make_unique<Broker>(options);
    QTcpServer silent; // takes the connection but never answers it
    quint16 port = broker->port();
    if (broker_kind == "silent") {
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        port = silent.serverPort();
    } else if (broker_kind != "none") {
        QVERIFY2(broker->start(), qPrintable(broker->log()));
    }

    korvel::mqtt::Settings s = settings_for(port);
    s.user = user;
    s.password = password;
    s.tls = !authority.isEmpty();
    // A CA file stands instead of the system's authorities.
    if (authority.endsWith(".crt"))
        s.ca_file = dir.filePath(authority);
    else
        s.ca_path = dir.filePath(authority);
    if (client == "client" || client == "mismatch")
        s.client_cert = dir.filePath("client.crt");
    if (!client.isEmpty())
        s.client_key = dir.filePath(client == "mismatch" ? "other.key" : "client.key");
    reason.replace("DIR", dir.path());
    s.host = host;
    s.prefix = topic_prefix;
    mqtt->set_settings(s);
    mqtt->set_connect_timeout(300);
    mqtt->set_status(R"("connected")");
    QSignalSpy changes(mqtt.get(), &korvel::mqtt::Client::state_changed);
    mqtt->start();
    QTRY_VERIFY_WITH_TIMEOUT(mqtt->state() == State::Connected || mqtt->state() == State::Failed, 10000);
    QCOMPARE(mqtt->state(), state);
    if (reason.contains('|') && reason.split('|').contains(mqtt->reason()))
        reason = mqtt->reason();
    QCOMPARE(mqtt->reason(), reason);
    QCOMPARE(changes.last().at(1).toString(), reason);

    if (state == State::Connected) {
        QCOMPARE(states(changes), (QList<State>{State::Connecting, State::Connected}));
        Probe late(broker->port(), prefix + "/#", s.tls ? dir.filePath("ca.crt") : QString(), user, password,
                   s.client_cert, s.client_key);
        QVERIFY(late.wait_for([&] { return !late.retained.isEmpty(); }));
        QCOMPARE(late.retained, (Retained{{status_topic, R"("connected")"}}));
        return;
    }
    // Invalid settings are not tried at all, nor again; anything else is retried after a second, not before.
    const bool invalid = reason.startsWith("invalid settings");
    QTest::qWait(700);
    const QList<State> tried{State::Connecting, State::Failed};
    QCOMPARE(states(changes), invalid ? QList<State>{State::Failed} : tried);
    if (invalid) {
        QTest::qWait(700);
        QCOMPARE(changes.size(), 1);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 4, 2000);
        QCOMPARE(states(changes).mid(2), (QList<State>{State::Connecting, State::Failed}));
    }
    if (broker_kind == "none") {
        // Once the broker is there, a later retry gets through by itself.
        QVERIFY(broker->start());
        QTRY_COMPARE_WITH_TIMEOUT(mqtt->state(), State::Connected, 10000);
        QCOMPARE(mqtt->reason(), QString());
    }
}

// The goodbye is an orderly one even with a message from the broker still unread: closing over unread data
// resets the connection, and a broker that meets the reset before our DISCONNECT speaks the will instead.
void TestMqttClient::stopLeavesStatusOffline()
{
    broker = std::make_unique<Broker>("allow_anonymous true\nlog_type all\n");
    QVERIFY(broker->start());
    mqtt->set_settings(settings_for(broker->port()));
    connect_mqtt();
    Probe watcher(broker->port(), status_topic);
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(status_topic) == R"("disconnected")"; }));
    watcher.publish(prefix + "/command", "unread");
    QString log = broker->log_until("Sending PUBLISH to korvel-test");
    // A broker that reads the goodbye a little late, well within the client's patience.
    broker->pause();
    std::thread waker([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        broker->resume();
    });
    mqtt->stop();
    waker.join();
    QCOMPARE(mqtt->state(), State::Disconnected);
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(status_topic) == R"("offline")"; }));
    QTRY_VERIFY2((log += broker->log()).contains("Received DISCONNECT from korvel-test"), qPrintable(log.right(900)));
    QVERIFY2(!log.contains("Client korvel-test closed its connection"), qPrintable(log.right(900)));
    Probe late(broker->port(), status_topic);
    QVERIFY(late.wait_for([&] { return late.retained == Retained{{status_topic, R"("offline")"}}; }));
}

void TestMqttClient::killedProcessLeavesStatusOffline()
{
    Probe watcher(broker->port(), status_topic);
    QProcess helper;
    helper.start(KORVEL_MQTT_STATUS_HELPER, {"127.0.0.1", QString::number(broker->port()), prefix});
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(status_topic) == R"("connected")"; }));
    helper.kill(); // no chance to say goodbye: the broker's last will speaks for it
    QVERIFY(helper.waitForFinished());
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(status_topic) == R"("offline")"; }));
    Probe late(broker->port(), status_topic);
    QVERIFY(late.wait_for([&] { return late.retained == Retained{{status_topic, R"("offline")"}}; }));
}

void TestMqttClient::stopFromACommandSlot()
{
    connect_mqtt();
    // The signal follows the library's reading of the message; stopping there must be safe.
    connect(mqtt.get(), &korvel::mqtt::Client::command_received, this, [this] { mqtt->stop(); });
    Probe client(broker->port(), status_topic);
    client.publish(prefix + "/command", "first");
    client.publish(prefix + "/command", "second");
    QVERIFY(client.wait_for([&] { return client.last.value(status_topic) == R"("offline")"; }));
    QTest::qWait(1200); // nothing comes back by itself
    QCOMPARE(mqtt->state(), State::Disconnected);
}

void TestMqttClient::stateIsPublishedOnlyWhenChanged()
{
    connect_mqtt();
    Probe watcher(broker->port(), prefix + "/state/#");
    for (const auto &[key, json] : {std::pair{"on", R"({"1":"on"})"},
                                    {"on", R"({"1":"on"})"},
                                    {"on", R"({"1":"off"})"},
                                    {"cue", R"({"1":"off"})"}})
        QVERIFY(mqtt->publish_state(key, json));
    QVERIFY(watcher.wait_for([&] { return watcher.messages.size() == 3; }));
    QVERIFY(!watcher.wait_for([&] { return watcher.messages.size() > 3; }, 300));
    QCOMPARE(watcher.messages[0].payload, QByteArray(R"({"1":"on"})"));
    QCOMPARE(watcher.messages[1].payload, QByteArray(R"({"1":"off"})"));
    QCOMPARE(watcher.messages[2].topic, prefix + "/state/cue");
}

void TestMqttClient::clear_stateEmptiesEveryStateTopic()
{
    connect_mqtt();
    mqtt->publish_state("on", "1");
    mqtt->publish_state("fader", "2");
    Probe watcher(broker->port(), prefix + "/state/#");
    QVERIFY(watcher.wait_for([&] { return watcher.retained.size() == 2; }));

    mqtt->clear_state();
    QVERIFY(mqtt->state_cache().isEmpty());
    QVERIFY(watcher.wait_for([&] { return watcher.messages.size() == 4; }));
    QCOMPARE(watcher.last, (Retained{{prefix + "/state/on", ""}, {prefix + "/state/fader", ""}}));
    Probe late(broker->port(), prefix + "/#");
    QVERIFY(late.wait_for([&] { return !late.retained.isEmpty(); }));
    QCOMPARE(late.retained.keys(), QStringList{status_topic});
    // A value equal to the one before the clear is news again.
    mqtt->publish_state("on", "1");
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(prefix + "/state/on") == "1"; }));
}

void TestMqttClient::brokerRestartRepublishesStatusAndState()
{
    QSignalSpy up(mqtt.get(), &korvel::mqtt::Client::broker_connected);
    mqtt->set_status(R"("connected")");
    connect_mqtt();
    mqtt->publish_state("on", "[1]");
    mqtt->publish_state("fader", "[3]");

    broker->stop(); // no persistence: the restarted broker has no retained messages
    QTRY_COMPARE(mqtt->state(), State::Failed);
    QCOMPARE(mqtt->reason(), QStringLiteral("connection lost"));
    mqtt->publish_state("fader", "[4]"); // a change while the broker is away reaches it after the reconnect
    QVERIFY(broker->start());
    QTRY_COMPARE_WITH_TIMEOUT(up.size(), 2, 10000);

    Probe late(broker->port(), prefix + "/#");
    const Retained expected{
        {status_topic, R"("connected")"}, {prefix + "/state/on", "[1]"}, {prefix + "/state/fader", "[4]"}};
    QVERIFY(late.wait_for([&] { return late.retained.size() == expected.size(); }));
    QCOMPARE(late.retained, expected);
}

void TestMqttClient::commandsAreHandedOnAndRepliesGoOut()
{
    connect_mqtt();
    QSignalSpy commands(mqtt.get(), &korvel::mqtt::Client::command_received);
    connect(mqtt.get(), &korvel::mqtt::Client::command_received, this,
            [this](const QByteArray &payload) { mqtt->reply("re: " + payload); });
    Probe client(broker->port(), prefix + "/reply");
    // Only PREFIX/command itself is a command; neighbours and sub-topics are not. An empty one is handed on too.
    for (const auto &[sub, payload] :
         {std::pair{"/commands", "a"}, {"/command/x", "b"}, {"/command", "c"}, {"/command", ""}})
        client.publish(prefix + sub, payload);
    QVERIFY(client.wait_for([&] { return client.messages.size() == 2; }));
    QCOMPARE(commands.size(), 2);
    QCOMPARE(commands[0].at(0).toByteArray(), QByteArray("c"));
    QCOMPARE(commands[1].at(0).toByteArray(), QByteArray());
    QCOMPARE(client.messages[0].payload, QByteArray("re: c"));
    QCOMPARE(client.messages[0].retained, false);
    QCOMPARE(client.messages[1].payload, QByteArray("re: "));
}

void TestMqttClient::brokerThatStopsReadingDropsMeteringNotState()
{
    connect_mqtt();
    mqtt->publish_state("on", "[1]");
    Probe watcher(broker->port(), prefix + "/state/#");
    QVERIFY(watcher.wait_for([&] { return watcher.retained.size() == 1; }));

    broker->pause();
    // Far more than the socket buffers and the queue hold together.
    const QByteArray levels(4096, 'm');
    const qsizetype budget = mqtt->outgoing().budget_bytes();
    qsizetype most = 0;
    for (int i = 0; i < 10000; ++i) {
        if (i == 8000) {
            QVERIFY(mqtt->publish_state("on", "[2]"));
            QVERIFY(mqtt->publish_state("fader", "[3]"));
        }
        mqtt->publish(mqtt->topic("metering"), levels, false, 0);
        most = std::max(most, mqtt->outgoing().bytes());
        if (i % 500 == 0)
            QCoreApplication::processEvents();
    }
    QVERIFY(mqtt->outgoing().dropped() > 0);
    QVERIFY(most <= budget);
    QCOMPARE(mqtt->state(), State::Connected);

    broker->resume();
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(prefix + "/state/fader") == "[3]"; }, 20000));
    QTRY_VERIFY(mqtt->outgoing().empty());
    Probe late(broker->port(), prefix + "/state/#");
    const Retained expected{{prefix + "/state/on", "[2]"}, {prefix + "/state/fader", "[3]"}};
    QVERIFY(late.wait_for([&] { return late.retained == expected; }));
}

void TestMqttClient::stateKeysMustBeOneLevel_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("plain") << "on_air" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("two levels") << "on/1" << false;
    QTest::newRow("wildcard") << "+" << false;
    QTest::newRow("multi-level wildcard") << "#" << false;
}

void TestMqttClient::stateKeysMustBeOneLevel()
{
    QFETCH(QString, key);
    QFETCH(bool, accepted);
    QCOMPARE(mqtt->publish_state(key, "1"), accepted);
    QCOMPARE(mqtt->state_cache().contains(key), accepted);
}

void TestMqttClient::statusFollowsTheUsbLink()
{
    EmulatedDevice::instance().reset();
    CUSBHID link(nullptr, korvel::usb::vendor_id, korvel::usb::product_id);
    CKorvel console(&link, nullptr);
    korvel::mqtt::LinkStatus status(&console, mqtt.get(), nullptr);
    connect_mqtt();
    Probe watcher(broker->port(), prefix + "/#");
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(status_topic) == R"("disconnected")"; }));

    QCOMPARE(link.start(), 0);
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(status_topic) == R"("connected")"; }));
    mqtt->publish_state("on", "[1]");
    QVERIFY(watcher.wait_for([&] { return watcher.last.contains(prefix + "/state/on"); }));
    link.stop();
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(status_topic) == R"("disconnected")"; }));
    QCOMPARE(watcher.last.value(prefix + "/state/on"), QByteArray());
    Probe late(broker->port(), prefix + "/#");
    QVERIFY(late.wait_for([&] { return late.retained == Retained{{status_topic, R"("disconnected")"}}; }));
}

QTEST_GUILESS_MAIN(TestMqttClient)
#include "tst_mqttclient.moc"
