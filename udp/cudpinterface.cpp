#include "udp/cudpinterface.h"

#include "usb/cusbhid.h"

#include <QUdpSocket>

namespace {

// Ports are 16-bit on the wire; larger numbers wrap as their low 16 bits.
quint16 port16(int port)
{
    return static_cast<quint16>(port & 0xFFFF);
}

// A datagram needs the two marker bytes and at least two bytes after them.
constexpr qsizetype min_datagram_size = 4;

} // namespace

CUDPInterface::CUDPInterface(CUSBHID *usb, QObject *parent)
    : QObject(parent)
    , usb(usb)
    , socket(new QUdpSocket(this))
{
    connect(socket, &QUdpSocket::readyRead, this, &CUDPInterface::on_udp_data_ready);
    connect(usb, &CUSBHID::data_ready, this, &CUDPInterface::on_usb_data_ready);
}

void CUDPInterface::setRxPort(int port)
{
    listen_port = port;
    // Rebind every time, even to the same port: a failed earlier bind gets another chance.
    socket->close();
    socket->bind(QHostAddress::AnyIPv4, port16(listen_port));
}

void CUDPInterface::setTxPorts(int metering, int configuration, int custom)
{
    metering_port = metering;
    configuration_port = configuration;
    custom_port = custom;
}

quint16 CUDPInterface::bound_port() const
{
    return socket->localPort();
}

void CUDPInterface::on_usb_data_ready(QByteArray data)
{
    if (clients.isEmpty())
        return;

    // The bridge's own copy with the marker in front; other receivers keep the report unchanged.
    QByteArray datagram;
    datagram.reserve(data.size() + 2);
    datagram.append(marker).append(marker).append(data);
    const bool metering = data.size() >= 2 && data.at(1) == metering_type;

    // Walk a snapshot: removing an expired client from the live table must not disturb the walk. The copy is
    // shared, so it costs nothing unless a client expires.
    const QMap<QString, Client> snapshot = clients;
    for (auto it = snapshot.cbegin(); it != snapshot.cend(); ++it) {
        if (it->last_heard.elapsed() > client_timeout_ms) {
            clients.remove(it.key());
            emit nClientsConnected(static_cast<int>(clients.size()));
            continue;
        }
        socket->writeDatagram(datagram, it->address, port16(metering_port));
        if (!metering) {
            socket->writeDatagram(datagram, it->address, port16(configuration_port));
            socket->writeDatagram(datagram, it->address, port16(custom_port));
        }
    }
}

void CUDPInterface::on_udp_data_ready()
{
    while (socket->hasPendingDatagrams()) {
        const qint64 size = socket->pendingDatagramSize();
        QByteArray datagram(size > 0 ? size : 0, Qt::Uninitialized);
        QHostAddress sender;
        const qint64 read = socket->readDatagram(datagram.data(), datagram.size(), &sender);
        // A read error leaves nothing to handle; whatever still waits brings another notification.
        if (read < 0)
            return;
        datagram.truncate(read);
        handle_datagram(datagram, sender);
    }
}

void CUDPInterface::handle_datagram(const QByteArray &datagram, const QHostAddress &sender)
{
    // Malformed or anonymous datagrams are dropped one by one, so they cannot hold up those queued behind them.
    if (sender.isNull() || datagram.size() < min_datagram_size)
        return;
    if (datagram.at(0) != marker || datagram.at(1) != marker)
        return;

    refresh_client(sender);

    if (datagram.at(2) == 'K' && datagram.at(3) == 'A')
        return;
    // Everything after the marker is the output report; the link puts the report number in front.
    usb->write(QByteArray::fromRawData(datagram.constData() + 2, datagram.size() - 2));
}

void CUDPInterface::refresh_client(const QHostAddress &sender)
{
    // An IPv4 socket may still report its peers as IPv4-mapped IPv6 addresses; a client is its IPv4 address.
    bool is_ipv4 = false;
    const quint32 ipv4 = sender.toIPv4Address(&is_ipv4);
    const QHostAddress address = is_ipv4 ? QHostAddress(ipv4) : sender;
    const QString key = address.toString();

    auto it = clients.find(key);
    if (it != clients.end()) {
        it->last_heard.restart();
        return;
    }
    Client client{address, {}};
    client.last_heard.start();
    clients.insert(key, client);
    emit nClientsConnected(static_cast<int>(clients.size()));
}
