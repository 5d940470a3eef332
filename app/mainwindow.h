#pragma once

#include <QMainWindow>

class CKorvel;
class CUDPInterface;
class CUSBHID;
class CWebSocketInterface;
class QCloseEvent;
class QMenu;
class QSystemTrayIcon;

namespace Ui {
class MainWindow;
}

// The tray application's one window: owns every component for the whole run, shows the link status and
// traffic, and keeps the ports and auto-connect across runs.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

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
};
