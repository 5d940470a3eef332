#include "mqtt/client.h"
#include "mqtt/outgoingqueue.h"

#include <QTest>

using korvel::mqtt::OutgoingMessage;
using korvel::mqtt::OutgoingQueue;

namespace {

// Every message of these tests costs exactly 100 bytes: a 4-letter topic, a 28-byte payload and the overhead.
constexpr qsizetype message_cost = 100;

// "L1" is a live message (QoS 0), "E1" an event (QoS 1), "R1" retained, "B1" a live message larger than the
// whole budget; "X" forgets the unretained messages and "M" the live ones. The payload records the push's index, so a
// retained message replaced later shows the newer index.
OutgoingMessage make(const QString &token, int index)
{
    const QByteArray mark = QByteArray::number(index);
    OutgoingMessage m;
    m.topic = QStringLiteral("t/") + token;
    m.payload = mark + QByteArray((token.startsWith('B') ? 1000 : 28) - mark.size(), '.');
    m.qos = token.startsWith('E') || token.startsWith('R') ? 1 : 0;
    m.retained = token.startsWith('R');
    return m;
}

QString describe(const OutgoingMessage &m)
{
    return m.topic.mid(2) + '#' + QString::fromLatin1(m.payload.left(m.payload.indexOf('.')));
}

} // namespace

class TestMqttQueue : public QObject {
    Q_OBJECT

private slots:
    void budgetDropsLiveThenEventsNeverRetained_data();
    void budgetDropsLiveThenEventsNeverRetained();
    void retryDelayGrowsToThirtySeconds_data();
    void retryDelayGrowsToThirtySeconds();
};

void TestMqttQueue::budgetDropsLiveThenEventsNeverRetained_data()
{
    QTest::addColumn<QString>("pushes");
    QTest::addColumn<QString>("accepted");
    QTest::addColumn<QString>("popped");
    QTest::addColumn<int>("dropped");

    // Budget: three messages.
    QTest::newRow("order kept across kinds") << "L1 E1 R1"
                                             << "111"
                                             << "L1#0 E1#1 R1#2" << 0;
    QTest::newRow("oldest live dropped") << "L1 L2 L3 L4"
                                         << "1111"
                                         << "L2#1 L3#2 L4#3" << 1;
    QTest::newRow("live before events") << "E1 L1 E2 L2"
                                        << "1111"
                                        << "E1#0 E2#2 L2#3" << 1;
    QTest::newRow("events when no live left") << "E1 E2 E3 E4"
                                              << "1111"
                                              << "E2#1 E3#2 E4#3" << 1;
    QTest::newRow("live refused when only retained") << "R1 R2 R3 L1"
                                                     << "1110"
                                                     << "R1#0 R2#1 R3#2" << 1;
    QTest::newRow("retained beyond the budget kept") << "R1 R2 R3 R4"
                                                     << "1111"
                                                     << "R1#0 R2#1 R3#2 R4#3" << 0;
    QTest::newRow("retained evicts live") << "L1 L2 E1 R1"
                                          << "1111"
                                          << "L2#1 E1#2 R1#3" << 1;
    QTest::newRow("retained replaced in place") << "R1 L1 R1"
                                                << "111"
                                                << "R1#2 L1#1" << 0;
    QTest::newRow("live forgotten, others kept") << "L1 E1 L2 M R1 L3"
                                                 << "111-11"
                                                 << "E1#1 R1#4 L3#5" << 2;
    QTest::newRow("replacement does not count twice") << "R1 R1 R1 L1 E1"
                                                      << "11111"
                                                      << "R1#2 L1#3 E1#4" << 0;
}

void TestMqttQueue::budgetDropsLiveThenEventsNeverRetained()
{
    QFETCH(QString, pushes);
    QFETCH(QString, accepted);
    QFETCH(QString, popped);
    QFETCH(int, dropped);

    OutgoingQueue queue(3 * message_cost);
    QString results;
    const QStringList tokens = pushes.split(' ');
    for (int i = 0; i < tokens.size(); ++i) {
        if (tokens[i] == "X" || tokens[i] == "M") {
            if (tokens[i] == "X")
                queue.drop_unretained();
            else
                queue.drop_live();
            results += '-';
            continue;
        }
        const OutgoingMessage m = make(tokens[i], i);
        QVERIFY(tokens[i].startsWith('B') || OutgoingQueue::cost(m) == message_cost);
        results += queue.push(m) ? '1' : '0';
    }
    QCOMPARE(results, accepted);
    QCOMPARE(queue.dropped(), quint64(dropped));
    const QStringList expected = popped.split(' ');
    QCOMPARE(queue.size(), expected.size());
    QCOMPARE(queue.bytes(), expected.size() * message_cost);

    QStringList out;
    while (const auto m = queue.pop())
        out << describe(*m);
    QCOMPARE(out, expected);
    QVERIFY(queue.empty());
    QCOMPARE(queue.bytes(), 0);
}

void TestMqttQueue::retryDelayGrowsToThirtySeconds_data()
{
    QTest::addColumn<int>("failures");
    QTest::addColumn<int>("delay");
    QTest::newRow("first retry") << 0 << 1000;
    QTest::newRow("second") << 1 << 2000;
    QTest::newRow("third") << 2 << 4000;
    QTest::newRow("fifth") << 4 << 16000;
    QTest::newRow("capped") << 5 << 30000;
    QTest::newRow("stays capped") << 6 << 30000;
    QTest::newRow("no overflow after many") << 1000000 << 30000;
}

void TestMqttQueue::retryDelayGrowsToThirtySeconds()
{
    QFETCH(int, failures);
    QFETCH(int, delay);
    QCOMPARE(korvel::mqtt::Client::retry_delay_ms(failures), delay);
}

QTEST_GUILESS_MAIN(TestMqttQueue)
#include "tst_mqttqueue.moc"
