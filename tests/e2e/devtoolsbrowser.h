#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QWebSocket>

// Headless Chromium driven through the DevTools protocol: opens one page, evaluates script in it and sends
// real mouse input. Everything waits in a local event loop, so the application under test keeps running.
class DevToolsBrowser : public QObject {
    Q_OBJECT

public:
    explicit DevToolsBrowser(QObject *parent = nullptr);
    ~DevToolsBrowser() override;

    // The browser binary (chromium), or empty when none is installed.
    static QString executable();

    // Starts the browser on url and attaches to its page. Returns false (with error()) on failure.
    bool open(const QString &url, int timeout_ms = 30000);
    QString error() const { return last_error; }

    // Evaluates a script expression in the page and returns its value (by value, promises awaited); undefined
    // when the script threw, with what it threw in error().
    QJsonValue evaluate(const QString &expression, int timeout_ms = 10000);
    // Scrolls the element matching selector into view and clicks its centre with a real left mouse button press
    // and release. False when there is no such element.
    bool click(const QString &selector);

private:
    QJsonObject command(const QString &method, const QJsonObject &params, int timeout_ms);
    QString wait_for_debugger_url(int timeout_ms);

    QTemporaryDir profile;
    QProcess process;
    QWebSocket socket;
    int next_id = 1;
    QMap<int, QJsonObject> replies;
    QString last_error;
};
