// The bounds of a client's "id".
#include "websocket/requestid.h"

#include "websocket/jsonargs.h"

namespace korvel::websocket {

bool is_valid_request_id(const QJsonValue &id)
{
    return id.isUndefined() || id.isDouble() || (id.isString() && id.toString().size() <= max_request_id_length);
}

bool check_request_id(QJsonValue &id, QString &error)
{
    if (is_valid_request_id(id))
        return true;
    id = QJsonValue(QJsonValue::Undefined);
    error = jsonargs::invalid_type(QStringLiteral("id"), jsonargs::Expected::RequestId);
    return false;
}

} // namespace korvel::websocket
