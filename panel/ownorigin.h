#pragma once

#include <QByteArray>
#include <QString>

// Whether a WebSocket handshake comes from the panel this application served: its Origin is "http://" + the
// Host it was sent to, that host names this machine in a way no other site can take over (an IP address,
// "localhost" or the machine's own host name) and the port is the one listened on. A page of another site
// whose name was made to resolve to this machine (DNS rebinding) carries that site's name in Origin and Host,
// and stays out.
namespace korvel::panel {

// local_host_name: this machine's name (QHostInfo::localHostName()), compared in any letter case.
bool is_own_origin(const QString &origin, const QByteArray &host, quint16 listening_port,
                   const QString &local_host_name);

} // namespace korvel::panel
