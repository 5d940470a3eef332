// The dispatcher as every transport sees it: what one request text becomes (its Outcome), and what it asks of
// the peer that sent it.
#include "dispatcherrig.h"

#include "protocol/core.h"
#include "protocol/dispatcher.h"
#include "protocol/peer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using emulator::EmulatedDevice;
using korvel::protocol::Outcome;

namespace {

// A peer that keeps what it is asked to keep, as a transport with subscriptions and meters of its own does.
struct RecordingPeer final : korvel::protocol::Peer {
    QStringList topics;
    std::optional<int> interval;
    QStringList *subscriptions() override { return &topics; }
    bool set_metering_interval(int ms) override
    {
        interval = ms;
        return true;
    }
    std::optional<int> metering_interval() override { return interval; }
};

QByteArray text(const std::optional<QJsonObject> &message)
{
    return message ? QJsonDocument(*message).toJson(QJsonDocument::Compact) : QByteArray("none");
}

} // namespace

class TestDispatcher : public QObject {
    Q_OBJECT

private slots:
    void init() { EmulatedDevice::instance().reset(); }

    void outcome_data()
    {
        QTest::addColumn<bool>("plugged");
        QTest::addColumn<QString>("request");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("answer"); // exactly; "none": nothing goes back

        const QString long_id = QString(257, QLatin1Char('x'));
        QTest::newRow("query with id") << true << R"({"msg": "get_api_version", "id": "a"})" << 0
                                       << QByteArray(R"({"data":"0.3.0","id":"a","msg":"api_version"})");
        QTest::newRow("query without id")
            << true << R"({"msg": "get_api_version"})" << 0 << QByteArray(R"({"data":"0.3.0","msg":"api_version"})");
        QTest::newRow("command") << true << R"({"msg": "set_on", "data": {"mod1": "on"}, "id": 1})" << 0
                                 << QByteArray("none");
        QTest::newRow("ignored") << true << R"({"msg": 5, "id": 1})" << 0 << QByteArray("none");
        QTest::newRow("refused with id") << true << R"({"msg": "set_on", "data": {"mod9": "on"}, "id": 4})" << -1
                                         << QByteArray(R"({"data":"invalid key: 'data.mod9'","id":4,"msg":"error"})");
        QTest::newRow("id too long")
            << true << QStringLiteral(R"({"msg": "get_topics", "id": "%1"})").arg(long_id) << -1
            << QByteArray(R"({"data":"invalid data type for key: 'id', expected: String (at most 256 characters) or )"
                          R"(Number","msg":"error"})");
        QTest::newRow("unplugged keeps the id")
            << false << R"({"msg": "get_topics", "id": 9})" << -1
            << QByteArray(R"({"data":"Device USB not connected!","id":9,"msg":"error"})");
        QTest::newRow("unplugged drops a bad id")
            << false << QStringLiteral(R"({"msg": "get_topics", "id": "%1"})").arg(long_id) << -1
            << QByteArray(R"({"data":"Device USB not connected!","msg":"error"})");
    }

    void outcome()
    {
        QFETCH(bool, plugged);
        QFETCH(QString, request);
        QFETCH(int, result);
        QFETCH(QByteArray, answer);
        DispatcherRig rig;
        if (plugged)
            QVERIFY(rig.open());
        const korvel::protocol::Dispatcher &dispatcher = korvel::protocol::Core::of(rig.console).dispatcher();
        RecordingPeer peer;
        const Outcome outcome = dispatcher.carry_out(request, peer);
        QCOMPARE(outcome.result, result);
        QCOMPARE(text(outcome.answer()), answer);
    }

    // The per-peer requests land in the peer, and their replies read it back.
    void peer_keeps_its_own()
    {
        DispatcherRig rig;
        QVERIFY(rig.open());
        const korvel::protocol::Dispatcher &dispatcher = korvel::protocol::Core::of(rig.console).dispatcher();
        RecordingPeer peer;
        QCOMPARE(text(dispatcher.carry_out(R"({"msg": "subscribe", "data": ["metering", "nothing"]})", peer).answer()),
                 QByteArray("none"));
        QCOMPARE(peer.topics, QStringList{"metering"});
        QCOMPARE(text(dispatcher.carry_out(R"({"msg": "get_subscriptions"})", peer).answer()),
                 QByteArray(R"({"data":["metering"],"msg":"subscriptions"})"));
        QCOMPARE(text(dispatcher.carry_out(R"({"msg": "set_metering_interval", "data": 1001})", peer).answer()),
                 QByteArray(R"({"data":"invalid data value '1001' for key: 'data'","msg":"error"})"));
        QCOMPARE(peer.interval, std::nullopt);
        QCOMPARE(text(dispatcher.carry_out(R"({"msg": "set_metering_interval", "data": 50})", peer).answer()),
                 QByteArray(R"({"data":50,"msg":"metering_interval"})"));
        QCOMPARE(text(dispatcher.carry_out(R"({"msg": "get_metering_interval", "id": 1})", peer).answer()),
                 QByteArray(R"({"data":50,"id":1,"msg":"metering_interval"})"));
        QCOMPARE(text(dispatcher.carry_out(R"({"msg": "unsubscribe", "data": "*"})", peer).answer()),
                 QByteArray("none"));
        QCOMPARE(peer.topics, QStringList());
    }
};

QTEST_MAIN(TestDispatcher)
#include "tst_dispatcher.moc"
