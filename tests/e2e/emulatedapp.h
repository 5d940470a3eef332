#pragma once

#include "emulator/consolemodel.h"

#include <QList>
#include <QString>
#include <QUdpSocket>

#include <memory>

class MainWindow;
class QTemporaryDir;

namespace e2e {

// The ports the application under test is told to use, all free on loopback when chosen.
struct Ports {
    quint16 websocket = 0;
    quint16 udp_listen = 0;
    quint16 udp_metering = 0;
    quint16 udp_config = 0;
    quint16 udp_custom = 0;
};

// A TCP port nobody listens on right now (bound to port 0, then released).
quint16 free_tcp_port();
// A UDP port nobody is bound to right now.
quint16 free_udp_port();

// Points the settings store at a fresh directory for the rest of the process, so a tool run by hand never
// touches the user's own settings. Call before the application object exists.
std::unique_ptr<QTemporaryDir> isolate_settings();

// Writes what the window reads at start: the given ports, no use-default switches, auto-connect on.
void write_settings(const Ports &ports);

// A UDP client of the bridge: three sockets bound on loopback that receive on the metering, configuration
// and custom ports, every datagram recorded per port in arrival order.
class UdpClient {
public:
    UdpClient();
    quint16 metering_port() const { return metering.localPort(); }
    quint16 config_port() const { return config.localPort(); }
    quint16 custom_port() const { return custom.localPort(); }

    // Sends one datagram from the metering socket to the bridge's listen port.
    void send(const QByteArray &datagram, quint16 listen_port);
    // Reads what has arrived on each socket into the records.
    void collect();

    QList<QByteArray> on_metering;
    QList<QByteArray> on_config;
    QList<QByteArray> on_custom;

private:
    QUdpSocket metering;
    QUdpSocket config;
    QUdpSocket custom;
};

// The whole application on the emulated console, in this process: the console model behind the emulated
// device, the settings written with free ports, and the main window with every component it owns.
class EmulatedApp {
public:
    // console_plugged false starts with the console unplugged, so a test sees the link open.
    // udp_client, if given, receives the bridge's datagrams (its ports go into the settings).
    // first_start leaves the settings store empty instead: the window shows and uses the default ports.
    // websocket_port, if not 0, is the WebSocket port to use (a restarted application on its old port).
    explicit EmulatedApp(bool console_plugged = true, const UdpClient *udp_client = nullptr, bool first_start = false,
                         quint16 websocket_port = 0);
    ~EmulatedApp();
    EmulatedApp(const EmulatedApp &) = delete;
    EmulatedApp &operator=(const EmulatedApp &) = delete;

    // Waits until the link is open and the console has answered every start-up request: every item the
    // console reports is in the report cache and nothing is left to read.
    bool wait_until_synchronised(int timeout_ms = 10000);
    // Waits until the host has read everything the console sent.
    bool wait_until_drained(int timeout_ms = 10000);

    emulator::ConsoleModel model;
    Ports ports;
    std::unique_ptr<MainWindow> window;
};

} // namespace e2e
