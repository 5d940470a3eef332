#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>

#include <optional>

#include "net/defaultports.h"

class CUSBHID;
class QUdpSocket;

// Raw bridge between the console and UDP clients: every input report goes to every live client, every
// datagram received on the listen port goes to the console. Clients register by sending any valid datagram.
class CUDPInterface : public QObject {
    Q_OBJECT

public:
    CUDPInterface(CUSBHID *usb, QObject *parent);

    void setRxPort(int port);
    void setTxPorts(int metering, int configuration, int custom);
    // The address the listen socket binds to (every IPv4 interface by default). Rebinds at once, at the current
    // listen port, when the socket has been bound before; otherwise the next setRxPort uses it.
    void set_listen_address(const QHostAddress &address);
    // Subnets (address, prefix length) whose datagrams are accepted; an empty list accepts every sender.
    // Datagrams from elsewhere are ignored and register nobody.
    void set_allowed_senders(const QList<QPair<QHostAddress, int>> &subnets);
    // A list was stored but none of its entries is valid: no sender is accepted until a valid list is set.
    void refuse_all_senders();
    // Reads the text form of an allowed-sender list, "10.0.0.5, 192.168.1.0/24": IPv4 addresses and subnets
    // separated by commas or white space; an empty text is the empty list. On a bad entry returns nothing and,
    // when error is given, a message naming the entry.
    static std::optional<QList<QPair<QHostAddress, int>>> parseSenderList(const QString &text,
                                                                          QString *error = nullptr);

    // A client not heard from for longer than this is dropped at the next forwarded report.
    static constexpr qint64 default_client_timeout_ms = 20000;
    void set_client_timeout(qint64 ms) { client_timeout_ms = ms; }
    int client_count() const { return static_cast<int>(clients.size()); }
    // Upper bound of the client table: a new address is ignored while it is full, so forged senders cannot make
    // it grow, nor multiply the datagrams sent per report.
    static constexpr int max_clients = 64;
    // At most one "table full" line is logged in this many milliseconds.
    static constexpr qint64 full_log_interval_ms = 1000;
    // The port the socket is bound to (the system's choice for port 0); 0 while unbound.
    quint16 bound_port() const;

    // Every datagram in either direction starts with these two bytes.
    static constexpr char marker = static_cast<char>(0xA0);
    // Type byte of a level-meter report: these go to the metering port only.
    static constexpr char metering_type = static_cast<char>(0xF0);

    // Handles one datagram received on the listen port from sender: registers or refreshes the client and
    // writes the output report it carries to the console. on_udp_data_ready() calls it for each datagram.
    // Datagrams from the bridge's own socket (sender_port equal to the bound port, from this machine) are
    // reflections of forwarded reports and are ignored.
    void handle_datagram(const QByteArray &datagram, const QHostAddress &sender, quint16 sender_port);
    // The same, for a sender whose port is not known: it is never taken for the bridge's own socket.
    void handle_datagram(const QByteArray &datagram, const QHostAddress &sender);

signals:
    void nClientsConnected(int n);

public slots:
    void on_usb_data_ready(QByteArray data);
    void on_udp_data_ready();

private:
    struct Client {
        // Kept beside the text key so forwarding a report needs no address parsing.
        QHostAddress address;
        // (Re)started by the client's last valid datagram.
        QElapsedTimer last_heard;
    };

    // Registers or refreshes the client; false when the table is full and the address is new.
    bool refresh_client(const QHostAddress &address);
    bool is_allowed(const QHostAddress &address) const;
    bool is_own_socket(const QHostAddress &address, quint16 port) const;
    // Drops the clients that have been silent for longer than the timeout; returns whether any went.
    bool remove_expired();
    void log_table_full(const QString &key);

    CUSBHID *usb;
    QUdpSocket *socket;
    // Keyed by the dotted IPv4 text, so clients are served in ascending text order.
    QMap<QString, Client> clients;
    int metering_port = korvel::ports::udp_metering;
    int configuration_port = korvel::ports::udp_configuration;
    int custom_port = korvel::ports::udp_custom;
    int listen_port = korvel::ports::udp_listen;
    qint64 client_timeout_ms = default_client_timeout_ms;
    QHostAddress listen_address{QHostAddress::AnyIPv4};
    bool bound_once = false;
    QList<QPair<QHostAddress, int>> allowed_senders;
    bool refusing_all = false;
    // Addresses already logged as refused for a full table, and when the last such line was written.
    QSet<QString> refused_logged;
    QElapsedTimer last_full_log;
};
