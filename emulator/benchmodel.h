#pragma once

#include "emulator/consolemodel.h"
#include "emulator/emulateddevice.h"
#include "emulator/reports.h"

#include <QByteArray>
#include <QString>

#include <cstdio>

namespace emulator {

// Load for benchmarks and soak tests, in front of the console model. The console model still answers every
// request and command; on top of it this model sends:
// - metering reports at a fixed rate, each carrying a sequence number and the moment hid_read returned it, so
//   a client can tell loss, order and latency from the levels it receives;
// - a GPO configuration report every state period whose time field counts up by one, so every one of them is
//   a change, announced to every client, whose order a client can check.
//
// Stamp in the six level bytes of a metering report (each byte maps to one exact level, see decode_level):
//   bytes 0-1: sequence number, little-endian, counting every metering report read since the process started;
//   bytes 2-5: CLOCK_MONOTONIC in microseconds, low 32 bits, taken as hid_read returns the report.
class BenchModel : public DeviceModel {
public:
    BenchModel(ConsoleModel &console, EmulatedDevice &device = EmulatedDevice::instance());
    ~BenchModel() override;
    BenchModel(const BenchModel &) = delete;
    BenchModel &operator=(const BenchModel &) = delete;

    void set_metering_rate(int per_second);
    // 0: no counting GPO reports.
    void set_state_period(int ms);
    // Nothing is sent for this long after each open (so clients can connect and subscribe first).
    void set_start_delay(int ms) { start_delay_ms = ms; }
    // Metering reports to send in all; 0 for no limit. The counting GPO reports stop with them.
    void set_metering_limit(qint64 reports) { metering_limit = reports; }
    // Appends one line per output report: CLOCK_MONOTONIC microseconds, a blank, the report in hex.
    bool set_write_log(const QString &path);

    qint64 metering_read() const { return sequence; }
    qint64 metering_queued() const { return queued; }
    qint64 state_reports_queued() const { return states_queued; }

    // Microseconds on CLOCK_MONOTONIC, the clock of the stamps.
    static qint64 monotonic_us();
    // Writes the stamp into a metering report; other reports are left alone.
    static void stamp(unsigned char *report, int length, quint16 sequence, quint32 time_us);

    void output_report(const QByteArray &report, EmulatedDevice &device) override;
    void before_read(EmulatedDevice &device) override;
    void opened(EmulatedDevice &device) override;
    void delivered(unsigned char *data, int length, EmulatedDevice &device) override;

private:
    ConsoleModel &console;
    EmulatedDevice &device;
    int rate = 1000;
    int state_period_ms = 10;
    int start_delay_ms = 0;
    qint64 metering_limit = 0;
    qint64 epoch_us = 0;
    qint64 meters_due = 0;
    qint64 states_due = 0;
    qint64 queued = 0;
    qint64 states_queued = 0;
    qint64 sequence = 0;
    unsigned char gpo_time = 0;
    std::FILE *write_log = nullptr;
};

} // namespace emulator
