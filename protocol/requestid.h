#pragma once

#include <QJsonValue>
#include <QString>

// The "id" a client may put on a message, to find it again on the reply: a string or a number, short enough
// that echoing it costs nothing (an id of any size would be copied into every reply and error it causes).
namespace korvel::protocol {

constexpr qsizetype max_request_id_length = 256;

// Whether id may be echoed; no id (undefined) is fine.
bool is_valid_request_id(const QJsonValue &id);
// Checks the "id" of a message about to be carried out: true when it may be echoed; otherwise id becomes
// undefined (the refusal carries none), error says why and the result is false.
bool check_request_id(QJsonValue &id, QString &error);

} // namespace korvel::protocol
