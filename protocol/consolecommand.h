#pragma once

#include "console/items.h"
#include "protocol/jsonargs.h"

#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <span>
#include <string_view>

class CKorvel;

// The console commands of the protocol described as data: which keys a command takes, which catalogue
// item a value sets and in which order its fields are read. One routine (carry_out) walks a message through
// such a description, so every command follows the same order of checks and gives the same refusals.
namespace korvel::commands {

using jsonargs::Expected;

// Carries out one value: the fields of item, one per field in the item's order, for member.
using Operation = void (*)(CKorvel &console, ReportId item, int member, const int *fields);
// Reads and carries out one value by hand, for the command whose members each switch an item of their own.
using Custom = int (*)(CKorvel &console, int member, const QJsonValue &value, const QString &path, QString &error);

// The order in which the members of a settings object are read (the first fault found is the one refused).
enum class Order { listed, by_name };

// What a value of one JSON type means: the fields of one catalogue item.
struct Form {
    QJsonValue::Type type = QJsonValue::Undefined;
    ReportId item{};
    std::array<qint8, layout::max_fields> reading{}; // field positions in reading order
    int count = 0;
    bool needs_members = false; // an empty settings object is refused as the wrong type
};

constexpr Form form(QJsonValue::Type type, ReportId id, Order order = Order::listed, bool needs_members = false)
{
    const Item &row = item(id);
    Form result{type, id, {}, static_cast<int>(row.fields.size()), needs_members};
    for (int k = 0; k < result.count; ++k)
        result.reading[k] = static_cast<qint8>(k);
    if (order == Order::by_name) {
        const auto name = [&](int n) {
            if (!row.fields[result.reading[n]].name)
                throw "a field read by name has no name";
            return std::string_view(row.fields[result.reading[n]].name);
        };
        for (int n = 1; n < result.count; ++n) {
            for (int m = n; m > 0 && name(m) < name(m - 1); --m)
                std::swap(result.reading[m], result.reading[m - 1]);
        }
    }
    return result;
}

struct Command {
    std::string_view name; // "msg"
    // The member list the keys of "data" are looked up in; null when "data" is the value itself.
    const QStringList *keys = nullptr;
    Expected expected = Expected::Object; // named when the value fits none of the forms
    std::array<Form, 2> forms{};
    Operation operation = nullptr; // null: CKorvel::set on the form's item
    Custom custom = nullptr;       // reads the value itself instead of the forms
    // A word outside its list is dropped quietly instead of refused.
    bool drop_unknown_word = false;
};

// Carries out one console command on "data". 0: done (or nothing to do); -1: refused at the first fault, with
// error set. Keys are taken in ascending order, each sent before the next is read, so keys before a refused
// one stay in effect.
int carry_out(CKorvel &console, const Command &command, const QJsonValue &data, QString &error);

// The irregular pieces (consolecommand_irregular.cpp): auto-cue's two targets are two items, and the studio
// remote's "comm" and "cough" each switch at once.
inline const QStringList auto_cue_keys{"announcer", "crm"};
void auto_cue(CKorvel &console, ReportId item, int member, const int *fields);
int studio_remote(CKorvel &console, int member, const QJsonValue &value, const QString &path, QString &error);

using J = QJsonValue;
using R = ReportId;
using E = Expected;

// The console commands, in the order "msg" is compared with them.
// clang-format off
inline constexpr Command command_table[] = {
    {"set_auto_cue",            &auto_cue_keys,        E::String, {form(J::String, R::auto_cue_ann)}, auto_cue},
    {"set_ctrl_led",            &ctrl_key_names,       E::StringOrObject,
                                {form(J::String, R::ctrl_led), form(J::Object, R::ctrl_led_blink, Order::by_name)}},
    {"set_cue",                 &cue_names,            E::String, {form(J::String, R::switch_cue)}},
    {"set_non_stop",            nullptr,               E::String, {form(J::String, R::switch_non_stop)}},
    {"set_on",                  &module_names,         E::String, {form(J::String, R::switch_on)}},
    {"set_studio_remote",       &studio_remote_module_names, E::Object, {}, nullptr, studio_remote},
    {"set_track",               &module_names,         E::String, {form(J::String, R::track)}},
    {"set_voicetrack",          &voicetrack_module_names, E::Bool, {form(J::Bool, R::voicetrack)}},
    {"set_config_auto_off",     &module_names,         E::Bool,   {form(J::Bool, R::config_auto_off)}},
    {"set_config_locked_on",    &module_names,         E::Bool,   {form(J::Bool, R::config_locked_on)}},
    {"set_config_pgm_auto_off", &module_names,         E::Object, {form(J::Object, R::config_pgm_auto_off)}},
    {"set_config_mic_on",       nullptr,               E::String, {form(J::String, R::config_mic_on)}, nullptr, nullptr, true},
    {"set_config_auto_on",      &module_names,         E::Bool,   {form(J::Bool, R::config_auto_on)}},
    {"set_config_crm_auto_cue_reset", &mic_module_names, E::Bool, {form(J::Bool, R::config_crm_auto_cue_reset)}},
    {"set_config_crm_mute",     &mic_module_names,     E::Bool,   {form(J::Bool, R::config_crm_mute)}},
    {"set_config_cue",          &cue_names,            E::Object, {form(J::Object, R::config_cue, Order::by_name)}},
    {"set_config_cue_interlock", nullptr,              E::Bool,   {form(J::Bool, R::config_cue_interlock)}},
    {"set_config_cue_reset",    &module_names,         E::Object, {form(J::Object, R::config_cue_reset)}},
    {"set_config_fader_reserve", &module_names,        E::Bool,   {form(J::Bool, R::config_fader_reserve)}},
    {"set_config_gpo",          &gpo_names,            E::Object, {form(J::Object, R::config_gpo)}},
    {"set_config_mic_at_line",  &mic_module_names,     E::Bool,   {form(J::Bool, R::config_mic_at_line)}},
    {"set_config_on",           &module_names,         E::Object, {form(J::Object, R::config_on, Order::by_name)}},
    {"set_config_on_air",       &module_names,         E::Object, {form(J::Object, R::config_on_air)}},
    {"set_config_phantom",      &mic_module_names,     E::Bool,   {form(J::Bool, R::config_phantom)}},
    {"set_config_silence_detection", nullptr,          E::Object,
                                {form(J::Object, R::config_silence_detection, Order::listed, true)}},
    {"set_config_studio_remote", &studio_remote_module_names, E::Object, {form(J::Object, R::config_studio_remote)}},
};
// clang-format on

namespace detail {
// Names are unique, and a form's JSON type fits its item: a plain value is an item's one unnamed field, a
// settings object names every field it reads.
constexpr bool table_is_consistent()
{
    for (std::size_t i = 0; i < std::size(command_table); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (command_table[i].name == command_table[j].name)
                return false;
        }
        for (const Form &f : command_table[i].forms) {
            if (f.type == QJsonValue::Undefined)
                continue;
            for (const layout::Field &field : item(f.item).fields) {
                if ((f.type == QJsonValue::Object) != (field.name != nullptr))
                    return false;
            }
        }
    }
    return true;
}
static_assert(table_is_consistent());
} // namespace detail

// The console command called name (exact, case-sensitive), or null.
const Command *find_command(QStringView name);

} // namespace korvel::commands
