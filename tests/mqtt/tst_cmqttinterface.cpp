#include "broker.h"
#include "probe.h"

#include "console/ckorvel.h"
#include "emulator/emulateddevice.h"
#include "mqtt/cmqttinterface.h"
#include "mqtt/cmqttlinkstatus.h"
#include "usb/cusbhid.h"
#include "usb/usbids.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using emulator::EmulatedDevice;
using State = CMQTTInterface::State;

namespace {

const QString prefix = QStringLiteral("studio/test");

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

// A certificate authority and a broker certificate for 127.0.0.1 signed by it, in dir; the authority's
// certificate alone, hashed for lookup, in dir/trusted, and an unrelated authority's in dir/other.
bool make_certificates(const QString &dir)
{
    const auto run = [&](const QStringList &args) {
        QProcess openssl;
        openssl.start("openssl", args);
        return openssl.waitForFinished() && openssl.exitStatus() == QProcess::NormalExit && openssl.exitCode() == 0;
    };
    const auto ca = [&](const QString &name) {
        return run({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1",
                    "-subj", "/CN=Korvel test " + name, "-keyout", dir + "/" + name + ".key", "-out",
                    dir + "/" + name + ".crt"});
    };
    QFile ext(dir + "/ext.cnf");
    if (!ext.open(QIODevice::WriteOnly) || ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n") < 0)
        return false;
    ext.close();
    if (!ca("ca") || !ca("other"))
        return false;
    if (!run({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-subj", "/CN=localhost",
              "-keyout", dir + "/server.key", "-out", dir + "/server.csr"}))
        return false;
    if (!run({"x509", "-req", "-in", dir + "/server.csr", "-CA", dir + "/ca.crt", "-CAkey", dir + "/ca.key",
              "-CAcreateserial", "-days", "1", "-extfile", dir + "/ext.cnf", "-out", dir + "/server.crt"}))
        return false;
    for (const QString &name : {QStringLiteral("ca"), QStringLiteral("other")}) {
        const QString store = dir + (name == "ca" ? "/trusted" : "/untrusted");
        if (!QDir().mkpath(store) || !QFile::copy(dir + "/" + name + ".crt", store + "/" + name + ".crt"))
            return false;
        if (!run({"rehash", store}))
            return false;
    }
    return true;
}

} // namespace

class TestCMQTTInterface : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void statusIsRetainedFromTheFirstConnect();
    void stopLeavesStatusOffline();
    void killedProcessLeavesStatusOffline();
    void credentials_data();
    void credentials();
    void unreachableBrokerIsRetriedWithoutBusyLoop();
    void silentBrokerTimesOut();
    void stopFromACommandSlot();
    void stateIsPublishedOnlyWhenChanged();
    void clearStateEmptiesEveryStateTopic();
    void brokerRestartRepublishesStatusAndState();
    void commandsAreHandedOnAndRepliesGoOut();
    void tlsChecksTheBrokerCertificate_data();
    void tlsChecksTheBrokerCertificate();
    void brokerThatStopsReadingDropsMeteringNotState();
    void invalidSettingsFailWithoutRetry_data();
    void invalidSettingsFailWithoutRetry();
    void stateKeysMustBeOneLevel_data();
    void stateKeysMustBeOneLevel();
    void statusFollowsTheUsbLink();

private:
    // Starts the interface on the test's broker and waits until it is connected.
    void connect_mqtt();

    std::unique_ptr<Broker> broker;
    std::unique_ptr<CMQTTInterface> mqtt;
};

void TestCMQTTInterface::init()
{
    broker = std::make_unique<Broker>();
    QVERIFY2(broker->start(), qPrintable(broker->log()));
    mqtt = std::make_unique<CMQTTInterface>(nullptr);
    mqtt->set_settings(settings_for(broker->port()));
}

void TestCMQTTInterface::cleanup()
{
    mqtt.reset();
    broker.reset();
}

void TestCMQTTInterface::connect_mqtt()
{
    mqtt->start();
    QTRY_COMPARE_WITH_TIMEOUT(mqtt->state(), State::Connected, 10000);
}

void TestCMQTTInterface::statusIsRetainedFromTheFirstConnect()
{
    QSignalSpy changes(mqtt.get(), &CMQTTInterface::state_changed);
    QSignalSpy up(mqtt.get(), &CMQTTInterface::broker_connected);
    mqtt->set_status("connected");
    connect_mqtt();
    QCOMPARE(states(changes), (QList<State>{State::Connecting, State::Connected}));
    QCOMPARE(up.size(), 1);
    QCOMPARE(mqtt->reason(), QString());

    Probe late(broker->port(), prefix + "/#");
    QVERIFY(late.ready());
    QVERIFY(late.wait_for([&] { return late.retained.contains(prefix + "/status"); }));
    QCOMPARE(late.retained, (QMap<QString, QByteArray>{{prefix + "/status", "connected"}}));
}

void TestCMQTTInterface::stopLeavesStatusOffline()
{
    connect_mqtt();
    Probe watcher(broker->port(), prefix + "/status");
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(prefix + "/status") == "disconnected"; }));

    mqtt->stop();
    QCOMPARE(mqtt->state(), State::Disconnected);
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(prefix + "/status") == "offline"; }));
    Probe late(broker->port(), prefix + "/status");
    QVERIFY(late.wait_for([&] { return !late.retained.isEmpty(); }));
    QCOMPARE(late.retained.value(prefix + "/status"), QByteArray("offline"));
}

void TestCMQTTInterface::killedProcessLeavesStatusOffline()
{
    mqtt.reset();
    Probe watcher(broker->port(), prefix + "/status");
    QProcess helper;
    helper.start(KORVEL_MQTT_STATUS_HELPER, {"127.0.0.1", QString::number(broker->port()), prefix});
    QVERIFY(helper.waitForStarted());
    QVERIFY2(watcher.wait_for([&] { return watcher.last.value(prefix + "/status") == "connected"; }),
             qPrintable(broker->log()));

    helper.kill(); // no chance to say goodbye: the broker's last will speaks for it
    QVERIFY(helper.waitForFinished());
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(prefix + "/status") == "offline"; }));
    Probe late(broker->port(), prefix + "/status");
    QVERIFY(late.wait_for([&] { return !late.retained.isEmpty(); }));
    QCOMPARE(late.retained.value(prefix + "/status"), QByteArray("offline"));
}

void TestCMQTTInterface::credentials_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<State>("state");
    QTest::addColumn<QString>("reason");

    QTest::newRow("right") << "studio1"
                           << "s3cret" << State::Connected << QString();
    QTest::newRow("wrong password") << "studio1"
                                    << "secret" << State::Failed << "connection refused: not authorised";
    QTest::newRow("unknown user") << "studio2"
                                  << "s3cret" << State::Failed << "connection refused: not authorised";
    QTest::newRow("anonymous") << QString() << QString() << State::Failed << "connection refused: not authorised";
}

void TestCMQTTInterface::credentials()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(State, state);
    QFETCH(QString, reason);

    mqtt.reset();
    broker = std::make_unique<Broker>(Broker::Account{"studio1", "s3cret"});
    QVERIFY2(broker->start(), qPrintable(broker->log()));
    mqtt = std::make_unique<CMQTTInterface>(nullptr);
    korvel::mqtt::Settings s = settings_for(broker->port());
    s.user = user;
    s.password = password;
    mqtt->set_settings(s);
    QSignalSpy changes(mqtt.get(), &CMQTTInterface::state_changed);
    mqtt->start();
    QTRY_VERIFY_WITH_TIMEOUT(mqtt->state() == State::Connected || mqtt->state() == State::Failed, 10000);
    QCOMPARE(mqtt->state(), state);
    QCOMPARE(mqtt->reason(), reason);
    QCOMPARE(changes.last().at(1).toString(), reason);
}

void TestCMQTTInterface::unreachableBrokerIsRetriedWithoutBusyLoop()
{
    // A port where nothing listens yet: the broker of this test, stopped.
    broker->stop();
    QSignalSpy changes(mqtt.get(), &CMQTTInterface::state_changed);
    mqtt->start();
    QTRY_COMPARE(mqtt->state(), State::Failed);
    QCOMPARE(mqtt->reason(), QStringLiteral("broker unreachable: connection refused"));

    // The first retry waits a second; nothing happens before it.
    QTest::qWait(700);
    QCOMPARE(states(changes), (QList<State>{State::Connecting, State::Failed}));
    QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 4, 2000);
    QCOMPARE(states(changes), (QList<State>{State::Connecting, State::Failed, State::Connecting, State::Failed}));

    // Once the broker is there, a later retry gets through by itself.
    QVERIFY(broker->start());
    QTRY_COMPARE_WITH_TIMEOUT(mqtt->state(), State::Connected, 10000);
    QCOMPARE(mqtt->reason(), QString());
}

void TestCMQTTInterface::silentBrokerTimesOut()
{
    // Takes the connection but never answers it.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    mqtt->set_settings(settings_for(silent.serverPort()));
    mqtt->set_connect_timeout(300);
    QSignalSpy changes(mqtt.get(), &CMQTTInterface::state_changed);
    mqtt->start();
    QTRY_COMPARE_WITH_TIMEOUT(mqtt->state(), State::Failed, 5000);
    QCOMPARE(mqtt->reason(), QStringLiteral("broker unreachable: no answer within 0.3 s"));
    QCOMPARE(states(changes), (QList<State>{State::Connecting, State::Failed}));
}

void TestCMQTTInterface::stopFromACommandSlot()
{
    connect_mqtt();
    // The signal comes while the client library has just read the message; stopping there must be safe.
    connect(mqtt.get(), &CMQTTInterface::command_received, this, [this] { mqtt->stop(); });
    Probe client(broker->port(), prefix + "/status");
    client.publish(prefix + "/command", "first");
    client.publish(prefix + "/command", "second");
    QVERIFY(client.wait_for([&] { return client.last.value(prefix + "/status") == "offline"; }));
    QCOMPARE(mqtt->state(), State::Disconnected);
    // Nothing comes back by itself.
    QTest::qWait(1200);
    QCOMPARE(mqtt->state(), State::Disconnected);
}

void TestCMQTTInterface::stateIsPublishedOnlyWhenChanged()
{
    connect_mqtt();
    Probe watcher(broker->port(), prefix + "/state/#");
    QVERIFY(mqtt->publishState("on", R"({"1":"on"})"));
    QVERIFY(mqtt->publishState("on", R"({"1":"on"})"));
    QVERIFY(mqtt->publishState("on", R"({"1":"off"})"));
    QVERIFY(mqtt->publishState("cue", R"({"1":"off"})"));
    QVERIFY(watcher.wait_for([&] { return watcher.messages.size() == 3; }));
    // Nothing further is on its way.
    QVERIFY(!watcher.wait_for([&] { return watcher.messages.size() > 3; }, 300));
    QCOMPARE(watcher.messages[0].payload, QByteArray(R"({"1":"on"})"));
    QCOMPARE(watcher.messages[1].payload, QByteArray(R"({"1":"off"})"));
    QCOMPARE(watcher.messages[2].topic, prefix + "/state/cue");

    Probe late(broker->port(), prefix + "/state/#");
    QVERIFY(late.wait_for([&] { return late.retained.size() == 2; }));
    QCOMPARE(late.retained, (QMap<QString, QByteArray>{{prefix + "/state/on", R"({"1":"off"})"},
                                                       {prefix + "/state/cue", R"({"1":"off"})"}}));
}

void TestCMQTTInterface::clearStateEmptiesEveryStateTopic()
{
    connect_mqtt();
    mqtt->publishState("on", "1");
    mqtt->publishState("fader", "2");
    Probe watcher(broker->port(), prefix + "/state/#");
    QVERIFY(watcher.wait_for([&] { return watcher.retained.size() == 2; }));

    mqtt->clearState();
    QVERIFY(mqtt->state_cache().isEmpty());
    QVERIFY(watcher.wait_for([&] { return watcher.messages.size() == 4; }));
    QCOMPARE(watcher.last.value(prefix + "/state/on"), QByteArray());
    QCOMPARE(watcher.last.value(prefix + "/state/fader"), QByteArray());
    Probe late(broker->port(), prefix + "/#");
    QVERIFY(late.wait_for([&] { return late.retained.contains(prefix + "/status"); }));
    QCOMPARE(late.retained.keys(), QStringList{prefix + "/status"});

    // A value equal to the one before the clear is news again.
    mqtt->publishState("on", "1");
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(prefix + "/state/on") == "1"; }));
}

void TestCMQTTInterface::brokerRestartRepublishesStatusAndState()
{
    QSignalSpy up(mqtt.get(), &CMQTTInterface::broker_connected);
    mqtt->set_status("connected");
    connect_mqtt();
    const QMap<QString, QByteArray> expected{{prefix + "/status", "connected"},
                                             {prefix + "/state/on", "[1]"},
                                             {prefix + "/state/cue", "[2]"},
                                             {prefix + "/state/fader", "[3]"}};
    mqtt->publishState("on", "[1]");
    mqtt->publishState("cue", "[2]");
    mqtt->publishState("fader", "[3]");

    broker->stop(); // no persistence: the restarted broker has no retained messages
    QTRY_COMPARE(mqtt->state(), State::Failed);
    QCOMPARE(mqtt->reason(), QStringLiteral("connection lost"));
    // Changes while the broker is away reach it after the reconnect.
    mqtt->publishState("fader", "[4]");
    QVERIFY(broker->start());
    QTRY_COMPARE_WITH_TIMEOUT(up.size(), 2, 10000);
    QCOMPARE(mqtt->state(), State::Connected);

    auto now = expected;
    now[prefix + "/state/fader"] = "[4]";
    Probe late(broker->port(), prefix + "/#");
    QVERIFY(late.wait_for([&] { return late.retained.size() == now.size(); }));
    QCOMPARE(late.retained, now);
}

void TestCMQTTInterface::commandsAreHandedOnAndRepliesGoOut()
{
    connect_mqtt();
    QSignalSpy commands(mqtt.get(), &CMQTTInterface::command_received);
    connect(mqtt.get(), &CMQTTInterface::command_received, this,
            [this](const QByteArray &payload) { mqtt->reply("re: " + payload); });
    Probe client(broker->port(), prefix + "/reply");
    // Only PREFIX/command itself is a command; neighbours and sub-topics are not.
    client.publish(prefix + "/commands", "no");
    client.publish(prefix + "/command/x", "no");
    client.publish(prefix + "/command", R"({"msg":"get_all","data":"","id":7})");
    client.publish(prefix + "/command", "");
    QVERIFY(client.wait_for([&] { return client.messages.size() == 2; }));
    QCOMPARE(commands.size(), 2);
    QCOMPARE(commands[0].at(0).toByteArray(), QByteArray(R"({"msg":"get_all","data":"","id":7})"));
    QCOMPARE(commands[1].at(0).toByteArray(), QByteArray());
    QCOMPARE(client.messages[0].payload, QByteArray(R"(re: {"msg":"get_all","data":"","id":7})"));
    QCOMPARE(client.messages[0].retained, false);
    QCOMPARE(client.messages[1].payload, QByteArray("re: "));
}

void TestCMQTTInterface::tlsChecksTheBrokerCertificate_data()
{
    QTest::addColumn<QString>("authorities");
    QTest::addColumn<State>("state");
    QTest::addColumn<QString>("reason");
    QTest::newRow("trusted") << "trusted" << State::Connected << QString();
    QTest::newRow("signed by another authority")
        << "untrusted" << State::Failed << "broker unreachable: TLS handshake failed";
}

void TestCMQTTInterface::tlsChecksTheBrokerCertificate()
{
    QFETCH(QString, authorities);
    QFETCH(State, state);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(make_certificates(dir.path()));
    mqtt.reset();
    broker = std::make_unique<Broker>(dir.filePath("server.crt"), dir.filePath("server.key"));
    QVERIFY2(broker->start(), qPrintable(broker->log()));
    mqtt = std::make_unique<CMQTTInterface>(nullptr);
    korvel::mqtt::Settings s = settings_for(broker->port());
    s.tls = true;
    s.ca_path = dir.filePath(authorities);
    mqtt->set_settings(s);
    mqtt->start();
    QTRY_VERIFY_WITH_TIMEOUT(mqtt->state() == State::Connected || mqtt->state() == State::Failed, 10000);
    QCOMPARE(mqtt->state(), state);
    QCOMPARE(mqtt->reason(), reason);
    if (state != State::Connected)
        return;
    // The encrypted connection carries messages both ways.
    QSignalSpy commands(mqtt.get(), &CMQTTInterface::command_received);
    mqtt->set_status("connected");
    Probe client(broker->port(), prefix + "/#", dir.filePath("ca.crt"));
    QVERIFY(client.ready());
    QVERIFY(client.wait_for([&] { return client.retained.value(prefix + "/status") == "connected"; }));
    client.publish(prefix + "/command", "ping");
    QVERIFY(client.wait_for([&] { return commands.size() == 1; }));
    QCOMPARE(commands[0].at(0).toByteArray(), QByteArray("ping"));
}

void TestCMQTTInterface::brokerThatStopsReadingDropsMeteringNotState()
{
    connect_mqtt();
    mqtt->publishState("on", "[1]");
    Probe watcher(broker->port(), prefix + "/state/#");
    QVERIFY(watcher.wait_for([&] { return watcher.retained.size() == 1; }));

    broker->pause();
    // Far more than the socket buffers and the queue hold together.
    const QByteArray levels(4096, 'm');
    const QString metering = mqtt->topic("metering");
    const qsizetype budget = mqtt->outgoing().budget_bytes();
    qsizetype most = 0;
    for (int i = 0; i < 8000; ++i) {
        mqtt->publish(metering, levels, false, 0);
        most = std::max(most, mqtt->outgoing().bytes());
        if (i % 500 == 0)
            QCoreApplication::processEvents();
    }
    QVERIFY(mqtt->outgoing().dropped() > 0);
    QVERIFY(most <= budget);
    QVERIFY(mqtt->publishState("on", "[2]"));
    QVERIFY(mqtt->publishState("fader", "[3]"));
    for (int i = 0; i < 2000; ++i)
        mqtt->publish(metering, levels, false, 0);
    QVERIFY(mqtt->outgoing().bytes() <= budget);
    QCOMPARE(mqtt->state(), State::Connected);

    broker->resume();
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(prefix + "/state/fader") == "[3]"; }, 20000));
    QCOMPARE(watcher.last.value(prefix + "/state/on"), QByteArray("[2]"));
    QTRY_VERIFY(mqtt->outgoing().empty());
    Probe late(broker->port(), prefix + "/state/#");
    QVERIFY(late.wait_for([&] { return late.retained.size() == 2; }));
    QCOMPARE(late.retained,
             (QMap<QString, QByteArray>{{prefix + "/state/on", "[2]"}, {prefix + "/state/fader", "[3]"}}));
}

void TestCMQTTInterface::invalidSettingsFailWithoutRetry_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("reason");
    QTest::newRow("wildcard level") << "127.0.0.1"
                                    << "studio/+/a"
                                    << R"(invalid settings: topic prefix "studio/+/a")";
    QTest::newRow("multi-level wildcard") << "127.0.0.1"
                                          << "#"
                                          << R"(invalid settings: topic prefix "#")";
    QTest::newRow("no host") << " "
                             << "studio"
                             << "invalid settings: no broker host";
}

void TestCMQTTInterface::invalidSettingsFailWithoutRetry()
{
    QFETCH(QString, host);
    QFETCH(QString, prefix);
    QFETCH(QString, reason);
    korvel::mqtt::Settings s = settings_for(broker->port());
    s.host = host;
    s.prefix = prefix;
    mqtt->set_settings(s);
    QSignalSpy changes(mqtt.get(), &CMQTTInterface::state_changed);
    mqtt->start();
    QCOMPARE(mqtt->state(), State::Failed);
    QCOMPARE(mqtt->reason(), reason);
    QTest::qWait(1300);
    QCOMPARE(states(changes), QList<State>{State::Failed});
}

void TestCMQTTInterface::stateKeysMustBeOneLevel_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("plain") << "on_air" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("two levels") << "on/1" << false;
    QTest::newRow("wildcard") << "+" << false;
    QTest::newRow("multi-level wildcard") << "#" << false;
}

void TestCMQTTInterface::stateKeysMustBeOneLevel()
{
    QFETCH(QString, key);
    QFETCH(bool, accepted);
    QCOMPARE(mqtt->publishState(key, "1"), accepted);
    QCOMPARE(mqtt->state_cache().contains(key), accepted);
}

void TestCMQTTInterface::statusFollowsTheUsbLink()
{
    EmulatedDevice::instance().reset();
    CUSBHID link(nullptr, korvel::usb::vendor_id, korvel::usb::product_id);
    CKorvel console(&link, nullptr);
    CMQTTLinkStatus status(&console, mqtt.get(), nullptr);
    connect_mqtt();
    Probe watcher(broker->port(), prefix + "/#");
    const QString status_topic = prefix + "/status";
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(status_topic) == "disconnected"; }));

    QCOMPARE(link.start(), 0);
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(status_topic) == "connected"; }));
    mqtt->publishState("on", "[1]");
    QVERIFY(watcher.wait_for([&] { return watcher.last.contains(prefix + "/state/on"); }));

    link.stop();
    QVERIFY(watcher.wait_for([&] { return watcher.last.value(status_topic) == "disconnected"; }));
    QCOMPARE(watcher.last.value(prefix + "/state/on"), QByteArray());
    Probe late(broker->port(), prefix + "/#");
    QVERIFY(late.wait_for([&] { return late.retained.contains(status_topic); }));
    QCOMPARE(late.retained, (QMap<QString, QByteArray>{{status_topic, "disconnected"}}));
}

QTEST_GUILESS_MAIN(TestCMQTTInterface)
#include "tst_cmqttinterface.moc"
