// The network access settings: stored form, checks and applying them to the server and the bridge.
#include "app/networkaccess.h"

#include "app/networkaccessdialog.h"
#include "app/privatestore.h"
#include "app/traytitle.h"
#include "udp/cudpinterface.h"
#include "websocket/cwebsocketinterface.h"

#include <QAction>
#include <QDebug>
#include <QFile>
#include <QMenu>
#include <QNetworkInterface>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QUrl>
#include <QWidget>

namespace korvel::app {

namespace {
const QString key_listen_address = QStringLiteral("network_listen_address");
const QString key_allowed_origins = QStringLiteral("ws_allowed_origins");
const QString key_password_secret = QStringLiteral("ws_password_secret");
const QString key_password_salt = QStringLiteral("ws_password_salt");
const QString key_allowed_udp_senders = QStringLiteral("udp_allowed_senders");
const QString key_max_connections = QStringLiteral("ws_max_connections");
const QString key_max_connections_per_address = QStringLiteral("ws_max_connections_per_address");
const QString key_serve_panel = QStringLiteral("ws_serve_panel");
constexpr int warning_ms = 30000;
} // namespace

NetworkAccess NetworkAccess::load(const QSettings &settings)
{
    NetworkAccess access;
    access.listen_address = settings.value(key_listen_address).toString().trimmed();
    access.allowed_origins = settings.value(key_allowed_origins).toStringList();
    access.password_secret = settings.value(key_password_secret).toByteArray();
    access.password_salt = settings.value(key_password_salt).toByteArray();
    access.allowed_udp_senders = settings.value(key_allowed_udp_senders).toStringList();
    // A number below 1 (or no number) would leave the server without a bound: the default instead.
    const auto bound = [&](const QString &key, int fallback) {
        const int stored = settings.value(key, fallback).toInt();
        return stored > 0 ? stored : fallback;
    };
    access.max_connections = bound(key_max_connections, access.max_connections);
    access.max_connections_per_address = bound(key_max_connections_per_address, access.max_connections_per_address);
    access.serve_panel = settings.value(key_serve_panel, access.serve_panel).toBool();
    return access;
}

void NetworkAccess::save(QSettings &settings) const
{
    settings.setValue(key_listen_address, listen_address);
    settings.setValue(key_allowed_origins, allowed_origins);
    settings.setValue(key_password_secret, password_secret);
    settings.setValue(key_password_salt, password_salt);
    settings.setValue(key_allowed_udp_senders, allowed_udp_senders);
    settings.setValue(key_max_connections, max_connections);
    settings.setValue(key_max_connections_per_address, max_connections_per_address);
    settings.setValue(key_serve_panel, serve_panel);
}

QHostAddress listen_address_for(const QString &stored, const QList<QHostAddress> &machine, QString *warning)
{
    if (stored.isEmpty())
        return QHostAddress(QHostAddress::AnyIPv4);
    const QHostAddress address(stored);
    const QHostAddress local(QHostAddress::LocalHost);
    if (address == local || (!address.isNull() && machine.contains(address)))
        return address;
    if (warning)
        *warning = QStringLiteral("The listen address %1 is not an address of this machine any more; listening on "
                                  "this machine only (127.0.0.1).")
                       .arg(stored);
    return local;
}

QList<QHostAddress> machine_addresses()
{
    QList<QHostAddress> addresses;
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            addresses.append(address);
    }
    return addresses;
}

QList<QPair<QHostAddress, int>> parse_senders(const QStringList &texts, QStringList *invalid)
{
    // The bridge's own reading of an entry, so the dialog accepts exactly what the bridge does.
    QList<QPair<QHostAddress, int>> senders;
    for (const QString &raw : texts) {
        const QString text = raw.trimmed();
        if (text.isEmpty())
            continue;
        if (const auto subnets = CUDPInterface::parseSenderList(text))
            senders.append(*subnets);
        else if (invalid)
            invalid->append(text);
    }
    return senders;
}

QString origin_problem(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return QObject::tr("not a web origin (scheme://host or scheme://host:port)");
    if (!url.path().isEmpty() || url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty())
        return QObject::tr("an origin has no path, query or user name");
    return QString();
}

QStringList invalid_origins(const QStringList &origins)
{
    QStringList invalid;
    for (const QString &origin : origins) {
        if (!origin_problem(origin.trimmed()).isEmpty())
            invalid.append(origin);
    }
    return invalid;
}

QString list_warnings(const NetworkAccess &access)
{
    // An invalid entry never matches, so a list of nothing but invalid entries lets nobody in: said, since
    // whoever stored it meant to let someone in.
    QStringList warnings;
    QStringList invalid;
    if (!access.allowed_udp_senders.isEmpty() && parse_senders(access.allowed_udp_senders, &invalid).isEmpty())
        warnings.append(QObject::tr("None of the allowed UDP senders is a valid address or subnet (%1): the UDP "
                                    "bridge accepts no sender.")
                            .arg(invalid.join(QStringLiteral(", "))));
    const QStringList bad_origins = invalid_origins(access.allowed_origins);
    if (!access.allowed_origins.isEmpty() && bad_origins.size() == access.allowed_origins.size())
        warnings.append(QObject::tr("None of the allowed web origins is valid (%1): no web page can connect.")
                            .arg(bad_origins.join(QStringLiteral(", "))));
    return warnings.join(QLatin1Char('\n'));
}

QString apply(const NetworkAccess &access, CWebSocketInterface *websocket, CUDPInterface *udp)
{
    QString warning;
    const QHostAddress address = listen_address_for(access.listen_address, machine_addresses(), &warning);
    // Only a change restarts the server, so the defaults leave its start exactly as it was.
    if (websocket->listen_address() != address)
        websocket->set_listen_address(address);
    websocket->set_allowed_origins(access.allowed_origins);
    websocket->set_password_secret(access.password_secret, access.password_salt);
    websocket->set_connection_limits(access.max_connections, access.max_connections_per_address);
    websocket->set_serve_panel(access.serve_panel);
    udp->set_listen_address(address);
    const auto senders = parse_senders(access.allowed_udp_senders, nullptr);
    if (senders.isEmpty() && !access.allowed_udp_senders.isEmpty())
        udp->refuse_all_senders();
    else
        udp->set_allowed_senders(senders);
    if (const QString lists = list_warnings(access); !lists.isEmpty())
        warning = warning.isEmpty() ? lists : warning + QLatin1Char('\n') + lists;
    if (!warning.isEmpty())
        qWarning().noquote() << warning;
    return warning;
}

void install_network_access(QWidget *window, QMenu *tray_menu, QSystemTrayIcon *tray, CWebSocketInterface *websocket,
                            CUDPInterface *udp)
{
    {
        // A store written before it was kept private may still be readable by others.
        QSettings settings;
        if (QFile::exists(settings.fileName()))
            restrict_store(settings);
    }
    const QString warning = apply(NetworkAccess::load(QSettings()), websocket, udp);
    if (!warning.isEmpty() && tray)
        tray->showMessage(tray_title(tray), warning, QSystemTrayIcon::Warning, warning_ms);

    auto *action = new QAction(QObject::tr("Network access"), window);
    action->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+N")));
    action->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(action, &QAction::triggered, window, [window, websocket, udp] {
        NetworkAccessDialog dialog(websocket, window);
        if (dialog.exec() != QDialog::Accepted)
            return;
        QSettings settings;
        dialog.access().save(settings);
        restrict_store(settings);
        // The dialog offers only addresses the machine has, so there is nothing to warn of here.
        apply(dialog.access(), websocket, udp);
    });
    tray_menu->addAction(action);
    // On the settings window: its shortcut, and a right click anywhere on it; its widgets stay as they are.
    window->addAction(action);
    window->setContextMenuPolicy(Qt::ActionsContextMenu);
}

} // namespace korvel::app
