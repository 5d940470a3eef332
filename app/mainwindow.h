#pragma once

#include "app/appidentity.h"

#include <QMainWindow>

class CKorvel;
class PortMonitor;
class QAction;
class CUDPInterface;
class CUSBHID;
class CWebSocketInterface;
class QCloseEvent;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class QLabel;
struct OpenProblem;

namespace korvel::app {
class MqttService;
}

namespace Ui {
class MainWindow;
}

// The tray application's one window: owns every component for the whole run, shows the link status and
// traffic, and keeps the ports and auto-connect across runs.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    // identity: the settings store and desktop names of the program this window belongs to.
    explicit MainWindow(const AppIdentity &identity, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Called once by the entry point: without a system tray to reach the application from, the window
    // itself is shown; from then on the window follows the tray as it comes and goes.
    void present();
    // Brings the window up where the user is: shown, not minimised, raised.
    void show_settings();

    void readSettings();
    void writeSettings();

    CUSBHID *device_link() const { return usb; }
    CKorvel *console() const { return korvel; }
    CUDPInterface *udp_interface() const { return udp; }
    CWebSocketInterface *websocket_interface() const { return websocket; }
    QSystemTrayIcon *tray_icon() const { return trayIcon; }
    QMenu *tray_menu() const { return trayIconMenu; }
    quint64 rx_count() const { return rx; }
    quint64 tx_count() const { return tx; }
    PortMonitor *port_monitor() const { return ports; }
    QAction *start_at_login_action() const { return start_at_login; }
    // The line that says why the console or a port is not open; null until there first was something to say.
    QLabel *problem_label() const { return problem_line; }
    korvel::app::MqttService *mqtt_service() const { return mqtt; }

public slots:
    void on_checkBox_use_defaults_clicked();
    void on_checkBox_auto_connect_clicked();
    void closeEvent(QCloseEvent *event) override;
    void close_exit();
    void on_checkBox_use_defaults_ws_clicked();
    void setUdpPorts();
    void setWebSocketPort();
    void on_clients_udp(int nClients);
    void on_clients_ws(int nClients);
    void on_connected();
    void on_disconnected();
    void on_RX();
    void on_TX();

private:
    // Installs the port validators; called by the constructor right before readSettings().
    void setup_port_fields();
    // The tray menu's entries after the first two.
    void add_tray_actions();
    // Quit from the window itself, for desktops where the tray menu is out of reach.
    void add_window_actions();
    void on_tray_availability();
    void set_start_at_login(bool on);
    // Sockets on the user's ports: watched, and their failures shown at the port's field.
    void watch_ports();
    void show_port_problem(int watch, const QString &problem);
    // The counters' labels follow the counts at most every 100 ms, and at once when the link opens or closes.
    void schedule_counts();
    void show_counts();
    // The tray menu's shortcuts work only in the settings window, so the menus do not show them.
    void hide_window_only_shortcuts();
    // Why the console or a port is not open: a line under the window's form and the tray's tooltip, shown only
    // while there is something to say.
    void watch_link();
    void show_link_problem(const OpenProblem &problem);
    void show_problems();
    // Writes the settings at once after a change the user applied (not while they are being read).
    void save_applied();

    AppIdentity identity;
    Ui::MainWindow *ui;
    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *trayIconMenu = nullptr;
    bool closing = false;
    // 64-bit: at 1000 reports a second a 32-bit count overflows in under 25 days.
    quint64 tx = 0;
    quint64 rx = 0;
    CUSBHID *usb = nullptr;
    CKorvel *korvel = nullptr;
    CUDPInterface *udp = nullptr;
    CWebSocketInterface *websocket = nullptr;
    PortMonitor *ports = nullptr;
    korvel::app::MqttService *mqtt = nullptr;
    int websocket_watch = -1;
    int udp_watch = -1;
    QAction *start_at_login = nullptr;
    QTimer *tray_watch = nullptr;
    QTimer *counter_repaint = nullptr;
    QString link_problem;
    QLabel *problem_line = nullptr;
    // The form's fixed size; the problem line adds to it.
    QSize form_size;
    // Whether the window stands in for a missing tray: followed from present() on.
    bool tray_missing = false;
    // Shown at start or when the tray went away, not because the user asked for it.
    bool shown_for_missing_tray = false;
    bool reading_settings = false;
};
