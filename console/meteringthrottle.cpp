// Peak hold for meter levels behind a single-shot timer: the first levels after a quiet interval go out at once,
// later ones are held until the interval ends.
#include "console/meteringthrottle.h"

#include <algorithm>

namespace korvel {

MeteringThrottle::MeteringThrottle(QObject *parent)
    : QObject(parent)
    , timer(this)
{
    timer.setSingleShot(true);
    // A coarse timer may end an interval early, and a client then gets two messages inside one interval.
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, &MeteringThrottle::on_interval_over);
}

void MeteringThrottle::set_interval(int ms)
{
    interval_ms = std::max(ms, 0);
    if (interval_ms == 0) {
        timer.stop();
        send_held();
        return;
    }
    // A running interval keeps its end; the next one has the new length.
}

void MeteringThrottle::add(const MeterLevels &levels)
{
    if (interval_ms == 0) {
        emit due(levels);
        return;
    }
    if (timer.isActive()) {
        if (!held) {
            peaks = levels;
            held = true;
            return;
        }
        for (std::size_t i = 0; i < peaks.size(); ++i)
            peaks[i] = std::max(peaks[i], levels[i]);
        return;
    }
    // Quiet since the last interval ended: nothing is held, so these levels are the peak.
    timer.start(interval_ms);
    emit due(levels);
}

void MeteringThrottle::on_interval_over()
{
    if (!held)
        return;
    // Another interval starts with this send, so the levels that follow are held again.
    timer.start(interval_ms);
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
