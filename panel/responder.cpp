// The HTTP answers of the panel.
#include "panel/responder.h"

#include "panel/requesthead.h"

#include <algorithm>
#include <optional>

namespace korvel::panel {

namespace {

struct Status {
    int code;
    const char *reason;
};
constexpr Status ok{200, "OK"};
constexpr Status not_modified{304, "Not Modified"};
constexpr Status bad_request{400, "Bad Request"};
constexpr Status not_found{404, "Not Found"};
constexpr Status not_allowed{405, "Method Not Allowed"};

// A plain host name, an IPv4 address or a bracketed IPv6 address, with an optional port: safe to repeat in
// a header.
bool is_plain_authority(const QByteArray &host)
{
    return !host.isEmpty() && host.size() <= 255 && std::all_of(host.cbegin(), host.cend(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-' ||
               c == ':' || c == '[' || c == ']';
    });
}

// Whether an If-None-Match list names etag ("*": any). Weak comparison, as that field asks for.
bool matches(const QByteArray &list, const QByteArray &etag)
{
    const QList<QByteArray> tags = list.split(',');
    return std::any_of(tags.cbegin(), tags.cend(), [&](QByteArray tag) {
        tag = tag.trimmed();
        if (tag.startsWith("W/"))
            tag = tag.mid(2);
        return tag == "*" || tag == etag;
    });
}

QByteArray answer(Status status, const QByteArray &host, const QByteArray &extra_fields, const QByteArray &body,
                  bool with_body)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status.code) + ' ' + status.reason + "\r\n";
    out += extra_fields;
    if (status.code != not_modified.code)
        out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += "Content-Security-Policy: " + content_security_policy(host) + "\r\n";
    out += "X-Content-Type-Options: nosniff\r\n"
           "X-Frame-Options: DENY\r\n"
           "Referrer-Policy: no-referrer\r\n"
           "Cross-Origin-Resource-Policy: same-origin\r\n"
           "Cross-Origin-Opener-Policy: same-origin\r\n"
           "Connection: close\r\n"
           "\r\n";
    if (with_body)
        out += body;
    return out;
}

QByteArray error(Status status, const QByteArray &host, bool with_body, const QByteArray &extra_fields = {})
{
    const QByteArray text = QByteArray::number(status.code) + ' ' + status.reason + '\n';
    return answer(status, host, extra_fields + "Content-Type: text/plain; charset=utf-8\r\nCache-Control: no-store\r\n",
                  text, with_body);
}

} // namespace

QByteArray content_security_policy(const QByteArray &host)
{
    QByteArray connect = "'self'";
    if (is_plain_authority(host))
        connect += " ws://" + host;
    return "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src " + connect +
           "; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
}

QByteArray respond(const QByteArray &head, const Site &site)
{
    const std::optional<RequestHead> request = parse_head(head);
    if (!request)
        return error(bad_request, {}, true);
    const QByteArray host = request->field("Host").value_or(QByteArray());
    const bool is_head = request->method == "HEAD";
    if (request->method != "GET" && !is_head)
        return error(not_allowed, host, true, "Allow: GET, HEAD\r\n");
    const SiteFile *file = site.find(request->path());
    if (!file)
        return error(not_found, host, !is_head);
    // no-cache: a browser asks again each time (a new build's page is picked up at once), and the ETag makes
    // that a 304 while nothing changed.
    const QByteArray fields =
        "Content-Type: " + file->content_type + "\r\nETag: " + file->etag + "\r\nCache-Control: no-cache\r\n";
    if (const std::optional<QByteArray> tags = request->field("If-None-Match"); tags && matches(*tags, file->etag))
        return answer(not_modified, host, fields, {}, false);
    return answer(ok, host, fields, file->content, !is_head);
}

} // namespace korvel::panel
