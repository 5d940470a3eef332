// Feeds any bytes to the door of the WebSocket port as a client would send them: the head it takes (up to its
// empty line, within 8 KiB), the upgrade test, the panel's answer and the panel's own-origin rule. Whatever the
// bytes, the answer is one well-formed response: a known status, only the fields the responder writes (a Host
// repeated in the policy cannot add one), "Connection: close", and a body as long as Content-Length says (none
// for HEAD and 304).
#include "panel/ownorigin.h"
#include "panel/requesthead.h"
#include "panel/responder.h"
#include "panel/site.h"

#include <QCoreApplication>
#include <QSet>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {
void check(bool condition)
{
    if (!condition)
        std::abort();
}

void check_response(const QByteArray &head, const QByteArray &response)
{
    static const QSet<QByteArray> statuses{"200 OK", "304 Not Modified", "400 Bad Request", "404 Not Found",
                                           "405 Method Not Allowed"};
    static const QList<QByteArray> names =
        QByteArray(
            "Allow Content-Type ETag Cache-Control Content-Length Content-Security-Policy X-Content-Type-Options "
            "X-Frame-Options Referrer-Policy Cross-Origin-Resource-Policy Cross-Origin-Opener-Policy Connection")
            .split(' ');
    const qsizetype end = response.indexOf("\r\n\r\n");
    check(end > 0);
    QList<QByteArray> lines = response.left(end).split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        // CR LF ends every line but the last, which the empty line's CR LF ends.
        check(lines[i].endsWith('\r') || i + 1 == lines.size());
        if (lines[i].endsWith('\r'))
            lines[i].chop(1);
        check(!lines[i].contains('\r'));
    }
    check(lines.first().startsWith("HTTP/1.1 ") && statuses.contains(lines.first().mid(9)));
    qsizetype length = -1;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(": ");
        check(colon > 0 && names.contains(lines[i].left(colon)));
        if (lines[i].startsWith("Content-Length: "))
            length = lines[i].mid(16).toLongLong();
    }
    check(lines.contains("Connection: close") && lines.contains("X-Content-Type-Options: nosniff"));
    const QByteArray body = response.mid(end + 4);
    const bool bodiless = lines.first().startsWith("HTTP/1.1 304") ||
                          (head.startsWith("HEAD ") && !lines.first().startsWith("HTTP/1.1 400"));
    check(bodiless ? body.isEmpty() : body.size() == length);
    check(lines.first().startsWith("HTTP/1.1 304") == (length < 0));
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray taken = bytes.left(korvel::panel::max_head_size);
    const std::optional<qsizetype> head_size = korvel::panel::head_size(taken);
    const QByteArray head = head_size ? taken.left(*head_size) : taken + "\r\n\r\n";
    check(!head_size || (*head_size <= taken.size() && head.endsWith("\r\n\r\n")));
    (void)korvel::panel::asks_websocket(head);
    check_response(head, korvel::panel::respond(head, korvel::panel::Site::panel()));

    if (const auto request = korvel::panel::parse_head(head)) {
        const QByteArray host = request->field("Host").value_or(QByteArray());
        const QString origin = QString::fromLatin1(request->field("Origin").value_or(QByteArray()));
        // Allowed only for its own Host, and only on the port listened on.
        if (korvel::panel::is_own_origin(origin, host, 19552, QStringLiteral("studio-pc")))
            check(origin.compare("http://" + QString::fromLatin1(host), Qt::CaseInsensitive) == 0 &&
                  (host.endsWith(":19552")));
    }
    return 0;
}
