// Reading a request head: its end, its request line and fields.
#include "panel/requesthead.h"

#include <algorithm>

namespace korvel::panel {

namespace {
const QByteArray end_of_head = QByteArrayLiteral("\r\n\r\n");

bool is_token_char(char c)
{
    static const QByteArray specials = QByteArrayLiteral("!#$%&'*+-.^_`|~");
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || specials.contains(c);
}

bool is_token(const QByteArray &text)
{
    return !text.isEmpty() && std::all_of(text.cbegin(), text.cend(), is_token_char);
}

// Visible characters, spaces and tabs, and bytes above ASCII (which some clients send in values); no CR, LF,
// NUL or other control character.
bool is_field_value(const QByteArray &text)
{
    return std::none_of(text.cbegin(), text.cend(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && u != '\t') || u == 0x7f;
    });
}

bool is_target(const QByteArray &text)
{
    return text.startsWith('/') && std::all_of(text.cbegin(), text.cend(), [](char c) {
               const auto u = static_cast<unsigned char>(c);
               return u > 0x20 && u < 0x7f;
           });
}

bool list_has_token(const QByteArray &list, const QByteArray &token)
{
    const QList<QByteArray> items = list.split(',');
    return std::any_of(items.cbegin(), items.cend(),
                       [&](const QByteArray &item) { return item.trimmed().compare(token, Qt::CaseInsensitive) == 0; });
}
} // namespace

std::optional<qsizetype> head_size(const QByteArray &bytes)
{
    const qsizetype end = bytes.indexOf(end_of_head);
    if (end < 0)
        return std::nullopt;
    return end + end_of_head.size();
}

QByteArray RequestHead::path() const
{
    qsizetype cut = target.size();
    for (const char mark : {'?', '#'}) {
        if (const qsizetype at = target.indexOf(mark); at >= 0)
            cut = std::min(cut, at);
    }
    return target.left(cut);
}

std::optional<QByteArray> RequestHead::field(const QByteArray &name) const
{
    std::optional<QByteArray> value;
    for (const auto &[field_name, field_value] : fields) {
        if (field_name.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        value = value ? *value + ", " + field_value : field_value;
    }
    return value;
}

std::optional<RequestHead> parse_head(const QByteArray &head)
{
    if (!head.endsWith(end_of_head))
        return std::nullopt;
    QList<QByteArray> lines = head.left(head.size() - end_of_head.size()).split('\n');
    // Every line ends in CR LF: a line without its CR had a bare LF.
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (!lines[i].endsWith('\r'))
            return std::nullopt;
        lines[i].chop(1);
    }
    const QList<QByteArray> request_line = lines.takeFirst().split(' ');
    if (request_line.size() != 3)
        return std::nullopt;
    RequestHead parsed{request_line[0], request_line[1], request_line[2], {}};
    if (!is_token(parsed.method) || !is_target(parsed.target) ||
        (parsed.version != "HTTP/1.1" && parsed.version != "HTTP/1.0"))
        return std::nullopt;
    for (const QByteArray &line : std::as_const(lines)) {
        const qsizetype colon = line.indexOf(':');
        // No name, a space before the colon, or a folded continuation line.
        if (colon <= 0 || !is_token(line.left(colon)))
            return std::nullopt;
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (!is_field_value(value))
            return std::nullopt;
        parsed.fields.append({line.left(colon), value});
    }
    const auto hosts = std::count_if(parsed.fields.cbegin(), parsed.fields.cend(), [](const auto &field) {
        return field.first.compare("Host", Qt::CaseInsensitive) == 0;
    });
    if (hosts > 1 || (hosts == 0 && parsed.version == "HTTP/1.1"))
        return std::nullopt;
    return parsed;
}

bool asks_websocket(const QByteArray &head)
{
    // Read leniently: whatever carries the field goes to the WebSocket server, which judges the handshake as it
    // always has.
    const QList<QByteArray> lines = head.split('\n');
    return std::any_of(lines.cbegin() + 1, lines.cend(), [](const QByteArray &line) {
        const qsizetype colon = line.indexOf(':');
        return colon > 0 && line.left(colon).trimmed().compare("Upgrade", Qt::CaseInsensitive) == 0 &&
               list_has_token(line.mid(colon + 1).trimmed(), "websocket");
    });
}

} // namespace korvel::panel
