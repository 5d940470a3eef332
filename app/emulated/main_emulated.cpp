// The application on the emulated console, with the console's front panel on screen.
//
// Environment (all optional; without them the console behaves as a console on a desk):
//   KORVEL_EMULATOR_METERING_HZ   metering reports per second, 0 to switch them off (default 20)
//   KORVEL_EMULATOR_PANEL=0       no front panel window
//   KORVEL_EMULATOR_ABSENT=1      the console is not plugged in
//   KORVEL_EMULATOR_REFUSE        "permission": plugged in but this user may not open it; "busy": held elsewhere
//   KORVEL_BENCH=1                load for benchmarks and soak tests (emulator/benchmodel.h), no front panel:
//     KORVEL_BENCH_METERING_HZ      stamped metering reports per second (default 1000)
//     KORVEL_BENCH_STATE_PERIOD_MS  one counting GPO configuration report per period (default 10, 0: none)
//     KORVEL_BENCH_START_DELAY_MS   quiet time after each open (default 0)
//     KORVEL_BENCH_METERING_COUNT   metering reports in all, then silence (default 0: no limit)
//     KORVEL_BENCH_WRITE_LOG        file that receives one line per output report
//     KORVEL_BENCH_STATS            file rewritten every second with the counts of what was sent
//     KORVEL_BENCH_REPLUG_PERIOD_MS unplug the console this often (default 0: never) ...
//     KORVEL_BENCH_UNPLUGGED_MS     ... for this long (default 1000)
//     KORVEL_BENCH_WINDOW=1         keep the settings window shown, as on a desktop without a tray
#include "app/application.h"
#include "app/emulated/emulatorpanel.h"
#include "app/mainwindow.h"
#include "emulator/benchmodel.h"
#include "emulator/consolemodel.h"

#include <QFile>
#include <QSaveFile>
#include <QTimer>
#include <QtGlobal>

#include <memory>

namespace {

constexpr int default_metering_rate = 20;

int environment_int(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

std::unique_ptr<emulator::BenchModel> bench_model(emulator::ConsoleModel &console)
{
    if (environment_int("KORVEL_BENCH", 0) == 0)
        return nullptr;
    auto bench = std::make_unique<emulator::BenchModel>(console);
    bench->set_metering_rate(environment_int("KORVEL_BENCH_METERING_HZ", 1000));
    bench->set_state_period(environment_int("KORVEL_BENCH_STATE_PERIOD_MS", 10));
    bench->set_start_delay(environment_int("KORVEL_BENCH_START_DELAY_MS", 0));
    bench->set_metering_limit(environment_int("KORVEL_BENCH_METERING_COUNT", 0));
    const QString log = qEnvironmentVariable("KORVEL_BENCH_WRITE_LOG");
    if (!log.isEmpty() && !bench->set_write_log(log))
        qWarning("cannot open the write log %s", qPrintable(log));
    return bench;
}

void write_stats(const QString &path, const emulator::BenchModel &bench, int unplugs)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(QStringLiteral("metering_read %1\nmetering_queued %2\nstate_reports %3\nunplugs %4\n")
                   .arg(bench.metering_read())
                   .arg(bench.metering_queued())
                   .arg(bench.state_reports_queued())
                   .arg(unplugs)
                   .toUtf8());
    file.commit();
}

// The harness of the bench mode, with the window as parent: statistics and the periodic unplug.
void start_bench_timers(MainWindow &window, emulator::ConsoleModel &console, emulator::BenchModel &bench)
{
    auto unplugs = std::make_shared<int>(0);
    const QString stats = qEnvironmentVariable("KORVEL_BENCH_STATS");
    if (!stats.isEmpty()) {
        auto *timer = new QTimer(&window);
        QObject::connect(timer, &QTimer::timeout, &window,
                         [stats, &bench, unplugs] { write_stats(stats, bench, *unplugs); });
        timer->start(1000);
    }
    const int period = environment_int("KORVEL_BENCH_REPLUG_PERIOD_MS", 0);
    if (period > 0) {
        const int unplugged = environment_int("KORVEL_BENCH_UNPLUGGED_MS", 1000);
        auto *timer = new QTimer(&window);
        QObject::connect(timer, &QTimer::timeout, &window, [&window, &console, unplugged, unplugs] {
            console.unplug();
            ++*unplugs;
            QTimer::singleShot(unplugged, &window, [&console] { console.replug(); });
        });
        timer->start(period);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    emulator::ConsoleModel console;
    console.set_metering_rate(environment_int("KORVEL_EMULATOR_METERING_HZ", default_metering_rate));
    const std::unique_ptr<emulator::BenchModel> bench = bench_model(console);
    if (bench)
        emulator::EmulatedDevice::instance().set_model(bench.get());
    else
        emulator::EmulatedDevice::instance().set_model(&console);
    if (environment_int("KORVEL_EMULATOR_ABSENT", 0) != 0)
        emulator::EmulatedDevice::instance().set_present(false);
    const QString refuse = qEnvironmentVariable("KORVEL_EMULATOR_REFUSE");
    if (refuse == QLatin1String("permission"))
        emulator::EmulatedDevice::instance().set_refusal(emulator::EmulatedDevice::Refusal::not_permitted);
    else if (refuse == QLatin1String("busy"))
        emulator::EmulatedDevice::instance().set_refusal(emulator::EmulatedDevice::Refusal::busy);
    const bool panel = !bench && environment_int("KORVEL_EMULATOR_PANEL", 1) != 0;

    return run_korvel_control(argc, argv, AppIdentity::emulated(), [&console, &bench, panel](MainWindow &window) {
        if (bench) {
            // Measured as it runs in the tray unless asked otherwise: without one (offscreen has none) the window
            // is shown, and what that costs is measured on its own (tools/bench.sh window).
            if (environment_int("KORVEL_BENCH_WINDOW", 0) == 0)
                window.hide();
            else
                window.show_settings();
            start_bench_timers(window, console, *bench);
        }
        // A window of its own, owned by the main window so it goes before the application does.
        if (panel)
            (new emulator::EmulatorPanel(console, &window))->show();
    });
}
