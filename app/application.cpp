#include "app/application.h"

#include "app/descriptorlimit.h"
#include "app/mainwindow.h"
#include "app/singleinstance.h"
#include "app/stopsignals.h"

#include <QApplication>

#include <cstdio>

int run_korvel_control(int argc, char *argv[], const AppIdentity &identity,
                       const std::function<void(MainWindow &)> &started)
{
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi, true);
    // Qt::AA_EnableHighDpiScaling (20): deprecated in Qt 6, where high-DPI scaling is always on.
    QCoreApplication::setAttribute(static_cast<Qt::ApplicationAttribute>(20), true);

    // Before the application object, which starts threads of its own.
    korvel::app::StopSignals stop_signals;
    QApplication app(argc, argv);
    korvel::app::raise_descriptor_limit();

    // Before the window: a second copy must not open the console or the ports.
    SingleInstance instance(identity.instance);
    if (instance.claim() == SingleInstance::Role::second) {
        std::fprintf(stderr, "%s is already running: its window is shown.\n", qPrintable(identity.application));
        return 0;
    }

    MainWindow window(identity);
    QObject::connect(&instance, &SingleInstance::show_requested, &window, &MainWindow::show_settings);
    // A stop from the session or the terminal quits as "Quit" does: settings written, "offline" on the broker.
    stop_signals.on_signal(&window, [&window] { window.close_exit(); });
    window.present();
    if (started)
        started(window);
    return app.exec();
}
