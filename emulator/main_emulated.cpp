// The application on the emulated console, with the console's front panel on screen.
#include "app/application.h"
#include "app/mainwindow.h"
#include "emulator/consolemodel.h"
#include "emulator/emulatorpanel.h"

#include <QtGlobal>

namespace {

constexpr int default_metering_rate = 20;

// KORVEL_EMULATOR_METERING_HZ: metering reports per second, 0 to switch them off.
int metering_rate_from_environment()
{
    bool ok = false;
    const int rate = qEnvironmentVariableIntValue("KORVEL_EMULATOR_METERING_HZ", &ok);
    return ok ? rate : default_metering_rate;
}

} // namespace

int main(int argc, char *argv[])
{
    emulator::ConsoleModel console;
    console.set_metering_rate(metering_rate_from_environment());
    emulator::EmulatedDevice::instance().set_model(&console);

    return run_korvel_control(argc, argv, [&console](MainWindow &window) {
        // A window of its own, owned by the main window so it goes before the application does.
        auto *panel = new emulator::EmulatorPanel(console, &window);
        panel->show();
    });
}
