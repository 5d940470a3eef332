#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

#include <optional>

// The head of an HTTP/1.x request (request line and header fields, up to its empty line), read strictly: what
// the door of the WebSocket port needs to tell an upgrade from a page request, and what the responder answers.
namespace korvel::panel {

// A head longer than this without its end closes the connection; browsers send far less.
constexpr qsizetype max_head_size = 8 * 1024;

// The size of the head at the start of bytes, its empty line included; nothing while it is not complete.
std::optional<qsizetype> head_size(const QByteArray &bytes);

struct RequestHead {
    QByteArray method;
    // The target as sent; path() is it without query and fragment.
    QByteArray target;
    QByteArray version;
    // In the order received; names as sent.
    QList<QPair<QByteArray, QByteArray>> fields;

    QByteArray path() const;
    // The value of the one field of that name (any letter case), trimmed; nothing when absent. Several fields
    // of one name are joined with ", " as a list field is.
    std::optional<QByteArray> field(const QByteArray &name) const;
};

// The head parsed; nothing when it is malformed: no three-part request line, no HTTP/1.x version, a target not
// starting with "/", a field line without a name or with a bare CR, LF or other control character, a folded
// line, or an HTTP/1.1 request without exactly one Host field.
std::optional<RequestHead> parse_head(const QByteArray &head);

// Whether a head asks for a WebSocket: its Upgrade field lists "websocket".
bool asks_websocket(const QByteArray &head);

} // namespace korvel::panel
