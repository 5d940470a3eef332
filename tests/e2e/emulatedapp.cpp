#include "emulatedapp.h"

#include "app/mainwindow.h"
#include "console/ckorvel.h"
#include "emulator/emulateddevice.h"
#include "usb/cusbhid.h"

#include <QNetworkDatagram>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

namespace e2e {

namespace {

emulator::EmulatedDevice &device()
{
    return emulator::EmulatedDevice::instance();
}

void drain(QUdpSocket &socket, QList<QByteArray> &record)
{
    while (socket.hasPendingDatagrams())
        record.append(socket.receiveDatagram().data());
}

} // namespace

quint16 free_tcp_port()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::AnyIPv4, 0))
        return 0;
    return probe.serverPort();
}

quint16 free_udp_port()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::AnyIPv4, 0))
        return 0;
    return probe.localPort();
}

std::unique_ptr<QTemporaryDir> isolate_settings()
{
    auto dir = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", dir->path().toLocal8Bit());
    return dir;
}

void write_settings(const Ports &ports)
{
    // The names the window gives the application, so this is the store it reads.
    QSettings settings(QStringLiteral("Velmora"), QStringLiteral("Korvel Control"));
    settings.clear();
    settings.setValue("udp_default_ports", false);
    settings.setValue("udp_metering_port", ports.udp_metering);
    settings.setValue("udp_config_port", ports.udp_config);
    settings.setValue("udp_custom_port", ports.udp_custom);
    settings.setValue("udp_listen_port", ports.udp_listen);
    settings.setValue("auto_connect", true);
    settings.setValue("ws_default_port", false);
    settings.setValue("ws_port", ports.websocket);
    settings.sync();
}

UdpClient::UdpClient()
{
    metering.bind(QHostAddress::LocalHost, 0);
    config.bind(QHostAddress::LocalHost, 0);
    custom.bind(QHostAddress::LocalHost, 0);
}

void UdpClient::send(const QByteArray &datagram, quint16 listen_port)
{
    metering.writeDatagram(datagram, QHostAddress::LocalHost, listen_port);
}

void UdpClient::collect()
{
    drain(metering, on_metering);
    drain(config, on_config);
    drain(custom, on_custom);
}

EmulatedApp::EmulatedApp(bool console_plugged, const UdpClient *udp_client, bool first_start, quint16 websocket_port)
{
    device().reset();
    device().set_present(console_plugged);
    device().set_model(&model);

    if (first_start) {
        QSettings(QStringLiteral("Velmora"), QStringLiteral("Korvel Control")).clear();
        ports = {19552, 19551, 19548, 19549, 19550};
    } else {
        ports.websocket = websocket_port ? websocket_port : free_tcp_port();
        ports.udp_listen = free_udp_port();
        if (udp_client) {
            ports.udp_metering = udp_client->metering_port();
            ports.udp_config = udp_client->config_port();
            ports.udp_custom = udp_client->custom_port();
        } else {
            // Nobody listens there: what the bridge sends is lost, as it should be.
            ports.udp_metering = free_udp_port();
            ports.udp_config = free_udp_port();
            ports.udp_custom = free_udp_port();
        }
        write_settings(ports);
    }

    window = std::make_unique<MainWindow>();
}

EmulatedApp::~EmulatedApp()
{
    // The window closes the link and the sockets before the console model goes.
    window.reset();
}

bool EmulatedApp::wait_until_synchronised(int timeout_ms)
{
    const CKorvel *console = window->console();
    return QTest::qWaitFor(
        [&] {
            if (!window->device_link()->is_connected() || device().pending_input() > 0)
                return false;
            const auto ids = emulator::ConsoleModel::reported_ids();
            return std::all_of(ids.cbegin(), ids.cend(),
                               [&](unsigned char id) { return !console->cached(id).isEmpty(); });
        },
        timeout_ms);
}

bool EmulatedApp::wait_until_drained(int timeout_ms)
{
    return QTest::qWaitFor([] { return device().pending_input() == 0; }, timeout_ms);
}

} // namespace e2e
