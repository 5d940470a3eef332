// Notifications: one JSON message per console event.
#include "websocket/cwebsocketinterface.h"

#include "console/valuelists.h"

#include <QLatin1String>

#include <initializer_list>
#include <utility>

using namespace korvel;

namespace {
// The decoder marks an unchanged field of a multi-field event with -1.
constexpr int unchanged = -1;
// The silence threshold is signed, so -1 is a real value there; 1 marks it unchanged.
constexpr int threshold_unchanged = 1;

using Field = std::pair<QLatin1String, int>;

// The word of a code, or undefined (the field is left out) when the list has no such entry.
QJsonValue word(const QStringList &words, int code)
{
    return has_position(words, code) ? QJsonValue(words.at(code)) : QJsonValue(QJsonValue::Undefined);
}

void put(QJsonObject &object, const QString &key, const QJsonValue &value)
{
    if (!value.isUndefined())
        object.insert(key, value);
}

void put_word(QJsonObject &object, const QString &key, const QStringList &words, int code)
{
    if (code != unchanged)
        put(object, key, word(words, code));
}

void put_number(QJsonObject &object, const QString &key, int value)
{
    if (value != unchanged)
        object.insert(key, value);
}

// Boolean fields, each left out when unchanged; any non-zero value is true.
QJsonObject flags(std::initializer_list<Field> fields)
{
    QJsonObject object;
    for (const auto &[key, value] : fields) {
        if (value != unchanged)
            object.insert(key, value != 0);
    }
    return object;
}

// Colour fields, each the name of an LED colour code, left out when unchanged or unknown.
QJsonObject colours(std::initializer_list<Field> fields)
{
    QJsonObject object;
    for (const auto &[key, code] : fields)
        put_word(object, key, led_color_names, code);
    return object;
}

} // namespace

void CWebSocketInterface::notify_keyed(const QString &msg, const QStringList &members, int index,
                                       const QJsonValue &value)
{
    // Only real members: not "*", not the unnamed voice-track positions, never past the list.
    if (index < 0 || index >= member_count(members) || members.at(index).isEmpty())
        return;
    QJsonObject data;
    put(data, members.at(index), value);
    notify(msg, data);
}

void CWebSocketInterface::on_ctrl_led_event(int id, int color)
{
    notify_keyed(QStringLiteral("on_ctrl_led"), ctrl_key_names, id, word(led_color_names, color));
}

void CWebSocketInterface::on_ctrl_led_blink_event(int id, int color_on, int color_off, int blink_speed)
{
    QJsonObject blink = colours({{QLatin1String("color_on"), color_on}, {QLatin1String("color_off"), color_off}});
    put_word(blink, QLatin1String("blink_speed"), blink_speed_names, blink_speed);
    notify_keyed(QStringLiteral("on_ctrl_led"), ctrl_key_names, id, blink);
}

void CWebSocketInterface::on_ctrl_switch_event(int id, int state)
{
    notify_keyed(QStringLiteral("on_ctrl_key"), ctrl_key_names, id, state != 0);
}

void CWebSocketInterface::on_config_auto_on_event(int mod, int state)
{
    notify_keyed(QStringLiteral("on_config_auto_on"), module_names, mod, state != 0);
}

void CWebSocketInterface::on_config_cue_reset_event(int mod, int enabled_by_line, int enabled_by_mic_usb_voip,
                                                    int reset_by_fader, int reset_by_on, int reset_by_fader_and_on)
{
    notify_keyed(QStringLiteral("on_config_cue_reset"), module_names, mod,
                 flags({{QLatin1String("enabled_by_line"), enabled_by_line},
                        {QLatin1String("enabled_by_mic_usb_voip"), enabled_by_mic_usb_voip},
                        {QLatin1String("reset_by_fader"), reset_by_fader},
                        {QLatin1String("reset_by_on"), reset_by_on},
                        {QLatin1String("reset_by_fader_and_on"), reset_by_fader_and_on}}));
}

void CWebSocketInterface::on_config_on_air_event(int mod, int on_air1_enabled_by_line,
                                                 int on_air1_enabled_by_mic_usb_voip, int on_air2_enabled_by_line,
                                                 int on_air2_enabled_by_mic_usb_voip)
{
    notify_keyed(QStringLiteral("on_config_on_air"), module_names, mod,
                 flags({{QLatin1String("on_air1_enabled_by_line"), on_air1_enabled_by_line},
                        {QLatin1String("on_air1_enabled_by_mic_usb_voip"), on_air1_enabled_by_mic_usb_voip},
                        {QLatin1String("on_air2_enabled_by_line"), on_air2_enabled_by_line},
                        {QLatin1String("on_air2_enabled_by_mic_usb_voip"), on_air2_enabled_by_mic_usb_voip}}));
}

void CWebSocketInterface::on_config_crm_mute_event(int mod, int state)
{
    notify_keyed(QStringLiteral("on_config_crm_mute"), mic_module_names, mod, state != 0);
}

void CWebSocketInterface::on_config_crm_auto_cue_reset_event(int mod, int state)
{
    notify_keyed(QStringLiteral("on_config_crm_auto_cue_reset"), mic_module_names, mod, state != 0);
}

void CWebSocketInterface::on_config_studio_remote_event(int mod, int cough_enable, int comm_enable, int comm_private)
{
    notify_keyed(QStringLiteral("on_config_studio_remote"), module_names, mod,
                 flags({{QLatin1String("cough_enable"), cough_enable},
                        {QLatin1String("comm_enable"), comm_enable},
                        {QLatin1String("comm_private"), comm_private}}));
}

void CWebSocketInterface::on_config_cue_interlock_event(int state)
{
    notify(QStringLiteral("on_config_cue_interlock"), state != 0);
}

void CWebSocketInterface::on_config_gpo_event(int gpo, int trigger, int mode, int type, int time)
{
    QJsonObject config;
    put_word(config, QLatin1String("trigger"), gpo_trigger_names, trigger);
    put_word(config, QLatin1String("mode"), gpo_mode_names, mode);
    put_word(config, QLatin1String("type"), gpo_type_names, type);
    put_number(config, QLatin1String("time"), time);
    notify_keyed(QStringLiteral("on_config_gpo"), gpo_names, gpo, config);
}

void CWebSocketInterface::on_config_cue_event(int cue, int color_on, int color_off)
{
    notify_keyed(QStringLiteral("on_config_cue"), cue_names, cue,
                 colours({{QLatin1String("color_on"), color_on}, {QLatin1String("color_off"), color_off}}));
}

void CWebSocketInterface::on_config_on_event(int mod, int color_on, int color_on_and_fader, int color_off)
{
    notify_keyed(QStringLiteral("on_config_on"), module_names, mod,
                 colours({{QLatin1String("color_on"), color_on},
                          {QLatin1String("color_on_and_fader"), color_on_and_fader},
                          {QLatin1String("color_off"), color_off}}));
}

void CWebSocketInterface::on_config_fader_reserve_event(int mod, int state)
{
    notify_keyed(QStringLiteral("on_config_fader_reserve"), module_names, mod, state != 0);
}

void CWebSocketInterface::on_config_silence_detection_event(int threshold, int interval, int interval_unit, int source,
                                                            int enable)
{
    QJsonObject data;
    if (threshold != threshold_unchanged)
        data.insert(QLatin1String("threshold"), threshold);
    put_number(data, QLatin1String("interval"), interval);
    put_word(data, QLatin1String("interval_unit"), interval_unit_names, interval_unit);
    put_word(data, QLatin1String("source"), silence_source_names, source);
    if (enable != unchanged)
        data.insert(QLatin1String("enable"), enable != 0);
    notify(QStringLiteral("on_config_silence_detection"), data);
}

void CWebSocketInterface::on_config_phantom_event(int mod, int state)
{
    notify_keyed(QStringLiteral("on_config_phantom"), module_names, mod, state != 0);
}

void CWebSocketInterface::on_config_mic_at_line_event(int mod, int state)
{
    notify_keyed(QStringLiteral("on_config_mic_at_line"), module_names, mod, state != 0);
}

void CWebSocketInterface::on_config_auto_off_event(int mod, int state)
{
    notify_keyed(QStringLiteral("on_config_auto_off"), module_names, mod, state != 0);
}

void CWebSocketInterface::on_config_locked_on_event(int mod, int state)
{
    notify_keyed(QStringLiteral("on_config_locked_on"), module_names, mod, state != 0);
}

void CWebSocketInterface::on_config_pgm_auto_off_event(int mod, int enabled_by_line, int enabled_by_mic_usb_voip)
{
    notify_keyed(QStringLiteral("on_config_pgm_auto_off"), module_names, mod,
                 flags({{QLatin1String("enabled_by_line"), enabled_by_line},
                        {QLatin1String("enabled_by_mic_usb_voip"), enabled_by_mic_usb_voip}}));
}

void CWebSocketInterface::on_config_mic_on_event(int trigger)
{
    // The mode is the whole message: an unknown one leaves nothing to tell.
    const QJsonValue mode = word(mic_on_mode_names, trigger);
    if (!mode.isUndefined())
        notify(QStringLiteral("on_config_mic_on"), mode);
}

void CWebSocketInterface::on_state_on_event(int mod, int state)
{
    notify_keyed(QStringLiteral("on_on"), module_names, mod, state != 0);
}

void CWebSocketInterface::on_state_cue_event(int cue, int state)
{
    notify_keyed(QStringLiteral("on_cue"), cue_names, cue, state != 0);
}

void CWebSocketInterface::on_state_fader_event(int mod, int state)
{
    notify_keyed(QStringLiteral("on_fader"), module_names, mod, state != 0);
}

void CWebSocketInterface::on_state_auto_cue_event(int auto_cue, int state)
{
    notify_keyed(QStringLiteral("on_auto_cue"), auto_cue_names, auto_cue, state != 0);
}

void CWebSocketInterface::on_state_src_sel_event(int mod, int source)
{
    // notify_keyed drops modules outside the list, so mod indexes module_source_names only when valid.
    const QJsonValue name = has_position(module_source_names, mod) && source != 0
                                ? QJsonValue(module_source_names.at(mod))
                                : QJsonValue(QStringLiteral("line"));
    notify_keyed(QStringLiteral("on_source_select"), module_names, mod, name);
}

void CWebSocketInterface::on_state_non_stop_event(int state)
{
    notify(QStringLiteral("on_non_stop"), state != 0);
}

void CWebSocketInterface::on_state_mic_on_event(int state)
{
    notify(QStringLiteral("on_mic_on"), state != 0);
}

void CWebSocketInterface::on_state_gpo_event(int gpo, int state)
{
    notify_keyed(QStringLiteral("on_gpo"), gpo_names, gpo, state != 0);
}

void CWebSocketInterface::on_state_on_air_event(int on_air, int state)
{
    notify_keyed(QStringLiteral("on_on_air"), on_air_names, on_air, state != 0);
}

void CWebSocketInterface::on_state_silence_detection_event(int state)
{
    notify(QStringLiteral("on_silence_detection"), state != 0);
}

void CWebSocketInterface::on_state_metering_event(float pgm_l, float pgm_r, float phones_l, float phones_r, float crm_l,
                                                  float crm_r)
{
    const QJsonObject levels{
        {QLatin1String("pgm_left"), double(pgm_l)},       {QLatin1String("pgm_right"), double(pgm_r)},
        {QLatin1String("phones_left"), double(phones_l)}, {QLatin1String("phones_right"), double(phones_r)},
        {QLatin1String("crm_left"), double(crm_l)},       {QLatin1String("crm_right"), double(crm_r)},
    };
    notify(QStringLiteral("on_metering"), levels, topic_names.at(0));
}

void CWebSocketInterface::on_state_module_event(int mod, int state)
{
    notify_keyed(QStringLiteral("on_module_active"), module_names, mod, state != 0);
}

void CWebSocketInterface::on_state_crm_mute_event(int state)
{
    notify(QStringLiteral("on_crm_mute"), state != 0);
}

void CWebSocketInterface::on_state_track_event(int mod, int state)
{
    notify_keyed(QStringLiteral("on_track"), module_names, mod, word(track_state_names, state));
}

void CWebSocketInterface::on_state_comm_event(int mod, int state)
{
    notify_keyed(QStringLiteral("on_comm"), mic_module_names, mod, state != 0);
}

void CWebSocketInterface::on_state_cough_event(int mod, int state)
{
    notify_keyed(QStringLiteral("on_cough"), mic_module_names, mod, state != 0);
}

void CWebSocketInterface::on_state_vt_event(int mod, int state)
{
    notify_keyed(QStringLiteral("on_voicetrack"), voicetrack_module_names, mod, state != 0);
}

void CWebSocketInterface::on_state_phone_ringing_event(int state)
{
    notify(QStringLiteral("on_phone_ringing"), state != 0);
}

void CWebSocketInterface::on_state_connect_event(int state)
{
    notify(QStringLiteral("on_voip_connect"), state != 0);
}
