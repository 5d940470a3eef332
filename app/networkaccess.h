#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class CUDPInterface;
class CWebSocketInterface;
class QMenu;
class QSettings;
class QSystemTrayIcon;
class QWidget;

// Who may reach the WebSocket server and the UDP bridge: listen address, allowed web origins, password,
// allowed UDP senders and whether the browser panel is served, kept in the settings store under keys of their own.
// Nothing set (the default) keeps every exchange as it always was.
namespace korvel::app {

struct NetworkAccess {
    // Empty: every IPv4 interface.
    QString listen_address;
    QStringList allowed_origins;
    // Only the salted secret is stored, never the password (websocket/authentication.h).
    QByteArray password_secret;
    QByteArray password_salt;
    // Addresses or subnets in CIDR form ("192.168.10.0/24").
    QStringList allowed_udp_senders;
    // Bounds on the WebSocket connections, in all and per remote address.
    int max_connections = 512;
    int max_connections_per_address = 32;
    // Whether plain HTTP requests on the WebSocket port get the browser panel (docs/security.md says why on).
    bool serve_panel = true;

    static NetworkAccess load(const QSettings &settings);
    void save(QSettings &settings) const;
};

// The address to listen on for a stored text: every IPv4 interface for an empty text; the stored address when
// the machine has it (or it is 127.0.0.1); otherwise 127.0.0.1, and warning tells why. Never every interface
// for an address that is gone.
QHostAddress listen_address_for(const QString &stored, const QList<QHostAddress> &machine, QString *warning);
// The machine's own IPv4 addresses.
QList<QHostAddress> machine_addresses();
// Addresses and subnets; a text that is neither is left out and listed in invalid.
QList<QPair<QHostAddress, int>> parse_senders(const QStringList &texts, QStringList *invalid);
// Why a text is no web origin as browsers send it (scheme://host, an optional :port, nothing after it); empty
// for a valid one.
QString origin_problem(const QString &text);
// The entries of a list that are invalid, by the reading of each list.
QStringList invalid_origins(const QStringList &origins);
// What to say about stored lists that allow nobody because none of their entries is valid; empty when none.
QString list_warnings(const NetworkAccess &access);

// Applies the stored access settings to the server and the bridge. Returns a warning to show, or nothing.
QString apply(const NetworkAccess &access, CWebSocketInterface *websocket, CUDPInterface *udp);

// Applies the stored settings at start and offers the "Network access" dialog from the tray menu (after its
// other entries) and from the settings window (Ctrl+Shift+N, and its context menu).
void install_network_access(QWidget *window, QMenu *tray_menu, QSystemTrayIcon *tray, CWebSocketInterface *websocket,
                            CUDPInterface *udp);

} // namespace korvel::app
