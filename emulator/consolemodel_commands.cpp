// The host's output reports as the console takes them: requests, and the commands, one table row each.
#include "emulator/consolemodel.h"

#include "emulator/factorystate.h"

#include <algorithm>
#include <array>

namespace emulator {

namespace {

constexpr int max_arguments = 5;
using Arguments = std::array<int, max_arguments>;

struct Command;
// Applies a command to the console's items; false when the console refuses it as a whole.
using Apply = bool (*)(ConsoleItems &, const Command &, const Arguments &);

// How the console answers a command it takes.
enum class Answer {
    state, // the state reports of what changed, nothing when nothing did
    echo,  // its own arguments repeated, changed or not
};

struct Command {
    command::Id id;
    int arguments; // argument bytes; a report whose length byte declares fewer is ignored
    item::Id item; // the item it sets
    Apply apply;
    int members = 0; // members the first argument selects (0: no member argument)
    int limit = 0;   // the highest value the console takes, or the mask of the item's flag bits
    int at = 0;      // the single switches: the byte of the item they switch
    Answer answer = Answer::state;
};

// Member number all_members is every member; a number past the last member addresses nothing.
template <typename F>
void for_members(int member, int count, F &&f)
{
    if (member == all_members) {
        for (int i = 0; i < count; ++i)
            f(i);
    } else if (member >= 0 && member < count) {
        f(member);
    }
}

// The new value of a switch, or -1 for an action the console does not have.
int switched(bool current, int action)
{
    switch (action) {
    case switch_off:
        return 0;
    case switch_on:
        return 1;
    case switch_toggle:
        return current ? 0 : 1;
    default:
        return -1;
    }
}

bool is_colour(int value)
{
    return value >= colour_off && value <= colour_green;
}

// A colour field is only replaced by a colour the console has.
void take_colour(ConsoleItems &items, item::Id id, ColourField field, int value)
{
    if (is_colour(value))
        items.set_colour(id, field, value);
}

bool switch_members(ConsoleItems &items, const Command &c, const Arguments &a)
{
    for_members(a[0], c.members, [&](int i) {
        const int value = switched(items.is_set(c.item, i), a[1]);
        if (value >= 0)
            items.set_byte(c.item, i, value);
    });
    return true;
}

bool switch_one(ConsoleItems &items, const Command &c, const Arguments &a)
{
    const int value = switched(items.is_set(c.item, c.at), a[0]);
    if (value >= 0)
        items.set_byte(c.item, c.at, value);
    return true;
}

// All buses at once are switched without the interlock; a single bus goes through it.
bool switch_cues(ConsoleItems &items, const Command &c, const Arguments &a)
{
    if (a[0] == all_members) {
        for (int bus = 0; bus < c.members; ++bus) {
            const int value = switched(items.bit(c.item, bus), a[1]);
            if (value < 0)
                break;
            items.set_bit(c.item, bus, value != 0);
        }
    } else if (a[0] >= 0 && a[0] < c.members) {
        const bool current = items.bit(c.item, a[0]);
        const int value = switched(current, a[1]);
        if (value >= 0 && (value != 0) != current)
            switch_cue(items, a[0], value != 0);
    }
    return true;
}

// One byte per member, taken when it is 0 up to the limit.
bool set_members(ConsoleItems &items, const Command &c, const Arguments &a)
{
    if (a[1] <= c.limit)
        for_members(a[0], c.members, [&](int i) { items.set_byte(c.item, i, a[1]); });
    return true;
}

// Modules 1-3 and 8 have a voice-track function; the others keep their byte.
bool set_voice_track(ConsoleItems &items, const Command &c, const Arguments &a)
{
    if (a[1] <= c.limit) {
        for_members(a[0], c.members, [&](int i) {
            if (i < mic_module_count || i == module_count - 1)
                items.set_byte(c.item, i, a[1]);
        });
    }
    return true;
}

// One byte of flags per member; bits the item does not have are dropped.
bool set_flags(ConsoleItems &items, const Command &c, const Arguments &a)
{
    for_members(a[0], c.members, [&](int i) { items.set_byte(c.item, i, a[1] & c.limit); });
    return true;
}

bool set_single(ConsoleItems &items, const Command &c, const Arguments &a)
{
    if (a[0] <= c.limit)
        items.set_byte(c.item, 0, a[0]);
    return true;
}

// Each field is taken when the console has that value; the time is any byte.
bool set_gpo(ConsoleItems &items, const Command &c, const Arguments &a)
{
    for_members(a[0], c.members, [&](int g) {
        const int at = gpo_stride * g;
        if (a[1] <= max_gpo_trigger)
            items.set_byte(c.item, at + gpo_trigger, a[1]);
        if (a[2] <= gpo_inverted)
            items.set_byte(c.item, at + gpo_mode, a[2]);
        if (a[3] <= max_gpo_type)
            items.set_byte(c.item, at + gpo_type, a[3]);
        items.set_byte(c.item, at + gpo_time, a[4]);
    });
    return true;
}

// Arguments: bus, colour on, colour off.
bool set_cue_colours(ConsoleItems &items, const Command &c, const Arguments &a)
{
    for_members(a[0], c.members, [&](int i) {
        take_colour(items, c.item, nibble_colour(i, nibble_colour_on), a[1]);
        take_colour(items, c.item, nibble_colour(i, nibble_colour_off), a[2]);
    });
    return true;
}

// Arguments: module, colour on, colour on with the fader open, colour off.
bool set_on_colours(ConsoleItems &items, const Command &c, const Arguments &a)
{
    for_members(a[0], c.members, [&](int i) {
        take_colour(items, c.item, nibble_colour(i, nibble_colour_on), a[1]);
        take_colour(items, c.item, on_and_fader_colour(i), a[2]);
        take_colour(items, c.item, nibble_colour(i, nibble_colour_off), a[3]);
    });
    return true;
}

// Thresholds are 0 dB or below; the interval is any byte.
bool set_silence_detection(ConsoleItems &items, const Command &c, const Arguments &a)
{
    if (static_cast<signed char>(a[silence_threshold]) <= 0)
        items.set_byte(c.item, silence_threshold, a[silence_threshold]);
    items.set_byte(c.item, silence_interval, a[silence_interval]);
    if (a[silence_unit] <= max_silence_unit)
        items.set_byte(c.item, silence_unit, a[silence_unit]);
    if (a[silence_source] <= max_silence_source)
        items.set_byte(c.item, silence_source, a[silence_source]);
    if (a[silence_enable] <= 1)
        items.set_byte(c.item, silence_enable, a[silence_enable]);
    return true;
}

bool is_led(int led)
{
    return led == all_members || (led >= 0 && led < ctrl_key_count);
}

// Arguments: LED, colour. The LED shows the colour steadily; its blink values stay for its next blink.
bool set_led_colour(ConsoleItems &items, const Command &c, const Arguments &a)
{
    if (!is_led(a[0]) || !is_colour(a[1]))
        return false;
    for_members(a[0], c.members, [&](int n) {
        items.set_byte(item::led_colours, n, a[1]);
        items.set_byte(item::led_blink, blink_stride * n + blink_flag, 0);
    });
    return true;
}

// Arguments: LED, colour on, colour off, speed.
bool set_led_blink(ConsoleItems &items, const Command &c, const Arguments &a)
{
    if (!is_led(a[0]) || !is_colour(a[1]) || !is_colour(a[2]) || a[3] > max_blink_speed)
        return false;
    for_members(a[0], c.members, [&](int n) {
        const int at = blink_stride * n;
        items.set_byte(item::led_blink, at + blink_flag, 1);
        items.set_byte(item::led_blink, at + blink_colour_on, a[1]);
        items.set_byte(item::led_blink, at + blink_colour_off, a[2]);
        items.set_byte(item::led_blink, at + blink_speed, a[3]);
    });
    return true;
}

// Every command the console takes: id, argument bytes, the item it sets, how, members, limit, byte, answer.
// Arguments, in order: the member (where members is given), then the values.
constexpr std::array commands{
    Command{command::led_colour, 2, item::led_colours, set_led_colour, ctrl_key_count, 0, 0, Answer::echo},
    Command{command::led_blink, 4, item::led_blink, set_led_blink, ctrl_key_count, 0, 0, Answer::echo},
    Command{command::on, 2, item::on_state, switch_members, module_count},
    Command{command::cue, 2, item::cue_state, switch_cues, cue_count},
    Command{command::auto_cue_announcer, 1, item::auto_cue_state, switch_one, 0, 0, 1},
    Command{command::auto_cue_crm, 1, item::auto_cue_state, switch_one, 0, 0, 0},
    Command{command::non_stop, 1, item::non_stop_state, switch_one},
    Command{command::comm, 2, item::comm, set_members, mic_module_count, 1},
    Command{command::cough, 2, item::cough, set_members, mic_module_count, 1},
    Command{command::voice_track, 2, item::voice_track, set_voice_track, module_count, 1},
    Command{command::track, 2, item::track_state, set_members, module_count, max_track_state},
    Command{command::auto_on, 2, item::auto_on_config, set_members, module_count, 1},
    Command{command::cue_reset, 2, item::cue_reset_config, set_flags, module_count, cue_reset_bits},
    Command{command::on_air, 2, item::on_air_config, set_flags, module_count, on_air_bits},
    Command{command::crm_mute, 2, item::crm_mute_config, set_members, mic_module_count, 1},
    Command{command::crm_auto_cue_reset, 2, item::crm_auto_cue_reset_config, set_members, mic_module_count, 1},
    Command{command::studio_remote, 2, item::studio_remote_config, set_flags, mic_module_count, studio_remote_bits},
    Command{command::cue_interlock, 1, item::cue_interlock_config, set_single, 0, 1},
    Command{command::gpo, 5, item::gpo_config, set_gpo, gpo_count},
    Command{command::cue_colours, 3, item::cue_colours_config, set_cue_colours, cue_count},
    Command{command::on_colours, 4, item::on_colours_config, set_on_colours, module_count},
    Command{command::fader_reserve, 2, item::fader_reserve_config, set_members, module_count, 1},
    Command{command::silence_detection, 5, item::silence_detection_config, set_silence_detection},
    Command{command::phantom, 2, item::phantom_config, set_members, mic_module_count, 1},
    Command{command::mic_at_line, 2, item::mic_at_line_config, set_members, mic_module_count, 1},
    Command{command::auto_off, 2, item::auto_off_config, set_members, module_count, 1},
    Command{command::locked_on, 2, item::locked_on_config, set_members, module_count, 1},
    Command{command::pgm_auto_off, 2, item::pgm_auto_off_config, set_flags, module_count, pgm_auto_off_bits},
    Command{command::mic_on_mode, 1, item::mic_on_mode_config, set_single, 0, mic_on_follows_on_air2},
};

constexpr bool has_factory_item(item::Id id)
{
    return std::any_of(factory_state.cbegin(), factory_state.cend(), [id](const FactoryItem &f) { return f.id == id; });
}

constexpr bool is_switch(const Command &c)
{
    return c.apply == switch_members || c.apply == switch_cues || c.apply == switch_one;
}

// Each command sets an item the console has, under that item's id unless it is a switch; takes its member
// argument before its values; fits an output report; and has one row.
constexpr bool commands_are_sound()
{
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const Command &c = commands[i];
        if (!has_factory_item(c.item) || (int{c.id} != int{c.item} && !is_switch(c)))
            return false;
        if (c.arguments < (c.members > 0 ? 2 : 1) || c.arguments > max_arguments)
            return false;
        for (std::size_t j = 0; j < i; ++j) {
            if (commands[j].id == c.id)
                return false;
        }
    }
    return true;
}
static_assert(commands_are_sound());

const Command *find_command(unsigned char id)
{
    const auto it = std::find_if(commands.cbegin(), commands.cend(), [id](const Command &c) { return c.id == id; });
    return it == commands.cend() ? nullptr : &*it;
}

} // namespace

void ConsoleModel::output_report(const QByteArray &report, EmulatedDevice &)
{
    if (report.size() < 2)
        return;
    const auto type = static_cast<unsigned char>(report.at(1));
    const auto id = static_cast<unsigned char>(type & 0x3F);
    switch (static_cast<MessageType>(type >> 6)) {
    case MessageType::request:
        answer_request(id);
        break;
    case MessageType::command:
        apply_command(id, report);
        break;
    default:
        break; // echoes and state reports only travel towards the host
    }
}

void ConsoleModel::apply_command(unsigned char id, const QByteArray &report)
{
    const Command *command = find_command(id);
    if (!command)
        return; // not a command this console knows
    const int declared = static_cast<unsigned char>(report.at(0)) - 2;
    if (declared < command->arguments || report.size() - 2 < command->arguments)
        return;
    Arguments args{};
    for (int i = 0; i < command->arguments; ++i)
        args[static_cast<std::size_t>(i)] = static_cast<unsigned char>(report.at(2 + i));

    if (command->answer == Answer::echo) {
        if (command->apply(items, *command, args)) {
            QByteArray echo = report.left(2 + command->arguments);
            echo[0] = static_cast<char>(2 + command->arguments);
            echo[1] = static_cast<char>(type_byte(MessageType::echo, id));
            send(echo, true);
        }
        return;
    }
    change(command->item, true, [&](ConsoleItems &edited) { command->apply(edited, *command, args); });
}

} // namespace emulator
