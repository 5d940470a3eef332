// Configuration commands: the console's stored settings.
#include "websocket/cwebsocketinterface.h"

#include "console/ckorvel.h"
#include "console/valuelists.h"
#include "websocket/consolecommand.h"

using namespace korvel;
using namespace korvel::commands;

namespace {

// One boolean per member.
const Command config_auto_off_command = keyed_flag(module_names, with_member<&CKorvel::config_auto_off>);
const Command config_locked_on_command = keyed_flag(module_names, with_member<&CKorvel::config_locked_on>);
const Command config_auto_on_command = keyed_flag(module_names, with_member<&CKorvel::config_auto_on>);
const Command config_fader_reserve_command = keyed_flag(module_names, with_member<&CKorvel::config_fader_reserve>);
const Command config_crm_auto_cue_reset_command =
    keyed_flag(mic_module_names, with_member<&CKorvel::config_crm_auto_cue_reset>);
const Command config_crm_mute_command = keyed_flag(mic_module_names, with_member<&CKorvel::config_crm_mute>);
const Command config_mic_at_line_command = keyed_flag(mic_module_names, with_member<&CKorvel::config_mic_at_line>);
const Command config_phantom_command = keyed_flag(mic_module_names, with_member<&CKorvel::config_phantom>);

// One settings object per member; members are listed in reading order, each with the argument it fills.
const Command config_pgm_auto_off_command =
    keyed_settings(module_names, {flag("enabled_by_line", 0), flag("enabled_by_mic_usb_voip", 1)},
                   with_member<&CKorvel::config_pgm_auto_off>);

const Command config_cue_command =
    keyed_settings(cue_names, {word("color_off", led_color_names, 1), word("color_on", led_color_names, 0)},
                   with_member<&CKorvel::config_cue>);

const Command config_cue_reset_command =
    keyed_settings(module_names,
                   {flag("enabled_by_line", 0), flag("enabled_by_mic_usb_voip", 1), flag("reset_by_fader", 2),
                    flag("reset_by_on", 3), flag("reset_by_fader_and_on", 4)},
                   with_member<&CKorvel::config_cue_reset>);

const Command config_gpo_command =
    keyed_settings(gpo_names,
                   {word("trigger", gpo_trigger_names, 0), word("mode", gpo_mode_names, 1),
                    word("type", gpo_type_names, 2), number("time", 10, 255, 3)},
                   with_member<&CKorvel::config_gpo>);

const Command config_on_command =
    keyed_settings(module_names,
                   {word("color_off", led_color_names, 2), word("color_on", led_color_names, 0),
                    word("color_on_and_fader", led_color_names, 1)},
                   with_member<&CKorvel::config_on>);

const Command config_on_air_command =
    keyed_settings(module_names,
                   {flag("on_air1_enabled_by_line", 0), flag("on_air1_enabled_by_mic_usb_voip", 1),
                    flag("on_air2_enabled_by_line", 2), flag("on_air2_enabled_by_mic_usb_voip", 3)},
                   with_member<&CKorvel::config_on_air>);

const Command config_studio_remote_command = keyed_settings(
    studio_remote_module_names, {flag("cough_enable", 0), flag("comm_enable", 1), flag("comm_private", 2)},
    with_member<&CKorvel::config_studio_remote>);

// One value for the whole console. A MIC ON word outside the list is dropped without a refusal.
Field mic_on_mode()
{
    Field field = word(nullptr, mic_on_mode_names, 0);
    field.ignore_unknown_word = true;
    return field;
}
const Command config_mic_on_command{.expected = Expected::String,
                                    .forms = {Form{.type = QJsonValue::String,
                                                   .fields = {mic_on_mode()},
                                                   .operation = without_member<&CKorvel::config_mic_on>}}};

const Command config_cue_interlock_command{
    .expected = Expected::Bool,
    .forms = {Form{.type = QJsonValue::Bool,
                   .fields = {flag(nullptr, 0)},
                   .operation = without_member<&CKorvel::config_cue_interlock>}}};

// One settings object for the whole console; it must name something. An absent threshold is passed as 1,
// since -1 is a threshold the console accepts.
const Command config_silence_detection_command{
    .expected = Expected::Object,
    .forms = {Form{.type = QJsonValue::Object,
                   .fields = {number("threshold", -40, 0, 0, 1), number("interval", 2, 255, 1),
                              word("interval_unit", interval_unit_names, 2), word("source", silence_source_names, 3),
                              flag("enable", 4)},
                   .operation = without_member<&CKorvel::config_silence_detection>,
                   .needs_members = true}}};

} // namespace

int CWebSocketInterface::set_config_auto_off(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, config_auto_off_command, data, error);
}

int CWebSocketInterface::set_config_locked_on(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, config_locked_on_command, data, error);
}

int CWebSocketInterface::set_config_pgm_auto_off(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, config_pgm_auto_off_command, data, error);
}

int CWebSocketInterface::set_config_mic_on(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, config_mic_on_command, data, error);
}

int CWebSocketInterface::set_config_auto_on(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, config_auto_on_command, data, error);
}

int CWebSocketInterface::set_config_crm_auto_cue_reset(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, config_crm_auto_cue_reset_command, data, error);
}

int CWebSocketInterface::set_config_crm_mute(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, config_crm_mute_command, data, error);
}

int CWebSocketInterface::set_config_cue(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, config_cue_command, data, error);
}

int CWebSocketInterface::set_config_cue_interlock(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, config_cue_interlock_command, data, error);
}

int CWebSocketInterface::set_config_cue_reset(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, config_cue_reset_command, data, error);
}

int CWebSocketInterface::set_config_fader_reserve(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, config_fader_reserve_command, data, error);
}

int CWebSocketInterface::set_config_gpo(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, config_gpo_command, data, error);
}

int CWebSocketInterface::set_config_mic_at_line(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, config_mic_at_line_command, data, error);
}

int CWebSocketInterface::set_config_on(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, config_on_command, data, error);
}

int CWebSocketInterface::set_config_on_air(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, config_on_air_command, data, error);
}

int CWebSocketInterface::set_config_phantom(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, config_phantom_command, data, error);
}

int CWebSocketInterface::set_config_silence_detection(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, config_silence_detection_command, data, error);
}

int CWebSocketInterface::set_config_studio_remote(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, config_studio_remote_command, data, error);
}
