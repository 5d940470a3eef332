// The MQTT client's settings in the store: one table of keys, read with their types and ranges checked.
#include "app/mqttconfig.h"

#include <QObject>
#include <QSettings>

#include <variant>

namespace korvel::app {

const QString mqtt_password_key = QStringLiteral("mqtt_password");

namespace {

struct IntRange {
    int low;
    int high;
};

// One stored key: its name, the member it fills, and for numbers the values it may take.
struct StoredKey {
    const char *key;
    std::variant<bool MqttConfig::*, int MqttConfig::*, QString MqttConfig::*> member;
    IntRange range = {0, 0};
};

// In the order the store lists them.
const StoredKey stored_keys[] = {
    {"mqtt_enabled", &MqttConfig::enabled},
    {"mqtt_host", &MqttConfig::host},
    {"mqtt_port", &MqttConfig::port, {0, MqttConfig::max_port}},
    {"mqtt_tls", &MqttConfig::tls},
    {"mqtt_ca_file", &MqttConfig::ca_file},
    {"mqtt_client_cert", &MqttConfig::client_cert},
    {"mqtt_client_key", &MqttConfig::client_key},
    {"mqtt_user", &MqttConfig::user},
    {"mqtt_prefix", &MqttConfig::prefix},
    {"mqtt_client_id", &MqttConfig::client_id},
    {"mqtt_metering_rate", &MqttConfig::metering_rate, {0, MqttConfig::max_metering_rate}},
};

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

} // namespace

MqttConfig MqttConfig::load(const QSettings &settings)
{
    MqttConfig config;
    for (const StoredKey &stored : stored_keys) {
        const QString key = QString::fromLatin1(stored.key);
        if (!settings.contains(key))
            continue;
        const QVariant value = settings.value(key);
        std::visit(Overloaded{
                       [&](bool MqttConfig::*member) {
                           // The native store keeps text: "true"/"false" as written, anything else is not a switch.
                           const QString text = value.toString();
                           if (value.typeId() == QMetaType::Bool || text == QLatin1String("true") ||
                               text == QLatin1String("false"))
                               config.*member = value.toBool();
                       },
                       [&](int MqttConfig::*member) {
                           // Read wide: a narrowing read would wrap a huge number into the range.
                           bool ok = false;
                           const qlonglong number = value.toLongLong(&ok);
                           if (ok && number >= stored.range.low && number <= stored.range.high)
                               config.*member = int(number);
                       },
                       [&](QString MqttConfig::*member) { config.*member = value.toString().trimmed(); },
                   },
                   stored.member);
    }
    return config;
}

void MqttConfig::save(QSettings &settings) const
{
    for (const StoredKey &stored : stored_keys) {
        std::visit([&](auto member) { settings.setValue(QString::fromLatin1(stored.key), this->*member); },
                   stored.member);
    }
}

korvel::mqtt::Settings MqttConfig::broker(const QString &password) const
{
    korvel::mqtt::Settings settings;
    settings.host = host;
    settings.port = port;
    settings.tls = tls;
    settings.ca_file = ca_file;
    settings.client_cert = client_cert;
    settings.client_key = client_key;
    settings.user = user;
    settings.password = password;
    settings.prefix = prefix;
    settings.client_id = client_id;
    return settings;
}

MqttConfigProblems check(const MqttConfig &config)
{
    MqttConfigProblems problems;
    if (config.enabled && config.host.trimmed().isEmpty())
        problems.host = QObject::tr("Enter the broker's name or address.");
    else if (config.host.trimmed().contains(QLatin1Char(' ')))
        problems.host = QObject::tr("A host name has no spaces.");
    if (config.port < 0 || config.port > MqttConfig::max_port)
        problems.port =
            QObject::tr("A port is a number from 1 to %1; empty or 0 takes the usual port.").arg(MqttConfig::max_port);
    const QString prefix = config.prefix.trimmed();
    if (prefix.contains(QLatin1Char('+')) || prefix.contains(QLatin1Char('#')))
        problems.prefix = QObject::tr("A topic prefix cannot contain + or #: they are wildcards.");
    else if (prefix.startsWith(QLatin1Char('/')))
        problems.prefix = QObject::tr("A topic prefix cannot start with /.");
    else if (prefix.contains(QStringLiteral("//")))
        problems.prefix = QObject::tr("A topic prefix cannot have an empty level (//).");
    if (config.client_cert.trimmed().isEmpty() != config.client_key.trimmed().isEmpty())
        problems.client_key = QObject::tr("A client certificate and its key are given together.");
    return problems;
}

} // namespace korvel::app
