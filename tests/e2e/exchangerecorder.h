#pragma once

#include "emulatedapp.h"
#include "jsonclient.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

class QWebSocket;

namespace e2e {

// Runs scripted exchanges between two WebSocket clients (A and B) and the application on the emulated
// console, and writes each one as Markdown: what A sent, the reports that crossed the USB link, and what each
// client received, in order, byte for byte. Every step waits until the application has handled what was sent
// and the host has read everything the console answered, so the record does not depend on timing.
class ExchangeRecorder : public QObject {
    Q_OBJECT

public:
    explicit ExchangeRecorder(EmulatedApp &app, QObject *parent = nullptr);

    // Connects both clients. False (with error()) when either cannot.
    bool connect_clients();
    // Connects client C, a latecomer that sends the following exchanges instead of A; what it receives is
    // recorded after A's and B's. False (with error()) when it cannot.
    bool connect_client_c();

    void heading(const QString &text);
    void paragraph(const QString &text);

    // One exchange: client A sends the messages, then action (a person at the console, a plug pulled) runs.
    // Returns false when the application did not settle; error() says where.
    bool exchange(const QString &title, const QString &explanation, const QStringList &sent,
                  const std::function<bool()> &action = {});

    QString markdown() const { return out; }
    QString error() const { return failure; }

private:
    void watch_server_side();
    bool settle(int sent_count, const QString &title);
    void write_usb();
    void write_received(const QString &client, const QStringList &texts, const QStringList *same_as);

    EmulatedApp &app;
    JsonClient a;
    JsonClient b;
    JsonClient c;
    // The server's side of C's connection, once C is connected.
    QWebSocket *c_server_side = nullptr;
    QSet<QWebSocket *> watched;
    int handled = 0;
    // The reports that crossed the USB link during the current exchange, in order.
    struct UsbReport {
        bool to_console;
        QByteArray bytes;
    };
    QList<UsbReport> usb_record;
    QString out;
    QString failure;
};

} // namespace e2e
