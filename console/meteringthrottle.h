// Peak hold for meter levels: passes them on at most once per interval, carrying the highest level of each channel
// seen since the last time, so a client that wants fewer meter messages never misses a peak.
#pragma once

#include <QObject>
#include <QTimer>
#include <QtGlobal>

#include <array>
#include <functional>

namespace korvel {

// pgm_l, pgm_r, phones_l, phones_r, crm_l, crm_r: the order of the console's metering report.
using MeterLevels = std::array<float, 6>;

class MeteringThrottle : public QObject {
    Q_OBJECT

public:
    explicit MeteringThrottle(QObject *parent);

    // Strictly one due per interval at most: each begins a full interval. ms <= 0: every add goes out at once.
    // Levels held under the previous interval go out at once when it is set to 0, and otherwise when the running
    // interval ends.
    void set_interval(int ms);
    // Milliseconds, as set_interval() takes them.
    int interval() const { return static_cast<int>(interval_ns / 1'000'000); }
    // per_second dues a second, exactly on average: the intervals follow one another on a fixed grid, so a due
    // that comes late (the levels came late, or the event loop was busy) takes nothing from the next one, and
    // the intervals that began within catch_up_ns before an add are still there to take. So a burst of up to
    // catch_up_ns worth of the rate may go out at once. per_second <= 0: every add goes out at once.
    void set_rate(int per_second);
    static constexpr qint64 catch_up_ns = 10'000'000;

    void add(const MeterLevels &levels);

    // Nanoseconds on a monotonic clock; the system's steady clock unless replaced (tests drive their own).
    using Clock = std::function<qint64()>;
    void set_clock(Clock clock) { now_ns = std::move(clock); }

signals:
    void due(const korvel::MeterLevels &peaks);

private:
    void set_period(qint64 ns, qint64 catch_up);
    // Sends what is held when its interval has begun; otherwise waits for it.
    void send_when_due();
    void send_held();

    QTimer timer;
    Clock now_ns;
    qint64 interval_ns = 0;
    // How far behind the grid a due may be and still keep it: 0 for strict intervals.
    qint64 late_ns = 0;
    // Where the next interval begins: no due before it.
    qint64 next_ns;
    // The peaks of the adds since the last due, valid while held is set.
    MeterLevels peaks{};
    bool held = false;
};

} // namespace korvel
