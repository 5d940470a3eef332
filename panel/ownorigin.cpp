// The panel's own origin.
#include "panel/ownorigin.h"

#include <QHostAddress>

#include <optional>

namespace korvel::panel {

namespace {
struct Authority {
    QString host;
    quint16 port;
};

// host[:port] or [v6][:port]; the port is 80 when absent, as for an http origin.
std::optional<Authority> split_authority(const QString &text)
{
    QString host = text;
    QString port;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        host = text.left(close + 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return std::nullopt;
            port = rest.mid(1);
        }
    } else if (const qsizetype colon = text.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        host = text.left(colon);
        port = text.mid(colon + 1);
    }
    bool number = true;
    const uint value = port.isEmpty() ? 80 : port.toUInt(&number);
    if (!number || value == 0 || value > 65535 || host.isEmpty() || (!port.isEmpty() && port.startsWith('+')))
        return std::nullopt;
    return Authority{host, static_cast<quint16>(value)};
}

bool names_this_machine(const QString &host, const QString &local_host_name)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    if (!local_host_name.isEmpty() && host.compare(local_host_name, Qt::CaseInsensitive) == 0)
        return true;
    // An address literal: dotted IPv4 (no shorthand forms) or bracketed IPv6.
    if (host.startsWith(QLatin1Char('[')))
        return host.endsWith(QLatin1Char(']')) &&
               QHostAddress(host.mid(1, host.size() - 2)).protocol() == QAbstractSocket::IPv6Protocol;
    const QHostAddress address(host);
    return address.protocol() == QAbstractSocket::IPv4Protocol && address.toString() == host;
}
} // namespace

bool is_own_origin(const QString &origin, const QByteArray &host, quint16 listening_port,
                   const QString &local_host_name)
{
    const QString prefix = QStringLiteral("http://");
    const QString authority = QString::fromLatin1(host);
    // Browsers send the origin in lower case; the Host as typed. Compared without regard to case.
    if (host.isEmpty() || origin.compare(prefix + authority, Qt::CaseInsensitive) != 0)
        return false;
    const std::optional<Authority> parts = split_authority(authority);
    return parts && parts->port == listening_port && names_this_machine(parts->host, local_host_name);
}

} // namespace korvel::panel
