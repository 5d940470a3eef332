#include "protocol/corefacade.h"

#include "protocol/core.h"

namespace korvel::protocol {

CoreFacade::CoreFacade(CKorvel &console, QObject *parent)
    : QObject(parent)
    , core(Core::of(console))
{}

void CoreFacade::announce(ReportId id, std::initializer_list<int> values)
{
    core.announce(id, values);
}

void CoreFacade::snapshot(QJsonObject &data, ReportId id)
{
    core.snapshots().put(data, id);
}

void CoreFacade::get_states(QJsonObject &data)
{
    core.snapshots().get_states(data);
}

void CoreFacade::get_config(QJsonObject &data)
{
    core.snapshots().get_config(data);
}

void CoreFacade::get_all_data(QJsonObject &data)
{
    core.snapshots().get_all_data(data);
}

bool CoreFacade::state_complete() const
{
    return core.state_complete();
}

void CoreFacade::on_ctrl_led_event(int id, int color)
{
    core.announce_ctrl_led(id, color);
}

void CoreFacade::on_ctrl_led_blink_event(int id, int color_on, int color_off, int blink_speed)
{
    core.announce_ctrl_led_blink(id, color_on, color_off, blink_speed);
}

void CoreFacade::on_state_src_sel_event(int mod, int source)
{
    core.announce(ReportId::source_select, {mod, source});
}

void CoreFacade::on_state_metering_event(float pgm_l, float pgm_r, float phones_l, float phones_r, float crm_l,
                                         float crm_r)
{
    core.announce_metering({pgm_l, pgm_r, phones_l, phones_r, crm_l, crm_r});
}

void CoreFacade::on_connected()
{
    core.announce_link(true);
}

void CoreFacade::on_disconnected()
{
    core.announce_link(false);
}

} // namespace korvel::protocol
