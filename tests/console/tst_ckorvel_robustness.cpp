#include "consoletest.h"
#include "eventrecorder.h"

#include "console/valuelists.h"
#include "emulator/emulateddevice.h"

#include <QHash>
#include <QRandomGenerator>
#include <QTest>

#include <functional>

using consoletest::OpenConsole;
using emulator::EmulatedDevice;

namespace {
constexpr int steps = 200000;
constexpr quint32 seed = 0x4B435452;

// Member count of the list that each event's first argument indexes.
const QHash<QByteArray, int> &member_counts()
{
    using namespace korvel;
    static const QHash<QByteArray, int> counts{
        {"ctrl_led_event", 16},
        {"ctrl_led_blink_event", 16},
        {"ctrl_switch_event", member_count(ctrl_key_names)},
        {"config_auto_on_event", member_count(module_names)},
        {"config_cue_reset_event", member_count(module_names)},
        {"config_on_air_event", member_count(module_names)},
        {"config_crm_mute_event", member_count(mic_module_names)},
        {"config_crm_auto_cue_reset_event", member_count(mic_module_names)},
        {"config_studio_remote_event", member_count(mic_module_names)},
        {"config_gpo_event", member_count(gpo_names)},
        {"config_cue_event", member_count(cue_names)},
        {"config_on_event", member_count(module_names)},
        {"config_fader_reserve_event", member_count(module_names)},
        {"config_phantom_event", member_count(mic_module_names)},
        {"config_mic_at_line_event", member_count(mic_module_names)},
        {"config_auto_off_event", member_count(module_names)},
        {"config_locked_on_event", member_count(module_names)},
        {"config_pgm_auto_off_event", member_count(module_names)},
        {"state_on_event", member_count(module_names)},
        {"state_cue_event", member_count(cue_names)},
        {"state_fader_event", member_count(module_names)},
        {"state_auto_cue_event", member_count(auto_cue_names)},
        {"state_src_sel_event", member_count(module_names)},
        {"state_gpo_event", member_count(gpo_names)},
        {"state_on_air_event", member_count(on_air_names)},
        {"state_module_event", member_count(module_names)},
        {"state_track_event", member_count(module_names)},
        {"state_comm_event", member_count(mic_module_names)},
        {"state_cough_event", member_count(mic_module_names)},
        {"state_vt_event", member_count(voicetrack_module_names)},
    };
    return counts;
}

// What is wrong with one event, or an empty string.
QString check_event(const EventRecorder &recorder, const EventRecorder::Event &event)
{
    const QMetaMethod &method = recorder.signal(event.signal);
    const QByteArray name = method.name();
    const QString text = QString::fromLatin1(name) + u' ' + QString::number(event.args[0]);
    int first_value = 0;
    if (const auto count = member_counts().constFind(name); count != member_counts().cend()) {
        const int member = static_cast<int>(event.args[0]);
        if (member < 0 || member >= *count)
            return QStringLiteral("member out of range: ") + text;
        if (name == "state_vt_event" && korvel::name_of(korvel::voicetrack_module_names, member).isEmpty())
            return QStringLiteral("unnamed voice-track position: ") + text;
        first_value = 1;
    }
    bool any_given = false;
    for (int k = first_value; k < event.arg_count; ++k) {
        const double value = event.args[k];
        if (name == "state_metering_event") {
            if (value < -50.0 || value > 13.75)
                return QStringLiteral("level out of range: ") + text;
            any_given = true;
            continue;
        }
        if (value < -128 || value > 255)
            return QStringLiteral("value out of range: ") + text;
        const bool is_flag = name == "config_cue_reset_event" || name == "config_on_air_event" ||
                             name == "config_studio_remote_event" || name == "config_pgm_auto_off_event";
        if (is_flag && value != -1 && value != 0 && value != 1)
            return QStringLiteral("flag not -1, 0 or 1: ") + text;
        const bool is_colour_field = name == "config_cue_event" || name == "config_on_event";
        if (is_colour_field && (value < -1 || value > 3))
            return QStringLiteral("colour field out of range: ") + text;
        any_given = any_given || value != -1;
    }
    // Multi-field events carry at least one changed field (the threshold counts with its own marker).
    const bool multi = event.arg_count - first_value > 1 && name != "state_metering_event";
    if (multi && !any_given && name != "config_cue_reset_event" && name != "config_on_air_event" &&
        name != "config_studio_remote_event" && name != "config_pgm_auto_off_event")
        return QStringLiteral("event without a changed field: ") + text;
    return {};
}

// What is wrong with one output report as written to the device, or an empty string.
QString check_write(const QByteArray &write)
{
    if (write.size() != 11 || write.at(0) != 0)
        return QStringLiteral("malformed write: ") + consoletest::hex(write);
    const int length = static_cast<quint8>(write.at(1));
    if (length < 2 || length > 8)
        return QStringLiteral("bad length byte: ") + consoletest::hex(write);
    for (int i = 1 + length; i < write.size(); ++i)
        if (write.at(i) != 0)
            return QStringLiteral("bytes after the arguments: ") + consoletest::hex(write);
    return {};
}

class Fuzzer {
public:
    explicit Fuzzer(CKorvel &console)
        : console(console)
        , rng(seed)
    {}

    QByteArray next_report()
    {
        const int shape = static_cast<int>(rng.bounded(20));
        if (shape == 0) // too short for a type byte
            return QByteArray(static_cast<int>(rng.bounded(2)), static_cast<char>(rng.bounded(256)));
        const auto type = static_cast<unsigned char>(rng.bounded(256));
        QByteArray payload;
        const QByteArray cached = console.cached(type & 0x3F);
        if (shape < 8 || cached.isEmpty()) {
            payload.resize(static_cast<qsizetype>(rng.bounded(127)));
            for (char &byte : payload)
                byte = static_cast<char>(rng.bounded(256));
        } else {
            payload = cached;
            if (shape < 16 && !payload.isEmpty()) {
                const auto at = static_cast<qsizetype>(rng.bounded(static_cast<quint32>(payload.size())));
                payload[at] = static_cast<char>(payload.at(at) ^ (1 << rng.bounded(8)));
            }
            if (shape == 16)
                payload.truncate(static_cast<qsizetype>(rng.bounded(static_cast<quint32>(payload.size()) + 1)));
            if (shape == 17)
                payload.append(QByteArray(static_cast<qsizetype>(rng.bounded(8)), '\x05'));
            payload.truncate(126);
        }
        // LED reports and echoes mostly address real LEDs or all of them.
        if ((type & 0x3F) == 0x02 || (type & 0x3F) == 0x03) {
            if (!payload.isEmpty() && rng.bounded(4) != 0)
                payload[0] = static_cast<char>(rng.bounded(5) == 0 ? 255 : rng.bounded(16));
        }
        QByteArray report;
        report.append(static_cast<char>(payload.size() + 2));
        report.append(static_cast<char>(type));
        report.append(payload);
        return report;
    }

    int arg()
    {
        switch (rng.bounded(8)) {
        case 0:
            return -1;
        case 1:
            return 1;
        case 2:
            return 255;
        case 3:
            return static_cast<int>(rng.generate());
        case 4:
            return static_cast<int>(rng.bounded(260)) - 2;
        default:
            return static_cast<int>(rng.bounded(17));
        }
    }

    void random_command()
    {
        CKorvel &k = console;
        switch (rng.bounded(33)) {
        case 0:
            k.config_cue(arg(), arg(), arg());
            break;
        case 1:
            k.config_cue_reset(arg(), arg(), arg(), arg(), arg(), arg());
            break;
        case 2:
            k.config_gpo(arg(), arg(), arg(), arg(), arg());
            break;
        case 3:
            k.config_on(arg(), arg(), arg(), arg());
            break;
        case 4:
            k.config_pgm_auto_off(arg(), arg(), arg());
            break;
        case 5:
            k.config_on_air(arg(), arg(), arg(), arg(), arg());
            break;
        case 6:
            k.config_studio_remote(arg(), arg(), arg(), arg());
            break;
        case 7:
            k.ctrl_led_blink(arg(), arg(), arg(), arg());
            break;
        case 8:
            k.config_silence_detection(arg(), arg(), arg(), arg(), arg());
            break;
        case 9:
            k.ctrl_led(arg(), arg());
            break;
        case 10:
            k.on(arg(), arg());
            break;
        case 11:
            k.cue(arg(), arg());
            break;
        case 12:
            k.auto_cue_ann(arg());
            break;
        case 13:
            k.auto_cue_crm(arg());
            break;
        case 14:
            k.non_stop(arg());
            break;
        case 15:
            k.comm(arg(), arg());
            break;
        case 16:
            k.cough(arg(), arg());
            break;
        case 17:
            k.voicetrack(arg(), arg());
            break;
        case 18:
            k.config_auto_on(arg(), arg());
            break;
        case 19:
            k.config_crm_mute(arg(), arg());
            break;
        case 20:
            k.config_crm_auto_cue_reset(arg(), arg());
            break;
        case 21:
            k.config_cue_interlock(arg());
            break;
        case 22:
            k.config_fader_reserve(arg(), arg());
            break;
        case 23:
            k.config_phantom(arg(), arg());
            break;
        case 24:
            k.config_mic_at_line(arg(), arg());
            break;
        case 25:
            k.config_auto_off(arg(), arg());
            break;
        case 26:
            k.track(arg(), arg());
            break;
        case 27:
            k.config_locked_on(arg(), arg());
            break;
        case 28:
            k.config_mic_on(arg());
            break;
        case 29:
            k.request(static_cast<unsigned char>(arg()));
            break;
        case 30:
            k.ctrl_led_blink_write(arg(), arg(), arg(), arg());
            break;
        case 31:
            k.config_gpo_write(arg(), arg(), arg(), arg(), arg());
            break;
        default:
            k.config_silence_detection_write(arg(), arg(), arg(), arg(), arg());
            break;
        }
    }

    CKorvel &console;
    QRandomGenerator rng;
};
} // namespace

class TestRobustness : public QObject {
    Q_OBJECT

private slots:
    void init() { EmulatedDevice::instance().reset(); }

    void random_reports_and_commands()
    {
        QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        OpenConsole console;
        CKorvel &k = console.korvel;
        EventRecorder recorder(&k);
        QString failure;
        recorder.on_event = [&](const EventRecorder::Event &event) {
            if (failure.isEmpty())
                failure = check_event(recorder, event);
        };
        Fuzzer fuzzer(k);
        auto &device = EmulatedDevice::instance();
        qint64 writes = 0;
        qint64 events = 0;

        for (int step = 0; step < steps && failure.isEmpty(); ++step) {
            const quint32 action = fuzzer.rng.bounded(1000);
            if (action < 700) {
                const QByteArray data = fuzzer.next_report();
                const auto type = data.size() >= 2 ? static_cast<unsigned char>(data.at(1)) : 0;
                const unsigned char id = type & 0x3F;
                const QByteArray payload = data.mid(2);
                const CKorvel::ReportCache before = k.report_cache();
                k.on_data_ready(data);

                const int message = type >> 6;
                if (message < 2 && k.report_cache() != before)
                    failure = QStringLiteral("a command or request changed the cache: ") + consoletest::hex(data);
                const bool led = id == 0x02 || id == 0x03;
                if (message >= 2 && !led && k.cached(id) != payload)
                    failure = QStringLiteral("cache entry is not the last payload: ") + consoletest::hex(data);
                if (message >= 2 && payload.isEmpty() && !led && k.report_cache().contains(id))
                    failure = QStringLiteral("an empty payload left an entry: ") + consoletest::hex(data);
            } else if (action < 998) {
                fuzzer.random_command();
            } else if (action == 998) {
                k.on_disconnected();
                if (!k.report_cache().isEmpty())
                    failure = QStringLiteral("cache not emptied on close");
            } else {
                k.on_connected();
            }

            const auto &cache = k.report_cache();
            if (cache.contains(0x02) && cache.value(0x02).size() != 16)
                failure = QStringLiteral("LED colour table of %1 bytes").arg(cache.value(0x02).size());
            if (cache.contains(0x03) && cache.value(0x03).size() != 64)
                failure = QStringLiteral("LED blink table of %1 bytes").arg(cache.value(0x03).size());

            events += recorder.events().size();
            recorder.clear();
            for (const QByteArray &write : device.writes()) {
                if (const QString bad = check_write(write); !bad.isEmpty() && failure.isEmpty())
                    failure = bad;
            }
            writes += device.writes().size();
            device.clear_writes();
            if (!failure.isEmpty())
                failure = QStringLiteral("step %1: ").arg(step) + failure;
        }
        qInstallMessageHandler(previous);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        // The run exercised both directions.
        QVERIFY(writes > steps / 10);
        QVERIFY(events > steps / 10);
    }
};

QTEST_GUILESS_MAIN(TestRobustness)
#include "tst_ckorvel_robustness.moc"
