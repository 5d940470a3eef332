// Peak hold of MeteringThrottle: every level added reaches some due, no due carries a level never added, and the
// dues come no more often than one per interval.
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
