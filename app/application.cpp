#include "app/application.h"

#include "app/mainwindow.h"

#include <QApplication>

int run_korvel_control(int argc, char *argv[], const std::function<void(MainWindow &)> &started)
{
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi, true);
    // Qt::AA_EnableHighDpiScaling (20): deprecated in Qt 6, where high-DPI scaling is always on.
    QCoreApplication::setAttribute(static_cast<Qt::ApplicationAttribute>(20), true);

    QApplication app(argc, argv);
    MainWindow window; // lives in the tray: not shown
    if (started)
        started(window);
    return app.exec();
}
