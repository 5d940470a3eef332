#include "udp/cudpinterface.h"

#include "console/ckorvel.h"
#include "usb/cusbhid.h"

#include <QNetworkInterface>
#include <QRegularExpression>
#include <QUdpSocket>

namespace {

// Ports are 16-bit on the wire; larger numbers wrap as their low 16 bits.
quint16 port16(int port)
{
    return static_cast<quint16>(port & 0xFFFF);
}

// A datagram needs the two marker bytes and at least two bytes after them.
constexpr qsizetype min_datagram_size = 4;
// The console takes no output report longer than this; a longer one would be cut or refused by the device.
constexpr qsizetype max_report_size = CKorvel::output_report_length;
// Refused addresses remembered for the "table full" log; forgotten all at once beyond this many.
constexpr qsizetype max_refused_logged = 4096;

// An IPv4 socket may still report its peers as IPv4-mapped IPv6 addresses; a client is its IPv4 address.
QHostAddress plain_ipv4(const QHostAddress &sender)
{
    bool is_ipv4 = false;
    const quint32 ipv4 = sender.toIPv4Address(&is_ipv4);
    return is_ipv4 ? QHostAddress(ipv4) : sender;
}

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
    bound_once = true;
    // Rebind every time, even to the same port: a failed earlier bind gets another chance.
    socket->close();
    socket->bind(listen_address, port16(listen_port));
}

void CUDPInterface::set_listen_address(const QHostAddress &address)
{
    listen_address = address;
    if (bound_once)
        setRxPort(listen_port);
}

void CUDPInterface::set_allowed_senders(const QList<QPair<QHostAddress, int>> &subnets)
{
    allowed_senders = subnets;
    refusing_all = false;
}

void CUDPInterface::refuse_all_senders()
{
    allowed_senders.clear();
    refusing_all = true;
}

std::optional<QList<QPair<QHostAddress, int>>> CUDPInterface::parseSenderList(const QString &text, QString *error)
{
    // Four dotted decimal numbers (ASCII digits) only: the toolkit would also take shortened and hexadecimal
    // forms ("127.1"), which nobody means to type into an access list.
    static const QRegularExpression entry_form(
        QStringLiteral(R"(^([0-9]{1,3}(?:\.[0-9]{1,3}){3})(?:/([0-9]{1,2}|[0-9]{1,3}(?:\.[0-9]{1,3}){3}))?$)"));
    static const QRegularExpression separators(QStringLiteral(R"([,\s]+)"));

    QList<QPair<QHostAddress, int>> subnets;
    for (const QString &entry : text.split(separators, Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = entry_form.match(entry);
        QPair<QHostAddress, int> subnet{QHostAddress(), -1};
        if (match.hasMatch()) {
            if (match.capturedLength(2) == 0)
                subnet = {QHostAddress(match.captured(1)), 32};
            else
                subnet = QHostAddress::parseSubnet(entry);
        }
        if (subnet.first.protocol() != QAbstractSocket::IPv4Protocol || subnet.second < 0 || subnet.second > 32) {
            if (error)
                *error = QStringLiteral("\"%1\" is not an IPv4 address or subnet (for example 192.168.1.20 or "
                                        "192.168.1.0/24)")
                             .arg(entry);
            return std::nullopt;
        }
        subnets.append(subnet);
    }
    if (error)
        error->clear();
    return subnets;
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
        quint16 sender_port = 0;
        const qint64 read = socket->readDatagram(datagram.data(), datagram.size(), &sender, &sender_port);
        // A read error leaves nothing to handle; whatever still waits brings another notification.
        if (read < 0)
            return;
        datagram.truncate(read);
        handle_datagram(datagram, sender, sender_port);
    }
}

void CUDPInterface::handle_datagram(const QByteArray &datagram, const QHostAddress &sender)
{
    handle_datagram(datagram, sender, 0);
}

void CUDPInterface::handle_datagram(const QByteArray &datagram, const QHostAddress &sender, quint16 sender_port)
{
    // Malformed or anonymous datagrams are dropped one by one, so they cannot hold up those queued behind them.
    if (sender.isNull() || datagram.size() < min_datagram_size)
        return;
    if (datagram.at(0) != marker || datagram.at(1) != marker)
        return;
    const QHostAddress address = plain_ipv4(sender);
    // With the listen port equal to a destination port, every report sent to a client on this machine comes
    // back here; written to the console it would be taken for a command.
    if (is_own_socket(address, sender_port))
        return;
    if (!is_allowed(address))
        return;

    const bool keep_alive = datagram.at(2) == 'K' && datagram.at(3) == 'A';
    // The device would cut or refuse a longer report; none of the console's commands needs more bytes.
    if (!keep_alive && datagram.size() - 2 > max_report_size)
        return;

    if (!refresh_client(address))
        return;
    if (keep_alive)
        return;
    // Everything after the marker is the output report; the link puts the report number in front.
    usb->write(QByteArray::fromRawData(datagram.constData() + 2, datagram.size() - 2));
}

bool CUDPInterface::is_own_socket(const QHostAddress &address, quint16 port) const
{
    const quint16 own_port = socket->localPort();
    if (port == 0 || port != own_port)
        return false;
    // Only this machine can send from the bridge's own address and port; a peer elsewhere may well use the same
    // port number. The interface list is read only in this rare case.
    return address.isLoopback() || QNetworkInterface::allAddresses().contains(address);
}

bool CUDPInterface::is_allowed(const QHostAddress &address) const
{
    if (allowed_senders.isEmpty())
        return !refusing_all;
    for (const auto &subnet : allowed_senders) {
        if (address.isInSubnet(subnet))
            return true;
    }
    return false;
}

bool CUDPInterface::refresh_client(const QHostAddress &address)
{
    const QString key = address.toString();
    auto it = clients.find(key);
    if (it != clients.end()) {
        it->last_heard.restart();
        return true;
    }
    // A full table may still hold clients that have expired but were not dropped yet (no report came since).
    if (clients.size() >= max_clients && !remove_expired()) {
        log_table_full(key);
        return false;
    }
    Client client{address, {}};
    client.last_heard.start();
    clients.insert(key, client);
    emit nClientsConnected(static_cast<int>(clients.size()));
    return true;
}

bool CUDPInterface::remove_expired()
{
    bool removed = false;
    for (auto it = clients.begin(); it != clients.end();) {
        if (it->last_heard.elapsed() > client_timeout_ms) {
            it = clients.erase(it);
            removed = true;
            emit nClientsConnected(static_cast<int>(clients.size()));
        } else {
            ++it;
        }
    }
    return removed;
}

void CUDPInterface::log_table_full(const QString &key)
{
    // Once per address and at most once a second: a flood of forged senders must not flood the log instead.
    if (refused_logged.contains(key))
        return;
    if (last_full_log.isValid() && last_full_log.elapsed() < full_log_interval_ms)
        return;
    last_full_log.start();
    if (refused_logged.size() >= max_refused_logged)
        refused_logged.clear();
    refused_logged.insert(key);
    qWarning("UDP client table full (%d clients): ignoring datagrams from %s", max_clients, qPrintable(key));
}
