// Defaults of the broker settings that depend on the machine.
#include "mqtt/settings.h"

#include <QSysInfo>

namespace korvel::mqtt {

QString Settings::effective_prefix() const
{
    QString p = prefix.trimmed();
    // A trailing slash would put an empty level into every topic.
    while (p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p.isEmpty() ? default_prefix() : p;
}

QString Settings::effective_client_id() const
{
    return client_id.isEmpty() ? default_client_id() : client_id;
}

QString Settings::default_prefix()
{
    return prefix_for(QStringLiteral("korvel"));
}

QString Settings::prefix_for(const QString &name)
{
    return name + QLatin1Char('/') + QSysInfo::machineHostName();
}

QString Settings::default_client_id()
{
    return client_id_for(QStringLiteral("korvel"));
}

QString Settings::client_id_for(const QString &name)
{
    return name + QLatin1Char('-') + QSysInfo::machineHostName();
}

} // namespace korvel::mqtt
