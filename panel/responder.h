#pragma once

#include "panel/site.h"

#include <QByteArray>

// The answer to one plain HTTP request on the WebSocket port: a pure function from a complete request head to
// the response's bytes. GET and HEAD of the site's files; other paths 404, other methods 405, a malformed head
// 400. Every answer carries the same security headers and "Connection: close": the connection is closed after
// it, so nothing in it depends on what follows the head.
namespace korvel::panel {

// head: from the request line up to and including its empty line (requesthead.h, head_size).
QByteArray respond(const QByteArray &head, const Site &site);

// The Content-Security-Policy of every answer: the page's own script, style and images, and a connection to
// its own origin (ws:// of the authority it was loaded from, when that is a plain host[:port]; 'self' alone
// otherwise, which current browsers also match to ws:// of the same host and port).
QByteArray content_security_policy(const QByteArray &host);

} // namespace korvel::panel
