#include "devtoolsbrowser.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>

namespace {
// Spins the event loop until done() or the deadline; the application under test runs meanwhile.
template <typename Done>
bool wait_until(Done done, int timeout_ms)
{
    QDeadlineTimer deadline(timeout_ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}
} // namespace

DevToolsBrowser::DevToolsBrowser(QObject *parent)
    : QObject(parent)
{
    connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
        const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
        if (message.contains(QLatin1String("id")))
            replies.insert(message.value(QLatin1String("id")).toInt(), message);
        else
            record_event(message);
    });
}

DevToolsBrowser::~DevToolsBrowser()
{
    socket.abort();
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
}

QString DevToolsBrowser::executable()
{
    for (const char *name : {"chromium", "chromium-browser", "google-chrome"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty())
            return path;
    }
    return {};
}

bool DevToolsBrowser::open(const QString &url, int timeout_ms, const QString &init_script)
{
    const QString browser = executable();
    if (browser.isEmpty()) {
        last_error = QStringLiteral("no chromium installed");
        return false;
    }
    // The flags keep the browser off the network: this machine has none but loopback.
    process.setProgram(browser);
    process.setArguments({"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                          "--disable-background-networking", "--disable-component-update", "--disable-sync",
                          "--disable-dev-shm-usage", "--log-level=3", "--window-size=1200,800",
                          "--remote-debugging-port=0", "--user-data-dir=" + profile.path(), "about:blank"});
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start();
    if (!process.waitForStarted(10000)) {
        last_error = QStringLiteral("chromium did not start");
        return false;
    }
    const QString debugger_url = wait_for_debugger_url(timeout_ms);
    if (debugger_url.isEmpty())
        return false;
    socket.open(QUrl(debugger_url));
    if (!wait_until([this] { return socket.state() == QAbstractSocket::ConnectedState; }, timeout_ms)) {
        last_error = QStringLiteral("could not attach to the page");
        return false;
    }
    for (const char *domain : {"Runtime.enable", "Log.enable", "Network.enable", "Page.enable"}) {
        if (command(QString::fromLatin1(domain), {}, timeout_ms).isEmpty()) {
            last_error = QStringLiteral("no answer to %1").arg(QLatin1String(domain));
            return false;
        }
    }
    if (!init_script.isEmpty())
        command("Page.addScriptToEvaluateOnNewDocument", {{"source", init_script}}, timeout_ms);
    command("Page.navigate", {{"url", url}}, timeout_ms);
    // Wait for the page's own script to have run.
    return wait_until(
        [this] { return evaluate("location.href !== 'about:blank' && document.readyState === 'complete'").toBool(); },
        timeout_ms);
}

void DevToolsBrowser::record_event(const QJsonObject &message)
{
    const QString method = message.value(QLatin1String("method")).toString();
    const QJsonObject params = message.value(QLatin1String("params")).toObject();
    if (method == QLatin1String("Network.requestWillBeSent")) {
        requests.append(params[QLatin1String("request")][QLatin1String("url")].toString());
    } else if (method == QLatin1String("Network.webSocketCreated")) {
        requests.append(params[QLatin1String("url")].toString());
    } else if (method == QLatin1String("Network.webSocketFrameReceived")) {
        frames.append(params[QLatin1String("response")][QLatin1String("payloadData")].toString());
    } else if (method == QLatin1String("Runtime.consoleAPICalled")) {
        const QString type = params[QLatin1String("type")].toString();
        if (type == QLatin1String("error") || type == QLatin1String("warning") || type == QLatin1String("assert"))
            errors.append(type + ": " +
                          QJsonDocument(params[QLatin1String("args")].toArray()).toJson(QJsonDocument::Compact));
    } else if (method == QLatin1String("Runtime.exceptionThrown")) {
        const QJsonObject details = params[QLatin1String("exceptionDetails")].toObject();
        errors.append("exception: " + details[QLatin1String("exception")][QLatin1String("description")].toString(
                                          details[QLatin1String("text")].toString()));
    } else if (method == QLatin1String("Log.entryAdded")) {
        const QJsonObject entry = params[QLatin1String("entry")].toObject();
        const QString level = entry[QLatin1String("level")].toString();
        if (level == QLatin1String("error") || level == QLatin1String("warning"))
            errors.append(level + ": " + entry[QLatin1String("text")].toString() + ' ' +
                          entry[QLatin1String("url")].toString());
    }
}

QString DevToolsBrowser::wait_for_debugger_url(int timeout_ms)
{
    // The browser writes the port it chose into DevToolsActivePort in its profile.
    QFile port_file(QDir(profile.path()).filePath("DevToolsActivePort"));
    int port = 0;
    if (!wait_until(
            [&] {
                if (!port_file.open(QIODevice::ReadOnly))
                    return false;
                port = port_file.readLine().trimmed().toInt();
                port_file.close();
                return port > 0;
            },
            timeout_ms)) {
        last_error = QStringLiteral("no DevTools port");
        return {};
    }
    QNetworkAccessManager network;
    QString found;
    wait_until(
        [&] {
            QNetworkReply *reply =
                network.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/json/list").arg(port))));
            QEventLoop loop;
            connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
            QTimer::singleShot(2000, &loop, &QEventLoop::quit);
            loop.exec();
            const QJsonArray targets = QJsonDocument::fromJson(reply->readAll()).array();
            reply->deleteLater();
            for (const QJsonValue &target : targets) {
                if (target[QLatin1String("type")].toString() == QLatin1String("page")) {
                    found = target[QLatin1String("webSocketDebuggerUrl")].toString();
                    return !found.isEmpty();
                }
            }
            return false;
        },
        timeout_ms);
    if (found.isEmpty())
        last_error = QStringLiteral("no page target");
    return found;
}

QJsonObject DevToolsBrowser::command(const QString &method, const QJsonObject &params, int timeout_ms)
{
    const int id = next_id++;
    const QJsonObject message{{"id", id}, {"method", method}, {"params", params}};
    socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    if (!wait_until([&] { return replies.contains(id); }, timeout_ms))
        return {};
    return replies.take(id);
}

QJsonValue DevToolsBrowser::evaluate(const QString &expression, int timeout_ms)
{
    const QJsonObject reply = command(
        "Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}}, timeout_ms);
    // A script that threw answers undefined; what it threw is kept for the test's message.
    const QJsonValue exception = reply[QLatin1String("result")][QLatin1String("exceptionDetails")];
    if (exception.isObject())
        last_error = exception[QLatin1String("exception")][QLatin1String("description")].toString();
    return reply[QLatin1String("result")][QLatin1String("result")][QLatin1String("value")];
}

int DevToolsBrowser::frames_received(const QString &text) const
{
    return static_cast<int>(
        std::count_if(frames.cbegin(), frames.cend(), [&](const QString &frame) { return frame.contains(text); }));
}

bool DevToolsBrowser::set_viewport(int width, int height, double scale, bool mobile)
{
    const QJsonObject reply =
        command("Emulation.setDeviceMetricsOverride",
                {{"width", width}, {"height", height}, {"deviceScaleFactor", scale}, {"mobile", mobile}}, 10000);
    return !reply.isEmpty() && !reply.contains(QLatin1String("error"));
}

QByteArray DevToolsBrowser::screenshot()
{
    const QJsonObject reply = command("Page.captureScreenshot", {{"format", "png"}}, 30000);
    return QByteArray::fromBase64(reply[QLatin1String("result")][QLatin1String("data")].toString().toLatin1());
}

QJsonArray DevToolsBrowser::accessibility_nodes()
{
    return command("Accessibility.getFullAXTree", {}, 30000)[QLatin1String("result")][QLatin1String("nodes")].toArray();
}

bool DevToolsBrowser::click(const QString &selector)
{
    const QJsonValue box =
        evaluate(QStringLiteral("(() => { const r = document.querySelector(%1).getBoundingClientRect();"
                                " return {x: r.x + r.width / 2, y: r.y + r.height / 2}; })()")
                     .arg(QString::fromUtf8(QJsonDocument(QJsonArray{selector}).toJson(QJsonDocument::Compact))
                              .mid(1)
                              .chopped(1)));
    if (!box.isObject())
        return false;
    const double x = box[QLatin1String("x")].toDouble();
    const double y = box[QLatin1String("y")].toDouble();
    for (const char *type : {"mousePressed", "mouseReleased"}) {
        const QJsonObject reply =
            command("Input.dispatchMouseEvent",
                    {{"type", type}, {"x", x}, {"y", y}, {"button", "left"}, {"clickCount", 1}}, 10000);
        if (reply.isEmpty() || reply.contains(QLatin1String("error")))
            return false;
    }
    return true;
}

bool DevToolsBrowser::press_key(const QString &key)
{
    static const QMap<QString, std::pair<QString, int>> keys{
        {"Tab", {"\t", 9}}, {"Enter", {"\r", 13}}, {" ", {" ", 32}}};
    const auto found = keys.constFind(key);
    if (found == keys.constEnd())
        return false;
    const QString code = key == " " ? QStringLiteral("Space") : key;
    for (const char *type : {"keyDown", "keyUp"}) {
        QJsonObject params{{"type", type}, {"key", key}, {"code", code}, {"windowsVirtualKeyCode", found->second}};
        if (QLatin1String(type) == QLatin1String("keyDown"))
            params.insert("text", found->first);
        const QJsonObject reply = command("Input.dispatchKeyEvent", params, 10000);
        if (reply.isEmpty() || reply.contains(QLatin1String("error")))
            return false;
    }
    return true;
}
