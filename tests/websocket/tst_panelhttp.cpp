// The WebSocket port's plain HTTP answers (the browser panel) and its door, through a raw TCP client: status,
// headers and bytes of each answer, the bounds on a request head, upgrades passing the door, the panel's own
// origin.
#include "wstestclient.h"

#include "emulator/emulateddevice.h"
#include "websocket/cwebsocketinterface.h"

#include <QFile>
#include <QHostInfo>
#include <QTcpSocket>
#include <QTest>

namespace {
const QList<QPair<QByteArray, QByteArray>> security_fields{{"X-Content-Type-Options", "nosniff"},
                                                           {"X-Frame-Options", "DENY"},
                                                           {"Referrer-Policy", "no-referrer"},
                                                           {"Cross-Origin-Resource-Policy", "same-origin"},
                                                           {"Connection", "close"}};
const QByteArray upgrade_fields = "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                  "Sec-WebSocket-Version: 13\r\n";

QByteArray web_file(const QString &name)
{
    QFile file(QStringLiteral(KORVEL_PANEL_WEB "/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

struct Exchange {
    QByteArray received;
    bool closed_by_server;
};

// Sends the pieces one by one, then reads until the server closes, or until a 101's head is in.
Exchange exchange(quint16 port, const QList<QByteArray> &pieces)
{
    QTcpSocket socket;
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket.connectToHost(QHostAddress::LocalHost, port);
    Exchange result{{}, false};
    if (!socket.waitForConnected(5000))
        return result;
    for (const QByteArray &piece : pieces) {
        socket.write(piece);
        socket.waitForBytesWritten(5000);
        // Lets the server's side read this piece before the next is sent.
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    const auto done = [&] {
        result.received += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState ||
               (result.received.startsWith("HTTP/1.1 101") && result.received.contains("\r\n\r\n"));
    };
    result.closed_by_server = QTest::qWaitFor(done, 10000) && socket.state() == QAbstractSocket::UnconnectedState;
    return result;
}

// The value of a header field of a response (names in any case); "(absent)" when it has none.
QByteArray field(const QByteArray &response, const QByteArray &name)
{
    const QList<QByteArray> lines = response.left(response.indexOf("\r\n\r\n")).split('\n');
    for (const QByteArray &line : lines) {
        if (line.toLower().startsWith(name.toLower() + ":"))
            return line.mid(name.size() + 1).trimmed();
    }
    return "(absent)";
}

QByteArray body_of(const QByteArray &response)
{
    return response.mid(response.indexOf("\r\n\r\n") + 4);
}

QByteArray get(const QByteArray &path, const QByteArray &more_fields = {})
{
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + more_fields + "\r\n";
}
} // namespace

class TestPanelHttp : public QObject {
    Q_OBJECT

private slots:
    void init() { emulator::EmulatedDevice::instance().reset(); }

    void answers_data()
    {
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<qsizetype>("length");
        const auto row = [](const char *name, const QList<QByteArray> &pieces, const char *status, const char *type,
                            const QByteArray &body, qsizetype length = -1) {
            QTest::newRow(name) << pieces << QByteArray(status) << QByteArray(type) << body
                                << (length < 0 ? body.size() : length);
        };
        const char *html = "text/html; charset=utf-8";
        const char *text = "text/plain; charset=utf-8";
        const QByteArray index = web_file("index.html");
        const QByteArray padding = "X-Pad: " + QByteArray(8192 - get("/").size() - 9, 'p') + "\r\n";
        row("GET /: index.html", {get("/")}, "200 OK", html, index);
        row("the script, query ignored", {get("/panel.js?v=2#x")}, "200 OK", "text/javascript; charset=utf-8",
            web_file("panel.js"));
        row("icon", {get("/icon.svg")}, "200 OK", "image/svg+xml; charset=utf-8", web_file("icon.svg"));
        row("split in several writes", {"GE", "T / HTTP/1.1\r\nHo", "st: 127.0.0.1\r\n\r", "\n"}, "200 OK", html,
            index);
        row("head of 8 KiB exactly", {get("/", padding)}, "200 OK", html, index);
        row("HEAD: headers, no body", {"HEAD / HTTP/1.1\r\nHost: a\r\n\r\n"}, "200 OK", html, {}, index.size());
        row("HTTP/1.0 without Host", {"GET /panel.css HTTP/1.0\r\n\r\n"}, "200 OK", "text/css; charset=utf-8",
            web_file("panel.css"));
        row("other path", {get("/korvel-panel.html")}, "404 Not Found", text, "404 Not Found\n");
        row("no file system behind the paths", {get("/../CMakeLists.txt")}, "404 Not Found", text, "404 Not Found\n");
        row("POST", {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 2\r\n\r\nab"}, "405 Method Not Allowed", text,
            "405 Method Not Allowed\n");
        row("methods are case-sensitive", {"get / HTTP/1.1\r\nHost: a\r\n\r\n"}, "405 Method Not Allowed", text,
            "405 Method Not Allowed\n");
        const QList<QPair<const char *, QByteArray>> malformed{
            {"no version", "GET /\r\n\r\n"},
            {"HTTP/1.1 without Host", "GET / HTTP/1.1\r\n\r\n"},
            {"two Host fields", "GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n"},
            {"folded line", "GET / HTTP/1.1\r\nHost: a\r\n b\r\n\r\n"},
            {"space before the colon", "GET / HTTP/1.1\r\nHost : a\r\n\r\n"},
            {"bare LF", "GET / HTTP/1.1\r\nHost: a\nX: b\r\n\r\n"},
            {"other version", "GET / HTTP/2.0\r\nHost: a\r\n\r\n"},
            {"absolute target", "GET http://a/ HTTP/1.1\r\nHost: a\r\n\r\n"},
            {"binary", QByteArray("\x16\x03\x01\x00\r\n\r\n", 8)},
        };
        for (const auto &[name, head] : malformed)
            row(name, {head}, "400 Bad Request", text, "400 Bad Request\n");
    }

    void answers()
    {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, type);
        QFETCH(QByteArray, body);
        QFETCH(qsizetype, length);
        WsRig rig;
        const Exchange answer = exchange(rig.port(), pieces);
        QVERIFY2(answer.closed_by_server, answer.received.constData());
        const QByteArray &response = answer.received;
        QCOMPARE(response.left(response.indexOf("\r\n")), "HTTP/1.1 " + status);
        QCOMPARE(body_of(response), body);
        QCOMPARE(field(response, "Content-Length"), QByteArray::number(length));
        QCOMPARE(field(response, "Content-Type"), type);
        QCOMPARE(field(response, "Cache-Control"), QByteArray(status == "200 OK" ? "no-cache" : "no-store"));
        QCOMPARE(field(response, "Allow"), QByteArray(status.startsWith("405") ? "GET, HEAD" : "(absent)"));
        for (const auto &[name, value] : security_fields)
            QCOMPARE(field(response, name), value);
        // The page may connect to ws:// of the Host it was loaded from, when it named one.
        const QByteArray host = status.startsWith("400") ? QByteArray() : field(pieces.join(), "Host");
        QCOMPARE(field(response, "Content-Security-Policy"),
                 "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'" +
                     (host.isEmpty() || host == "(absent)" ? QByteArray() : " ws://" + host) +
                     "; base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
        QCOMPARE(rig.ws->client_count(), 0);
    }

    void conditional_data()
    {
        QTest::addColumn<QByteArray>("if_none_match");
        QTest::addColumn<QByteArray>("status");
        const auto row = [](const char *name, const char *tags, const char *status) {
            QTest::newRow(name) << QByteArray(tags) << QByteArray(status);
        };
        row("its ETag", "%1", "304 Not Modified");
        row("in a list", "\"0000\", %1", "304 Not Modified");
        row("weak form", "W/%1", "304 Not Modified");
        row("any", "*", "304 Not Modified");
        row("another ETag", "\"0000\"", "200 OK");
        row("unquoted", "%2", "200 OK");
    }

    void conditional()
    {
        QFETCH(QByteArray, if_none_match);
        QFETCH(QByteArray, status);
        WsRig rig;
        const QByteArray first = exchange(rig.port(), {get("/")}).received;
        const QByteArray etag = field(first, "ETag");
        // Strong: quoted, no W/ in front.
        QVERIFY2(etag.size() > 8 && etag.startsWith('"') && etag.endsWith('"'), etag.constData());
        const QByteArray tags = QByteArray(if_none_match).replace("%1", etag).replace("%2", etag.mid(1).chopped(1));
        const QByteArray again = exchange(rig.port(), {get("/", "If-None-Match: " + tags + "\r\n")}).received;
        QCOMPARE(again.left(again.indexOf("\r\n")), "HTTP/1.1 " + status);
        QCOMPARE(field(again, "ETag"), etag);
        QCOMPARE(body_of(again), status.startsWith("304") ? QByteArray() : web_file("index.html"));
        // The other file has its own.
        QVERIFY(field(exchange(rig.port(), {get("/panel.js")}).received, "ETag") != etag);
    }

    void closesWithoutAnswer_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("head over 8 KiB") << get("/", "X-Pad: " + QByteArray(8192 - get("/").size() - 8, 'p') + "\r\n");
        QTest::newRow("8 KiB without an end") << QByteArray(8192, 'G');
        QTest::newRow("never completed: the handshake's time limit") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\n");
        QTest::newRow("bare LF only") << QByteArray("GET / HTTP/1.1\nHost: a\n\n");
    }

    void closesWithoutAnswer()
    {
        QFETCH(QByteArray, sent);
        WsRig rig;
        rig.ws->set_handshake_timeout(300);
        const Exchange answer = exchange(rig.port(), {sent});
        QVERIFY(answer.closed_by_server);
        QCOMPARE(answer.received, QByteArray());
    }

    // A page request is a connection like any other: over the bound per address it is closed unanswered.
    void connectionBoundsApply()
    {
        WsRig rig;
        rig.ws->set_connection_limits(0, 1);
        QTcpSocket held;
        held.connectToHost(QHostAddress::LocalHost, rig.port());
        QVERIFY(held.waitForConnected(5000));
        const Exchange refused = exchange(rig.port(), {get("/")});
        QVERIFY(refused.closed_by_server);
        QCOMPARE(refused.received, QByteArray());
        held.abort();
        QTRY_VERIFY(exchange(rig.port(), {get("/")}).received.startsWith("HTTP/1.1 200 OK\r\n"));
    }

    void upgradesPassTheDoor_data()
    {
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<bool>("serve_panel");
        const QByteArray start = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        const QByteArray whole = start + "Upgrade: websocket\r\n" + upgrade_fields + "\r\n";
        QTest::newRow("in one write") << QList<QByteArray>{whole} << true;
        QTest::newRow("split") << QList<QByteArray>{start + "Upgr", "ade: websocket\r\n" + upgrade_fields, "\r\n"}
                               << true;
        QTest::newRow("letter case, token list")
            << QList<QByteArray>{start + "UPGRADE: WebSocket\r\n" + upgrade_fields + "\r\n"} << true;
        QTest::newRow("panel switched off") << QList<QByteArray>{whole} << false;
    }

    // Upgrades are the same whether the panel is served or not (404 for every page then).
    void upgradesPassTheDoor()
    {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(bool, serve_panel);
        WsRig rig;
        rig.ws->set_serve_panel(serve_panel);
        const Exchange answer = exchange(rig.port(), pieces);
        QVERIFY2(answer.received.startsWith("HTTP/1.1 101 Switching Protocols\r\n"), answer.received.constData());
        QCOMPARE(field(answer.received, "Sec-WebSocket-Accept"), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
        QTRY_COMPARE(rig.ws->client_count(), 1);
        for (const QByteArray &path : {QByteArray("/"), QByteArray("/panel.js")}) {
            const QByteArray page = exchange(rig.port(), {get(path)}).received;
            QCOMPARE(page.left(page.indexOf("\r\n")), serve_panel ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Not Found");
        }
    }

    // With a list of allowed origins, the panel's own origin is allowed too, and only that.
    void ownOrigin_data()
    {
        QTest::addColumn<QByteArray>("origin");
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<bool>("serve_panel");
        QTest::addColumn<bool>("allowed");
        const auto row = [](const char *name, const QByteArray &origin, const QByteArray &host, bool allowed,
                            bool serve_panel = true) {
            QTest::newRow(name) << origin << host << serve_panel << allowed;
        };
        const QByteArray name = QHostInfo::localHostName().toUpper().toUtf8();
        row("IPv4 address", "http://127.0.0.1:%1", "127.0.0.1:%1", true);
        row("localhost", "http://localhost:%1", "LocalHost:%1", true);
        row("IPv6 address", "http://[::1]:%1", "[::1]:%1", true);
        row("this machine's name", "http://" + name.toLower() + ":%1", name + ":%1", true);
        row("on the list, whatever the Host", "http://studio.example", "127.0.0.1:%1", true);
        row("panel switched off", "http://127.0.0.1:%1", "127.0.0.1:%1", false, false);
        row("DNS rebinding: another site's name", "http://evil.example:%1", "evil.example:%1", false);
        row("a page of another address", "http://10.9.9.9:%1", "127.0.0.1:%1", false);
        row("another port", "http://127.0.0.1:1", "127.0.0.1:1", false);
        row("no port: 80", "http://127.0.0.1", "127.0.0.1", false);
        row("https", "https://127.0.0.1:%1", "127.0.0.1:%1", false);
        row("IPv4 shorthand", "http://127.1:%1", "127.1:%1", false);
        row("a name ending in this one's", "http://x." + name + ":%1", "x." + name + ":%1", false);
    }

    void ownOrigin()
    {
        QFETCH(QByteArray, origin);
        QFETCH(QByteArray, host);
        QFETCH(bool, serve_panel);
        QFETCH(bool, allowed);
        WsRig rig;
        rig.ws->set_allowed_origins({QStringLiteral("http://studio.example")});
        rig.ws->set_serve_panel(serve_panel);
        const QByteArray port = QByteArray::number(rig.port());
        const QByteArray head = "GET / HTTP/1.1\r\nHost: " + host.replace("%1", port) +
                                "\r\nUpgrade: websocket\r\nOrigin: " + origin.replace("%1", port) + "\r\n" +
                                upgrade_fields + "\r\n";
        const Exchange answer = exchange(rig.port(), {head});
        QCOMPARE(answer.received.startsWith("HTTP/1.1 101 "), allowed);
        QTRY_COMPARE(rig.ws->client_count(), allowed ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestPanelHttp)
#include "tst_panelhttp.moc"
