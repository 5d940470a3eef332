#pragma once

#include <QObject>

class CKorvel;

namespace korvel::mqtt {

class Client;

// Follows the console's USB link on the broker: PREFIX/status "connected" or "disconnected", and the
// retained state topics emptied when the link closes (the console's cache is gone with it).
class LinkStatus : public QObject {
    Q_OBJECT

public:
    // Connects after the console object, so its cache is already emptied when the close reaches here.
    LinkStatus(CKorvel *console, Client *mqtt, QObject *parent);

public slots:
    void on_connected();
    void on_disconnected();

private:
    Client *mqtt;
};

} // namespace korvel::mqtt
