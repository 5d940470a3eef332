// Peak hold for meter levels: the first levels after a quiet interval go out at once, later ones are held until
// their interval begins, watched by a single-shot timer.
#include "console/meteringthrottle.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace korvel {

namespace {
qint64 steady_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

MeteringThrottle::MeteringThrottle(QObject *parent)
    : QObject(parent)
    , timer(this)
    , now_ns(steady_ns)
    , next_ns(std::numeric_limits<qint64>::min() / 2)
{
    timer.setSingleShot(true);
    // A coarse timer may end an interval early, and a client then gets two messages inside one interval.
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, &MeteringThrottle::send_when_due);
}

void MeteringThrottle::set_interval(int ms)
{
    set_period(qint64{std::max(ms, 0)} * 1'000'000, 0);
}

void MeteringThrottle::set_rate(int per_second)
{
    set_period(per_second > 0 ? 1'000'000'000 / per_second : 0, catch_up_ns);
}

void MeteringThrottle::set_period(qint64 ns, qint64 catch_up)
{
    interval_ns = ns;
    late_ns = catch_up;
    if (interval_ns == 0) {
        timer.stop();
        send_held();
    }
    // A running interval keeps its end; the next one has the new length.
}

void MeteringThrottle::add(const MeterLevels &levels)
{
    if (interval_ns == 0) {
        emit due(levels);
        return;
    }
    if (held) {
        for (std::size_t i = 0; i < peaks.size(); ++i)
            peaks[i] = std::max(peaks[i], levels[i]);
    } else {
        peaks = levels;
        held = true;
    }
    // Also with the timer running: an add that comes once the interval has begun need not wait for it.
    send_when_due();
}

void MeteringThrottle::send_when_due()
{
    if (!held)
        return;
    const qint64 now = now_ns();
    if (now < next_ns) {
        // The timer counts whole milliseconds: rounded up, so that it never ends an interval early.
        if (!timer.isActive())
            timer.start(static_cast<int>((next_ns - now + 999'999) / 1'000'000));
        return;
    }
    timer.stop();
    // No further behind than the grid may be: after a quiet stretch it starts again, late_ns in the past, so
    // that levels a little early for their interval (the reads of the console are not exactly regular) find one.
    next_ns = std::max(next_ns, now - late_ns) + interval_ns;
    send_held();
}

void MeteringThrottle::send_held()
{
    if (!held)
        return;
    held = false;
    const MeterLevels out = peaks;
    emit due(out);
}

} // namespace korvel
