#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>

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
    // Access control, kept for the bridge: the address to listen on and the senders (address, prefix length)
    // that may register; an empty list allows every sender.
    void setListenAddress(const QHostAddress &address) { listen_address = address; }
    void setAllowedSenders(const QList<QPair<QHostAddress, int>> &senders) { allowed_senders = senders; }

    // A client not heard from for longer than this is dropped at the next forwarded report.
    static constexpr qint64 default_client_timeout_ms = 20000;
    void set_client_timeout(qint64 ms) { client_timeout_ms = ms; }
    int client_count() const { return static_cast<int>(clients.size()); }
    // The port the socket is bound to (the system's choice for port 0); 0 while unbound.
    quint16 bound_port() const;

    // Every datagram in either direction starts with these two bytes.
    static constexpr char marker = static_cast<char>(0xA0);
    // Type byte of a level-meter report: these go to the metering port only.
    static constexpr char metering_type = static_cast<char>(0xF0);

    // Handles one datagram received on the listen port from sender: registers or refreshes the client and
    // writes the output report it carries to the console. on_udp_data_ready() calls it for each datagram.
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

    void refresh_client(const QHostAddress &sender);

    CUSBHID *usb;
    QUdpSocket *socket;
    // Keyed by the dotted IPv4 text, so clients are served in ascending text order.
    QMap<QString, Client> clients;
    int metering_port = 19548;
    int configuration_port = 19549;
    int custom_port = 19550;
    int listen_port = 19551;
    qint64 client_timeout_ms = default_client_timeout_ms;
    QHostAddress listen_address{QHostAddress::AnyIPv4};
    QList<QPair<QHostAddress, int>> allowed_senders;
};
