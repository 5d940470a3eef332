#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

// The frame every message of the protocol has, whatever carries it: "data" and "msg", and on a reply or error
// the "id" of the request it answers when that request had one.
namespace korvel::protocol {

// Largest request any transport takes: far above any valid command.
constexpr qint64 max_request_size = 1024 * 1024;

// A notification: "data" and "msg", nothing else.
QJsonObject notification(const QString &msg, const QJsonValue &data);
// A reply to a request; id undefined: the request had none, and the reply keeps the bytes it had before ids.
QJsonObject reply(const QString &msg, const QJsonValue &data, const QJsonValue &id);
// The refusal of a request: "error" with the text as "data".
QJsonObject error(const QString &text, const QJsonValue &id);

} // namespace korvel::protocol
