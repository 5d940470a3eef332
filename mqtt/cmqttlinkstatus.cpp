// The USB link's state on the broker.
#include "mqtt/cmqttlinkstatus.h"

#include "console/ckorvel.h"
#include "mqtt/cmqttinterface.h"
#include "usb/cusbhid.h"

CMQTTLinkStatus::CMQTTLinkStatus(CKorvel *console, CMQTTInterface *mqtt, QObject *parent)
    : QObject(parent)
    , mqtt(mqtt)
{
    CUSBHID *usb = console->device_link();
    connect(usb, &CUSBHID::connected, this, &CMQTTLinkStatus::on_connected);
    connect(usb, &CUSBHID::disconnected, this, &CMQTTLinkStatus::on_disconnected);
    mqtt->set_status(usb->is_connected() ? CMQTTInterface::status_connected : CMQTTInterface::status_disconnected);
}

void CMQTTLinkStatus::on_connected()
{
    mqtt->set_status(CMQTTInterface::status_connected);
}

void CMQTTLinkStatus::on_disconnected()
{
    mqtt->clearState();
    mqtt->set_status(CMQTTInterface::status_disconnected);
}
