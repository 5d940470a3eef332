// Read-modify-write commands: fields the caller leaves out are filled from the console's last state report,
// so a client can change one field of a configuration item without knowing the others.
#include "console/ckorvel.h"
#include "console/reportlayout.h"
#include "console/valuelists.h"

#include <array>
#include <span>

struct korvel::ConfigItem {
    unsigned char command;      // type byte of the report written
    unsigned char cache_id;     // state report whose cached payload holds the current fields
    const QStringList *members; // nullptr: a single item, written without a member byte
    std::span<const korvel::layout::Field> fields;
    bool packed; // the fields are flag bits of one argument byte, each at its bit in the state report
};

namespace {
namespace layout = korvel::layout;
using Item = korvel::ConfigItem;

// clang-format off
constexpr Item config_cue_item          {0x19, 0x19, &korvel::cue_names,                  layout::cue_colour_fields,        false};
constexpr Item config_cue_reset_item    {0x12, 0x12, &korvel::module_names,               layout::cue_reset_fields,         true};
constexpr Item config_gpo_item          {0x18, 0x18, &korvel::gpo_names,                  layout::gpo_fields,               false};
constexpr Item config_on_item           {0x1A, 0x1A, &korvel::module_names,               layout::on_colour_fields,         false};
constexpr Item config_pgm_auto_off_item {0x32, 0x32, &korvel::module_names,               layout::pgm_auto_off_fields,      true};
constexpr Item config_on_air_item       {0x13, 0x13, &korvel::module_names,               layout::on_air_fields,            true};
constexpr Item config_studio_remote_item{0x16, 0x16, &korvel::studio_remote_module_names, layout::studio_remote_fields,     true};
constexpr Item ctrl_led_blink_item      {0x03, 0x03, &korvel::ctrl_key_names,             layout::led_blink_fields,         false};
constexpr Item config_silence_item      {0x1C, 0x1C, nullptr,                             layout::silence_detection_fields, false};
// clang-format on
} // namespace

void CKorvel::config_cue(int cue, int color_on, int color_off)
{
    read_modify_write(config_cue_item, cue, {color_on, color_off});
}

void CKorvel::config_cue_reset(int mod, int enabled_by_line, int enabled_by_mic_usb_voip, int reset_by_fader,
                               int reset_by_on, int reset_by_fader_and_on)
{
    read_modify_write(config_cue_reset_item, mod,
                      {enabled_by_line, enabled_by_mic_usb_voip, reset_by_fader, reset_by_on, reset_by_fader_and_on});
}

void CKorvel::config_gpo(int gpo, int trigger, int mode, int type, int time)
{
    read_modify_write(config_gpo_item, gpo, {trigger, mode, type, time});
}

void CKorvel::config_on(int mod, int color_on, int color_on_and_fader, int color_off)
{
    read_modify_write(config_on_item, mod, {color_on, color_on_and_fader, color_off});
}

void CKorvel::config_pgm_auto_off(int mod, int enabled_by_line, int enabled_by_mic_usb_voip)
{
    read_modify_write(config_pgm_auto_off_item, mod, {enabled_by_line, enabled_by_mic_usb_voip});
}

void CKorvel::config_on_air(int mod, int on_air1_enabled_by_line, int on_air1_enabled_by_mic_usb_voip,
                            int on_air2_enabled_by_line, int on_air2_enabled_by_mic_usb_voip)
{
    read_modify_write(config_on_air_item, mod,
                      {on_air1_enabled_by_line, on_air1_enabled_by_mic_usb_voip, on_air2_enabled_by_line,
                       on_air2_enabled_by_mic_usb_voip});
}

void CKorvel::config_studio_remote(int mod, int cough_enable, int comm_enable, int comm_private)
{
    read_modify_write(config_studio_remote_item, mod, {cough_enable, comm_enable, comm_private});
}

void CKorvel::ctrl_led_blink(int id, int color_on, int color_off, int blink_speed)
{
    read_modify_write(ctrl_led_blink_item, id, {color_on, color_off, blink_speed});
}

void CKorvel::config_silence_detection(int threshold, int interval, int interval_unit, int source, int enable)
{
    read_modify_write(config_silence_item, 0, {threshold, interval, interval_unit, source, enable});
}

void CKorvel::read_modify_write(const korvel::ConfigItem &item, int member, std::initializer_list<int> fields)
{
    Q_ASSERT(fields.size() == item.fields.size() && fields.size() <= std::size_t{layout::max_fields});
    const int field_count = static_cast<int>(item.fields.size());
    const int *args = fields.begin();

    int given = 0;
    for (int k = 0; k < field_count; ++k)
        given += args[k] != item.fields[k].marker;
    if (given == field_count) {
        write_item(item, member, args);
        return;
    }
    if (given == 0)
        return;

    // Only members the console reports have cached fields: 255 covers all of them, any other number outside the
    // list (including -1, whose low byte is 0xFF) has nothing to fill from and writes nothing.
    int first = 0;
    int last = 0;
    if (item.members) {
        const int count = korvel::member_count(*item.members);
        if (member == korvel::all_members) {
            last = count - 1;
        } else {
            first = last = member & 0xFF;
            if (first >= count)
                return;
        }
    }

    // A copy, not an inserting lookup: reading must not create entries.
    const QByteArray cached = cache.value(item.cache_id);
    for (int i = first; i <= last; ++i) {
        std::array<int, layout::max_fields> values{};
        bool complete = true;
        for (int k = 0; k < field_count && complete; ++k) {
            if (args[k] != item.fields[k].marker) {
                values[k] = args[k];
            } else if (const auto bits = layout::read(item.fields[k], cached, i)) {
                values[k] = *bits;
            } else {
                // The console has not reported this field: sending a made-up value would change its setting.
                complete = false;
            }
        }
        if (complete)
            write_item(item, i, values.data());
    }
}

void CKorvel::write_item(const korvel::ConfigItem &item, int member, const int *fields)
{
    std::array<int, 1 + layout::max_fields> args{};
    int count = 0;
    if (item.members)
        args[count++] = member;
    if (item.packed) {
        // Flags are shifted to their bit whole, not masked: callers pass 0 or 1.
        unsigned flags = 0;
        for (std::size_t k = 0; k < item.fields.size(); ++k)
            flags |= static_cast<unsigned>(fields[k]) << item.fields[k].shift;
        args[count++] = static_cast<int>(flags & 0xFF);
    } else {
        for (std::size_t k = 0; k < item.fields.size(); ++k)
            args[count++] = fields[k];
    }
    send(item.command, args.data(), count);
}
