// The door's bookkeeping: connection bounds per address and in all, and the password back-off, on a clock the
// test moves.
#include "websocket/connectionguard.h"

#include <QTest>

using korvel::websocket::ConnectionGuard;

class TestConnectionGuard : public QObject {
    Q_OBJECT

private slots:
    // Each step: "fail A", "pass A" (right answer), "open A", "close A", "wait MS", or a check: "refused A",
    // "admitted A". Addresses A and B are 192.0.2.1 and 192.0.2.2.
    void steps_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("four failures leave the door open")
            << QStringList{"fail A", "fail A", "fail A", "fail A", "admitted A"};
        QTest::newRow("the fifth closes it for a second, for that address only")
            << QStringList{"fail A",     "fail A",   "fail A",    "fail A", "fail A",    "refused A",
                           "admitted B", "wait 999", "refused A", "wait 1", "admitted A"};
        QTest::newRow("a renewed block lasts twice as long")
            << QStringList{"fail A", "fail A", "fail A", "fail A",    "fail A",    "wait 1000", "fail A",    "fail A",
                           "fail A", "fail A", "fail A", "wait 1999", "refused A", "wait 1",    "admitted A"};
        QTest::newRow("the right answer starts again from a second")
            << QStringList{"fail A", "fail A", "fail A", "fail A", "fail A", "wait 1000", "pass A",
                           "fail A", "fail A", "fail A", "fail A", "fail A", "wait 1000", "admitted A"};
        QTest::newRow("failures older than the window are forgotten")
            << QStringList{"fail A", "fail A", "fail A", "fail A", "wait 60000", "fail A", "admitted A"};
        QTest::newRow("per address bound")
            << QStringList{"open A", "open A", "refused A", "admitted B", "close A", "admitted A"};
        QTest::newRow("total bound") << QStringList{"open A",    "open B",  "open B",    "refused A",
                                                    "refused B", "close B", "admitted B"};
    }

    void steps()
    {
        QFETCH(QStringList, steps);
        ConnectionGuard guard;
        qint64 now = 0;
        guard.set_clock([&now] { return now; });
        guard.set_limits(3, 2);
        for (const QString &step : std::as_const(steps)) {
            const QStringList words = step.split(' ');
            const QString &verb = words.at(0);
            const QHostAddress address(words.at(1) == "A" ? "192.0.2.1" : "192.0.2.2");
            if (verb == "wait")
                now += words.at(1).toLongLong();
            else if (verb == "fail")
                guard.failed(address);
            else if (verb == "pass")
                guard.succeeded(address);
            else if (verb == "open")
                guard.opened(address);
            else if (verb == "close")
                guard.closed(address);
            else if (verb == "refused")
                QVERIFY2(!guard.admit(address).isEmpty(), qPrintable(step));
            else
                QVERIFY2(guard.admit(address).isEmpty(), qPrintable(step));
        }
    }

    // The longest block, however often an address keeps failing, and an IPv4-mapped address is the same peer.
    void blocksStopGrowingAtFiveMinutes()
    {
        ConnectionGuard guard;
        qint64 now = 0;
        guard.set_clock([&now] { return now; });
        const QHostAddress peer("::ffff:192.0.2.9");
        for (int round = 0; round < 20; ++round) {
            for (int i = 0; i < ConnectionGuard::max_failures; ++i)
                guard.failed(peer);
            now += ConnectionGuard::longest_block_ms;
        }
        for (int i = 0; i < ConnectionGuard::max_failures; ++i)
            guard.failed(QHostAddress("192.0.2.9"));
        QVERIFY(guard.is_blocked(peer));
        now += ConnectionGuard::longest_block_ms - 1;
        QVERIFY(guard.is_blocked(peer));
        now += 1;
        QVERIFY(!guard.is_blocked(peer));
    }
};

QTEST_GUILESS_MAIN(TestConnectionGuard)
#include "tst_connectionguard.moc"
