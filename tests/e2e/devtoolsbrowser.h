#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QWebSocket>

// Headless Chromium driven through the DevTools protocol: opens one page, evaluates script in it, sends real
// mouse input, records what the page logs and requests, and takes screenshots. Everything waits in a local
// event loop, so the application under test keeps running.
class DevToolsBrowser : public QObject {
    Q_OBJECT

public:
    explicit DevToolsBrowser(QObject *parent = nullptr);
    ~DevToolsBrowser() override;

    // The browser binary (chromium), or empty when none is installed.
    static QString executable();

    // Starts the browser, attaches to its page and loads url, recording from the first request on.
    // init_script runs in every document before the page's own scripts. Returns false (with error()) on failure.
    bool open(const QString &url, int timeout_ms = 30000, const QString &init_script = {});
    QString error() const { return last_error; }

    // Evaluates a script expression in the page and returns its value (by value, promises awaited); undefined
    // when the script threw, with what it threw in error().
    QJsonValue evaluate(const QString &expression, int timeout_ms = 10000);
    // Scrolls the element matching selector into view and clicks its centre with a real left mouse button press
    // and release. False when there is no such element.
    bool click(const QString &selector);
    // Presses and releases a key on the focused element, as a keyboard does: "Tab", "Enter" or " ".
    bool press_key(const QString &key);

    // The page's viewport in CSS pixels; mobile also makes the page's viewport meta apply.
    bool set_viewport(int width, int height, double scale = 1, bool mobile = false);
    // A PNG of the viewport; empty on failure.
    QByteArray screenshot();
    // The page's accessibility tree as the browser computed it (Accessibility.getFullAXTree): its nodes.
    QJsonArray accessibility_nodes();

    // Every URL the page requested (documents, scripts, images, WebSockets), in order.
    QStringList requested_urls() const { return requests; }
    // Errors and warnings the page logged, exceptions it did not catch, and the browser's own log errors
    // (refused requests, content-security-policy violations).
    QStringList console_errors() const { return errors; }
    // How many WebSocket text frames the page has received that contain text.
    int frames_received(const QString &text) const;

private:
    QJsonObject command(const QString &method, const QJsonObject &params, int timeout_ms);
    QString wait_for_debugger_url(int timeout_ms);
    void record_event(const QJsonObject &message);

    QTemporaryDir profile;
    QProcess process;
    QWebSocket socket;
    int next_id = 1;
    QMap<int, QJsonObject> replies;
    QString last_error;
    QStringList requests;
    QStringList errors;
    QStringList frames;
};
