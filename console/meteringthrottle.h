// Peak hold for meter levels: passes them on at most once per interval, carrying the highest level of each channel
// seen since the last time, so a client that wants fewer meter messages never misses a peak.
#pragma once

#include <QObject>
#include <QTimer>

#include <array>

namespace korvel {

// pgm_l, pgm_r, phones_l, phones_r, crm_l, crm_r: the order of the console's metering report.
using MeterLevels = std::array<float, 6>;

class MeteringThrottle : public QObject {
    Q_OBJECT

public:
    explicit MeteringThrottle(QObject *parent);

    // ms <= 0: every add goes out at once. Levels held under the previous interval go out at once when it is set
    // to 0, and otherwise when the running interval ends.
    void set_interval(int ms);
    int interval() const { return interval_ms; }

    void add(const MeterLevels &levels);

signals:
    void due(const korvel::MeterLevels &peaks);

private:
    void on_interval_over();
    void send_held();

    QTimer timer;
    int interval_ms = 0;
    // The peaks of the adds since the last due, valid while held is set.
    MeterLevels peaks{};
    bool held = false;
};

} // namespace korvel
