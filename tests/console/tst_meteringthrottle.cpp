// Peak hold of MeteringThrottle: every level added reaches some due, no due carries a level never added, and the
// dues come no more often than one per interval; a rate gives exactly its dues a second.
#include "console/meteringthrottle.h"

#include <QElapsedTimer>
#include <QTest>

#include <algorithm>

using korvel::MeteringThrottle;
using korvel::MeterLevels;

namespace {
constexpr float quiet = -50.0f;

struct Spike {
    int report;
    int channel;
    float level;
};

// What the throttle saw and said, in order: an add or a due with its levels.
struct Step {
    bool due;
    MeterLevels levels;
};

MeterLevels quiet_levels()
{
    MeterLevels levels;
    levels.fill(quiet);
    return levels;
}
} // namespace

Q_DECLARE_METATYPE(QList<Spike>)

class TestMeteringThrottle : public QObject {
    Q_OBJECT

private slots:
    void peak_hold_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("reports");
        QTest::addColumn<QList<Spike>>("spikes");
        // Reports before which the sender stays quiet for longer than two intervals.
        QTest::addColumn<QList<int>>("pauses");

        const QList<Spike> one_per_channel{{3, 0, 0.0f},   {40, 1, -3.0f}, {41, 2, -6.0f},
                                           {90, 3, -2.5f}, {91, 3, -9.0f}, {150, 4, -1.25f}};
        const QList<Spike> first_and_last{{0, 5, -4.0f}, {199, 0, -7.75f}, {199, 5, -11.0f}};
        // The lower spike on a channel follows the higher inside one interval: the peak must go out, not the last.
        const QList<Spike> falling{{100, 1, -1.0f}, {101, 1, -20.0f}, {102, 1, -30.0f}};
        for (const int interval : {0, 1, 10, 50, 200}) {
            QTest::addRow("%d ms, one per channel", interval) << interval << 200 << one_per_channel << QList<int>{};
            QTest::addRow("%d ms, first and last report", interval)
                << interval << 200 << first_and_last << QList<int>{};
            QTest::addRow("%d ms, falling", interval) << interval << 200 << falling << QList<int>{};
            QTest::addRow("%d ms, pauses", interval) << interval << 200 << one_per_channel << QList<int>{40, 91, 150};
        }
    }

    void peak_hold()
    {
        QFETCH(int, interval);
        QFETCH(int, reports);
        QFETCH(QList<Spike>, spikes);
        QFETCH(QList<int>, pauses);

        MeteringThrottle throttle(nullptr);
        throttle.set_interval(interval);
        QCOMPARE(throttle.interval(), interval);
        QList<Step> steps;
        int dues = 0;
        connect(&throttle, &MeteringThrottle::due, this, [&](const MeterLevels &peaks) {
            steps.append({true, peaks});
            ++dues;
        });

        QElapsedTimer clock;
        clock.start();
        for (int report = 0; report < reports; ++report) {
            if (pauses.contains(report))
                QTest::qWait(2 * interval + 50);
            MeterLevels levels = quiet_levels();
            for (const Spike &spike : spikes)
                if (spike.report == report)
                    levels[spike.channel] = spike.level;
            steps.append({false, levels});
            const int before = dues;
            throttle.add(levels);
            QVERIFY(dues - before <= 1);
            if (interval == 0 || pauses.contains(report)) {
                // Nothing is held after a quiet stretch: the levels go out with the add itself.
                QCOMPARE(dues - before, 1);
                QCOMPARE(steps.last().levels, levels);
            }
            QTest::qWait(1);
        }
        // The trailing due of the held levels.
        QTRY_VERIFY_WITH_TIMEOUT(steps.last().due, 5 * interval + 1000);
        const qint64 elapsed = clock.elapsed();

        // Every due carries, for each channel, the highest level added since the previous due.
        MeterLevels peak_since = quiet_levels();
        bool added_since = false;
        for (const Step &step : std::as_const(steps)) {
            if (!step.due) {
                for (std::size_t c = 0; c < peak_since.size(); ++c)
                    peak_since[c] = added_since ? std::max(peak_since[c], step.levels[c]) : step.levels[c];
                added_since = true;
                continue;
            }
            QVERIFY2(added_since, "a due without an add before it");
            QCOMPARE(step.levels, peak_since);
            added_since = false;
        }
        QVERIFY2(!added_since, "levels added after the last due never went out");
        QVERIFY(dues <= reports);
        if (interval == 0)
            QCOMPARE(dues, reports);
        else
            QVERIFY2(dues <= elapsed / interval + 1,
                     qPrintable(QStringLiteral("%1 dues in %2 ms").arg(dues).arg(elapsed)));
    }

    // A rate is exact: dues counted over a second of reports on a clock of the test's own, after a second that
    // brings the grid to its steady state. Reads of the console that come late hand over several reports at
    // once, each stamped with the time of its read.
    void rate_over_reports_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("report_hz");
        QTest::addColumn<int>("per_read"); // reports handed over at once
        QTest::addColumn<int>("expected"); // dues in 1000 reports, give or take one

        QTest::newRow("1000/s of 1000 reports a second") << 1000 << 1000 << 1 << 1000;
        QTest::newRow("1000/s, every read 5 ms late") << 1000 << 1000 << 5 << 1000;
        QTest::newRow("1000/s, every read 10 ms late") << 1000 << 1000 << 10 << 1000;
        QTest::newRow("700/s") << 700 << 1000 << 1 << 700;
        QTest::newRow("500/s, every read 2 ms late") << 500 << 1000 << 2 << 500;
        QTest::newRow("300/s") << 300 << 1000 << 1 << 300;
        QTest::newRow("300/s, every read 4 ms late") << 300 << 1000 << 4 << 300;
        QTest::newRow("20/s") << 20 << 1000 << 1 << 20;
        QTest::newRow("3/s") << 3 << 1000 << 1 << 3;
        QTest::newRow("never more than reported") << 1000 << 250 << 1 << 1000;
    }

    void rate_over_reports()
    {
        QFETCH(int, rate);
        QFETCH(int, report_hz);
        QFETCH(int, per_read);
        QFETCH(int, expected);

        MeteringThrottle throttle(nullptr);
        qint64 now = 0;
        throttle.set_clock([&] { return now; });
        throttle.set_rate(rate);
        int dues = 0;
        connect(&throttle, &MeteringThrottle::due, this, [&] { ++dues; });
        constexpr int reports = 1000;
        const qint64 period_ns = 1'000'000'000 / report_hz;
        // The event loop never runs: only the adds send, so nothing depends on real time.
        for (int report = 0; report < 2 * reports; ++report) {
            if (report == reports)
                dues = 0;
            now = (report / per_read * per_read + per_read - 1) * period_ns;
            throttle.add(quiet_levels());
        }
        QVERIFY2(qAbs(dues - expected) <= 1, qPrintable(QStringLiteral("%1 dues, not %2").arg(dues).arg(expected)));
    }

    // Levels held when the interval is set back to 0 go out at once, and later levels pass straight through.
    void back_to_zero_sends_held_levels()
    {
        MeteringThrottle throttle(nullptr);
        throttle.set_interval(1000);
        QList<MeterLevels> dues;
        connect(&throttle, &MeteringThrottle::due, this, [&](const MeterLevels &peaks) { dues.append(peaks); });

        MeterLevels first = quiet_levels();
        MeterLevels spike = quiet_levels();
        spike[2] = -3.0f;
        throttle.add(first);
        throttle.add(spike);
        throttle.add(first);
        QCOMPARE(dues, QList<MeterLevels>{first});
        throttle.set_interval(0);
        QCOMPARE(dues, (QList<MeterLevels>{first, spike}));
        throttle.add(first);
        QCOMPARE(dues.size(), 3);
        // No trailing due of levels already sent.
        QTest::qWait(50);
        QCOMPARE(dues.size(), 3);
        throttle.set_interval(-5);
        QCOMPARE(throttle.interval(), 0);
    }
};

QTEST_GUILESS_MAIN(TestMeteringThrottle)
#include "tst_meteringthrottle.moc"
