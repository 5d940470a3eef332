// Control commands: the console's live switches, keys and LEDs.
#include "websocket/cwebsocketinterface.h"

#include "console/ckorvel.h"
#include "console/valuelists.h"
#include "websocket/consolecommand.h"

using namespace korvel;
using namespace korvel::commands;

namespace {

// The two auto-cue targets are fixed words; "*" is not one of them.
const QStringList auto_cue_keys{"announcer", "crm"};

void auto_cue(CKorvel &console, int target, const Args &args)
{
    if (target == 0)
        console.auto_cue_ann(args[0]);
    else
        console.auto_cue_crm(args[0]);
}

const Command auto_cue_command = keyed_word(auto_cue_keys, switch_action_names, auto_cue);

// A string is a steady colour, an object a blinking setting read as blink_speed, color_off, color_on.
const Command ctrl_led_command{
    .keys = &ctrl_key_names,
    .expected = Expected::StringOrObject,
    .forms = {Form{.type = QJsonValue::String,
                   .fields = {word(nullptr, led_color_names, 0)},
                   .operation = with_member<&CKorvel::ctrl_led>},
              Form{.type = QJsonValue::Object,
                   .fields = {word("blink_speed", blink_speed_names, 2), word("color_off", led_color_names, 1),
                              word("color_on", led_color_names, 0)},
                   .operation = with_member<&CKorvel::ctrl_led_blink>}}};

const Command cue_command = keyed_word(cue_names, switch_action_names, with_member<&CKorvel::cue>);

const Command non_stop_command{.expected = Expected::String,
                               .forms = {Form{.type = QJsonValue::String,
                                              .fields = {word(nullptr, switch_action_names, 0)},
                                              .operation = without_member<&CKorvel::non_stop>}}};

const Command on_command = keyed_word(module_names, switch_action_names, with_member<&CKorvel::on>);

// Each member switches at once, in name order: "comm" is sent before "cough" is read. "*" goes out as 255,
// all modules, as for every other command that takes it.
Field switching(const char *name, Operation operation)
{
    Field field = flag(name, 0);
    field.operation = operation;
    return field;
}
const Command studio_remote_command{.keys = &studio_remote_module_names,
                                    .expected = Expected::Object,
                                    .forms = {Form{.type = QJsonValue::Object,
                                                   .fields = {switching("comm", with_member<&CKorvel::comm>),
                                                              switching("cough", with_member<&CKorvel::cough>)}}}};

const Command track_command = keyed_word(module_names, track_state_names, with_member<&CKorvel::track>);

const Command voicetrack_command = keyed_flag(voicetrack_module_names, with_member<&CKorvel::voicetrack>);

} // namespace

int CWebSocketInterface::set_auto_cue(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, auto_cue_command, data, error);
}

int CWebSocketInterface::set_ctrl_led(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, ctrl_led_command, data, error);
}

int CWebSocketInterface::set_cue(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, cue_command, data, error);
}

int CWebSocketInterface::set_non_stop(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, non_stop_command, data, error);
}

int CWebSocketInterface::set_on(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, on_command, data, error);
}

int CWebSocketInterface::set_studio_remote(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, studio_remote_command, data, error);
}

int CWebSocketInterface::set_track(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, track_command, data, error);
}

int CWebSocketInterface::set_voicetrack(QWebSocket *, const QJsonValue &data, QString &error)
{
    return carry_out(*console, voicetrack_command, data, error);
}
