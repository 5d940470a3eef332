// The USB link's state on the broker.
#include "mqtt/linkstatus.h"

#include "console/ckorvel.h"
#include "mqtt/client.h"
#include "usb/cusbhid.h"

namespace korvel::mqtt {

LinkStatus::LinkStatus(CKorvel *console, Client *mqtt, QObject *parent)
    : QObject(parent)
    , mqtt(mqtt)
{
    CUSBHID *usb = console->device_link();
    connect(usb, &CUSBHID::connected, this, &LinkStatus::on_connected);
    connect(usb, &CUSBHID::disconnected, this, &LinkStatus::on_disconnected);
    mqtt->set_status(usb->is_connected() ? Client::status_connected : Client::status_disconnected);
}

void LinkStatus::on_connected()
{
    mqtt->set_status(Client::status_connected);
}

void LinkStatus::on_disconnected()
{
    mqtt->clear_state();
    mqtt->set_status(Client::status_disconnected);
}

} // namespace korvel::mqtt
