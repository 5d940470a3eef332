// The frame of the protocol's messages.
#include "protocol/envelope.h"

namespace korvel::protocol {

QJsonObject notification(const QString &msg, const QJsonValue &data)
{
    return QJsonObject{{QStringLiteral("data"), data}, {QStringLiteral("msg"), msg}};
}

QJsonObject reply(const QString &msg, const QJsonValue &data, const QJsonValue &id)
{
    QJsonObject message = notification(msg, data);
    if (!id.isUndefined())
        message.insert(QStringLiteral("id"), id);
    return message;
}

QJsonObject error(const QString &text, const QJsonValue &id)
{
    return reply(QStringLiteral("error"), text, id);
}

} // namespace korvel::protocol
