#include "emulator/benchmodel.h"

#include <algorithm>
#include <ctime>

namespace emulator {

namespace {
constexpr unsigned char metering_type = type_byte(MessageType::state, item::metering);
constexpr int metering_report_length = 2 + metering_payload;
// The counting field: the time of the first GPO.
constexpr int gpo_time_byte = gpo_time;
constexpr int gpo_payload_length = gpo_stride * gpo_count;
} // namespace

BenchModel::BenchModel(ConsoleModel &console, EmulatedDevice &device)
    : console(console)
    , device(device)
{
    // The meters come from here, stamped; the console model only answers the host.
    console.set_metering_rate(0);
    epoch_us = monotonic_us();
}

BenchModel::~BenchModel()
{
    if (device.model() == this)
        device.set_model(nullptr);
    if (write_log)
        std::fclose(write_log);
}

void BenchModel::set_metering_rate(int per_second)
{
    rate = std::clamp(per_second, 0, ConsoleModel::max_metering_rate);
}

void BenchModel::set_state_period(int ms)
{
    state_period_ms = std::max(0, ms);
}

bool BenchModel::set_write_log(const QString &path)
{
    if (write_log)
        std::fclose(write_log);
    write_log = std::fopen(path.toLocal8Bit().constData(), "a");
    return write_log != nullptr;
}

qint64 BenchModel::monotonic_us()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<qint64>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void BenchModel::stamp(unsigned char *report, int length, quint16 sequence, quint32 time_us)
{
    if (length < metering_report_length || report[1] != metering_type)
        return;
    report[2] = static_cast<unsigned char>(sequence & 0xFF);
    report[3] = static_cast<unsigned char>(sequence >> 8);
    for (int i = 0; i < 4; ++i)
        report[4 + i] = static_cast<unsigned char>((time_us >> (8 * i)) & 0xFF);
}

void BenchModel::output_report(const QByteArray &report, EmulatedDevice &dev)
{
    if (write_log) {
        // Taken before the console model answers, as close to hid_write as the model gets.
        std::fprintf(write_log, "%lld %s\n", static_cast<long long>(monotonic_us()), report.toHex().constData());
        std::fflush(write_log);
    }
    console.output_report(report, dev);
}

void BenchModel::opened(EmulatedDevice &dev)
{
    console.opened(dev);
    epoch_us = monotonic_us() + static_cast<qint64>(start_delay_ms) * 1000;
    meters_due = 0;
    states_due = 0;
}

void BenchModel::before_read(EmulatedDevice &dev)
{
    console.before_read(dev);
    if (!dev.present() || !dev.is_open())
        return;
    const qint64 elapsed = monotonic_us() - epoch_us;
    if (elapsed < 0)
        return;
    const bool limited = metering_limit > 0;
    if (limited && queued >= metering_limit)
        return;

    if (state_period_ms > 0) {
        const qint64 due = elapsed / (static_cast<qint64>(state_period_ms) * 1000);
        if (due > states_due) {
            states_due = due;
            QByteArray payload = console.item(item::gpo_config);
            payload.resize(std::max<qsizetype>(payload.size(), gpo_payload_length), '\0');
            payload[gpo_time_byte] = static_cast<char>(++gpo_time);
            if (dev.pending_input() < dev.input_capacity()) {
                dev.queue_input(ConsoleModel::state_report(item::gpo_config, payload));
                ++states_queued;
            }
        }
    }

    if (rate > 0) {
        const qint64 due = elapsed * rate / 1000000;
        qint64 owed = due - meters_due;
        meters_due = std::max(due, meters_due);
        if (limited)
            owed = std::min(owed, metering_limit - queued);
        const QByteArray report(metering_report_length, '\0');
        for (; owed > 0 && dev.pending_input() < dev.input_capacity(); --owed) {
            QByteArray r = report;
            r[0] = static_cast<char>(metering_report_length);
            r[1] = static_cast<char>(metering_type);
            dev.queue_input(r);
            ++queued;
        }
    }
}

void BenchModel::delivered(unsigned char *data, int length, EmulatedDevice &)
{
    if (length >= metering_report_length && data[1] == metering_type) {
        stamp(data, length, static_cast<quint16>(sequence & 0xFFFF), static_cast<quint32>(monotonic_us() & 0xFFFFFFFF));
        ++sequence;
    }
}

} // namespace emulator
