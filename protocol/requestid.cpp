// The bounds of a client's "id".
#include "protocol/requestid.h"

#include "protocol/jsonargs.h"

namespace korvel::protocol {

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

} // namespace korvel::protocol
