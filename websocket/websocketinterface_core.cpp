// The protocol core under the names integrators know: the snapshot builders, the notification slots, and the
// delivery of the core's notifications to the clients.
#include "websocket/cwebsocketinterface.h"

#include "console/valuelists.h"
#include "protocol/core.h"

using korvel::ReportId;

void CWebSocketInterface::deliver(const QJsonObject &message, const QString &topic)
{
    sendJSON(message, topic, nullptr);
}

void CWebSocketInterface::announce(ReportId id, std::initializer_list<int> values)
{
    core.announce(id, values);
}

void CWebSocketInterface::snapshot(QJsonObject &data, ReportId id)
{
    core.snapshots().put(data, id);
}

void CWebSocketInterface::get_states(QJsonObject &data)
{
    core.snapshots().get_states(data);
}

void CWebSocketInterface::get_config(QJsonObject &data)
{
    core.snapshots().get_config(data);
}

void CWebSocketInterface::get_all_data(QJsonObject &data)
{
    core.snapshots().get_all_data(data);
}

bool CWebSocketInterface::state_complete() const
{
    return core.state_complete();
}

void CWebSocketInterface::on_ctrl_led_event(int id, int color)
{
    core.announce_ctrl_led(id, color);
}

void CWebSocketInterface::on_ctrl_led_blink_event(int id, int color_on, int color_off, int blink_speed)
{
    core.announce_ctrl_led_blink(id, color_on, color_off, blink_speed);
}

void CWebSocketInterface::on_state_src_sel_event(int mod, int source)
{
    core.announce(ReportId::source_select, {mod, source});
}

void CWebSocketInterface::on_state_metering_event(float pgm_l, float pgm_r, float phones_l, float phones_r, float crm_l,
                                                  float crm_r)
{
    core.announce_metering({pgm_l, pgm_r, phones_l, phones_r, crm_l, crm_r});
}

void CWebSocketInterface::on_connected()
{
    core.announce_link(true);
}

void CWebSocketInterface::on_disconnected()
{
    core.announce_link(false);
}
