#pragma once

#include <QObject>

class CKorvel;
class CMQTTInterface;

// Follows the console's USB link on the broker: PREFIX/status "connected" or "disconnected", and the
// retained state topics emptied when the link closes (the console's cache is gone with it).
class CMQTTLinkStatus : public QObject {
    Q_OBJECT

public:
    // Connects after the console object, so its cache is already emptied when the close reaches here.
    CMQTTLinkStatus(CKorvel *console, CMQTTInterface *mqtt, QObject *parent);

public slots:
    void on_connected();
    void on_disconnected();

private:
    CMQTTInterface *mqtt;
};
