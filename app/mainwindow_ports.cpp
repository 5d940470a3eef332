// The sockets on the user's ports, watched: a port that does not open is named at its field, in the tray and
// in the log, and tried again until it opens.
#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include "app/portmonitor.h"
#include "app/traytitle.h"
#include "udp/cudpinterface.h"
#include "websocket/cwebsocketinterface.h"

#include <QSystemTrayIcon>

namespace {
const QString style_failed = QStringLiteral("color: rgb(255, 0, 0);");
} // namespace

void MainWindow::watch_ports()
{
    ports = new PortMonitor(this);
    websocket_watch =
        ports->watch({tr("WebSocket server"), PortMonitor::Protocol::tcp,
                      [this](int port) { websocket->setPort(port); }, [this] { return websocket->is_listening(); }});
    udp_watch = ports->watch({tr("UDP bridge"), PortMonitor::Protocol::udp, [this](int port) { udp->setRxPort(port); },
                              [this] { return udp->bound_port() != 0; }});
    connect(ports, &PortMonitor::problem_found, this, &MainWindow::show_port_problem);
    connect(ports, &PortMonitor::problem_solved, this, [this](int watch) { show_port_problem(watch, QString()); });
}

void MainWindow::show_port_problem(int watch, const QString &problem)
{
    QLineEdit *field = watch == websocket_watch ? ui->lineEdit_websocket_port : ui->lineEdit_LISTEN;
    field->setToolTip(problem);
    field->setStyleSheet(problem.isEmpty() ? QString() : style_failed);
    if (!problem.isEmpty()) {
        trayIcon->showMessage(korvel::app::tray_title(trayIcon), ports->name(watch) + QStringLiteral(": ") + problem,
                              QSystemTrayIcon::Warning, korvel::app::tray_message_ms);
    }
    // In the window too: with the application and the emulated one both running, a message in the tray is easily
    // missed, and the second one then quietly serves nobody on that port.
    show_problems();
}
