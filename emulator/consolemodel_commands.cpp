// The host's output reports as the console takes them: requests, commands and the LED commands.
#include "emulator/consolemodel.h"

#include <algorithm>

namespace emulator {

namespace {

constexpr int all_members = 255;

// Argument bytes each command needs; a command whose length byte declares fewer is ignored.
int argument_count(unsigned char id)
{
    switch (id) {
    case 0x08:
    case 0x09:
    case 0x0A:
    case 0x17:
    case 0x33:
        return 1;
    case 0x19:
        return 3;
    case 0x03:
    case 0x1A:
        return 4;
    case 0x18:
    case 0x1C:
        return 5;
    case 0x02:
    case 0x05:
    case 0x06:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x11:
    case 0x12:
    case 0x13:
    case 0x14:
    case 0x15:
    case 0x16:
    case 0x1B:
    case 0x1D:
    case 0x1E:
    case 0x1F:
    case 0x2C:
    case 0x31:
    case 0x32:
        return 2;
    default:
        return -1; // not a command this console knows
    }
}

// Member number 255 is every member; a number past the last member addresses nothing.
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

// Switch actions: 0 off, 1 on, 2 toggle. Returns the new value, or -1 for an action the console lacks.
int switched(int current, int action)
{
    switch (action) {
    case 0:
        return 0;
    case 1:
        return 1;
    case 2:
        return current ? 0 : 1;
    default:
        return -1;
    }
}

bool has_voice_track(int position)
{
    return position <= 2 || position == 7;
}

// Replaces the 2-bit field at bit shift of b when value is a colour code (0 off, 1 red, 2 green).
void set_colour_field(unsigned char &b, int shift, int value)
{
    if (value < 0 || value > 2)
        return;
    b = static_cast<unsigned char>((b & ~(3 << shift)) | (value << shift));
}

} // namespace

void ConsoleModel::output_report(const QByteArray &report, EmulatedDevice &)
{
    if (report.size() < 2)
        return;
    const auto type = static_cast<unsigned char>(report.at(1));
    const auto id = static_cast<unsigned char>(type & 0x3F);
    switch (type >> 6) {
    case 1:
        answer_request(id);
        break;
    case 0: {
        const int needed = argument_count(id);
        const int declared = static_cast<unsigned char>(report.at(0)) - 2;
        if (needed < 0 || declared < needed || report.size() - 2 < needed)
            return;
        apply_command(id, report.mid(2, needed));
        break;
    }
    default:
        break; // echoes and state reports only travel towards the host
    }
}

void ConsoleModel::apply_command(unsigned char id, const QByteArray &args)
{
    if (id == 0x02 || id == 0x03) {
        if (apply_led_command(id, args))
            echo(id, args);
        return;
    }

    const auto arg = [&](int i) { return static_cast<int>(static_cast<unsigned char>(args.at(i))); };
    const Items before = items;
    unsigned char primary = id;

    // One byte per member, set to value when value is 0..max.
    const auto set_members = [&](unsigned char item, int count, int value, int max) {
        if (value > max)
            return;
        for_members(arg(0), count, [&](int i) { set_byte(item, i, static_cast<unsigned char>(value)); });
    };
    const auto set_flags = [&](unsigned char item, int count, unsigned char mask) {
        for_members(arg(0), count, [&](int i) { set_byte(item, i, static_cast<unsigned char>(arg(1) & mask)); });
    };

    switch (id) {
    case 0x05: // ON keys
        primary = 0x20;
        for_members(arg(0), module_count, [&](int i) {
            const int value = switched(is_on(i), arg(1));
            if (value >= 0)
                set_byte(0x20, i, static_cast<unsigned char>(value));
        });
        break;
    case 0x06: // cue buses
        primary = 0x21;
        if (arg(0) == all_members) {
            for (int bus = 0; bus < cue_count; ++bus) {
                const int value = switched(is_cue_on(bus), arg(1));
                if (value < 0)
                    break;
                const quint16 bit = static_cast<quint16>(1u << bus);
                set_word(0x21, value ? (word(0x21) | bit) : (word(0x21) & ~bit));
            }
        } else if (arg(0) < cue_count) {
            const int value = switched(is_cue_on(arg(0)), arg(1));
            if (value >= 0 && value != int(is_cue_on(arg(0))))
                switch_cue(arg(0), value != 0);
        }
        break;
    case 0x08: // auto cue, announcer
    case 0x09: // auto cue, control room
    {
        primary = 0x23;
        const int target = id == 0x08 ? 1 : 0;
        const int value = switched(byte(0x23, target), arg(0));
        if (value >= 0)
            set_byte(0x23, target, static_cast<unsigned char>(value));
        break;
    }
    case 0x0A: // non-stop
    {
        primary = 0x25;
        const int value = switched(byte(0x25, 0), arg(0));
        if (value >= 0)
            set_byte(0x25, 0, static_cast<unsigned char>(value));
        break;
    }
    case 0x0B: // comm
    case 0x0C: // cough
    case 0x14: // CRM mute
    case 0x15: // CRM auto-cue reset
    case 0x1D: // phantom power
    case 0x1E: // mic at line
        set_members(id, mic_module_count, arg(1), 1);
        break;
    case 0x0D: // voice track: modules 1-3 and 8 have one
        if (arg(1) <= 1) {
            for_members(arg(0), module_count, [&](int i) {
                if (has_voice_track(i))
                    set_byte(0x0D, i, static_cast<unsigned char>(arg(1)));
            });
        }
        break;
    case 0x11: // auto on
    case 0x1B: // fader reserve
    case 0x1F: // auto off
    case 0x31: // locked on
        set_members(id, module_count, arg(1), 1);
        break;
    case 0x2C: // track transport
        set_members(id, module_count, arg(1), 2);
        break;
    case 0x12: // cue reset
        set_flags(id, module_count, 0x1F);
        break;
    case 0x13: // on-air
        set_flags(id, module_count, 0x0F);
        break;
    case 0x16: // studio remote
        set_flags(id, mic_module_count, 0x07);
        break;
    case 0x32: // PGM auto off
        set_flags(id, module_count, 0x03);
        break;
    case 0x17: // cue interlock
        if (arg(0) <= 1)
            set_byte(0x17, 0, static_cast<unsigned char>(arg(0)));
        break;
    case 0x33: // MIC ON mode
        if (arg(0) <= 2)
            set_byte(0x33, 0, static_cast<unsigned char>(arg(0)));
        break;
    case 0x18: // GPO: each field taken when the console has that value
        for_members(arg(0), gpo_count, [&](int g) {
            if (arg(1) <= 13)
                set_byte(0x18, 4 * g, static_cast<unsigned char>(arg(1)));
            if (arg(2) <= 1)
                set_byte(0x18, 4 * g + 1, static_cast<unsigned char>(arg(2)));
            if (arg(3) <= 3)
                set_byte(0x18, 4 * g + 2, static_cast<unsigned char>(arg(3)));
            set_byte(0x18, 4 * g + 3, static_cast<unsigned char>(arg(4)));
        });
        break;
    case 0x19: // cue colours: cue i in the nibble of byte i / 2
        for_members(arg(0), cue_count, [&](int i) {
            unsigned char b = byte(0x19, i / 2);
            const int shift = (i % 2) * 4;
            set_colour_field(b, shift, arg(1));
            set_colour_field(b, shift + 2, arg(2));
            set_byte(0x19, i / 2, b);
        });
        break;
    case 0x1A: // ON colours: on and off in the module's nibble, on-with-fader in bytes 4-5
        for_members(arg(0), module_count, [&](int i) {
            unsigned char b = byte(0x1A, i / 2);
            const int shift = (i % 2) * 4;
            set_colour_field(b, shift, arg(1));
            set_colour_field(b, shift + 2, arg(3));
            set_byte(0x1A, i / 2, b);
            unsigned char f = byte(0x1A, 4 + i / 4);
            set_colour_field(f, 2 * (i % 4), arg(2));
            set_byte(0x1A, 4 + i / 4, f);
        });
        break;
    case 0x1C: // silence detection: thresholds are 0 dB or below
        if (static_cast<signed char>(arg(0)) <= 0)
            set_byte(0x1C, 0, static_cast<unsigned char>(arg(0)));
        set_byte(0x1C, 1, static_cast<unsigned char>(arg(1)));
        if (arg(2) <= 1)
            set_byte(0x1C, 2, static_cast<unsigned char>(arg(2)));
        if (arg(3) <= 2)
            set_byte(0x1C, 3, static_cast<unsigned char>(arg(3)));
        if (arg(4) <= 1)
            set_byte(0x1C, 4, static_cast<unsigned char>(arg(4)));
        break;
    default:
        return;
    }
    commit(primary, before, true);
}

bool ConsoleModel::apply_led_command(unsigned char id, const QByteArray &args)
{
    const auto arg = [&](int i) { return static_cast<int>(static_cast<unsigned char>(args.at(i))); };
    const int led = arg(0);
    if (led != all_members && led >= ctrl_key_count)
        return false;
    if (id == 0x02) {
        if (arg(1) > 2)
            return false;
        for_members(led, ctrl_key_count, [&](int n) {
            set_byte(0x02, n, static_cast<unsigned char>(arg(1)));
            set_byte(0x03, 4 * n, 0);
        });
        return true;
    }
    if (arg(1) > 2 || arg(2) > 2 || arg(3) > 2)
        return false;
    for_members(led, ctrl_key_count, [&](int n) {
        set_byte(0x03, 4 * n, 1);
        for (int k = 1; k <= 3; ++k)
            set_byte(0x03, 4 * n + k, static_cast<unsigned char>(arg(k)));
    });
    return true;
}

void ConsoleModel::echo(unsigned char id, const QByteArray &args)
{
    QByteArray report;
    report.append(static_cast<char>(2 + args.size()));
    report.append(static_cast<char>(0x80 | id));
    report.append(args);
    send(report, true);
}

} // namespace emulator
