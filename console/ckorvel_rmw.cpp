// Read-modify-write commands: fields the caller leaves out are filled from the console's last state report,
// so a client can change one field of a configuration item without knowing the others.
#include "console/ckorvel.h"
#include "console/items.h"

#include <array>

using R = korvel::ReportId;
namespace layout = korvel::layout;

void CKorvel::config_cue(int cue, int color_on, int color_off)
{
    set(R::config_cue, cue, {color_on, color_off});
}
void CKorvel::config_cue_reset(int mod, int enabled_by_line, int enabled_by_mic_usb_voip, int reset_by_fader,
                               int reset_by_on, int reset_by_fader_and_on)
{
    set(R::config_cue_reset, mod,
        {enabled_by_line, enabled_by_mic_usb_voip, reset_by_fader, reset_by_on, reset_by_fader_and_on});
}
void CKorvel::config_gpo(int gpo, int trigger, int mode, int type, int time)
{
    set(R::config_gpo, gpo, {trigger, mode, type, time});
}
void CKorvel::config_on(int mod, int color_on, int color_on_and_fader, int color_off)
{
    set(R::config_on, mod, {color_on, color_on_and_fader, color_off});
}
void CKorvel::config_pgm_auto_off(int mod, int enabled_by_line, int enabled_by_mic_usb_voip)
{
    set(R::config_pgm_auto_off, mod, {enabled_by_line, enabled_by_mic_usb_voip});
}
void CKorvel::config_on_air(int mod, int on_air1_enabled_by_line, int on_air1_enabled_by_mic_usb_voip,
                            int on_air2_enabled_by_line, int on_air2_enabled_by_mic_usb_voip)
{
    set(R::config_on_air, mod,
        {on_air1_enabled_by_line, on_air1_enabled_by_mic_usb_voip, on_air2_enabled_by_line,
         on_air2_enabled_by_mic_usb_voip});
}
void CKorvel::config_studio_remote(int mod, int cough_enable, int comm_enable, int comm_private)
{
    set(R::config_studio_remote, mod, {cough_enable, comm_enable, comm_private});
}
void CKorvel::ctrl_led_blink(int id, int color_on, int color_off, int blink_speed)
{
    set(R::ctrl_led_blink, id, {color_on, color_off, blink_speed});
}
void CKorvel::config_silence_detection(int threshold, int interval, int interval_unit, int source, int enable)
{
    set(R::config_silence_detection, 0, {threshold, interval, interval_unit, source, enable});
}

void CKorvel::set(korvel::ReportId id, int member, std::initializer_list<int> fields)
{
    Q_ASSERT(fields.size() == korvel::item(id).fields.size());
    set(id, member, fields.begin());
}

void CKorvel::set(korvel::ReportId id, int member, const int *fields)
{
    const korvel::Item *item = korvel::find_item(static_cast<unsigned char>(id));
    if (!item)
        return;
    if (item->fields.size() == 1)
        write_item(*item, member, fields);
    else
        read_modify_write(*item, member, fields);
}

void CKorvel::read_modify_write(const korvel::Item &item, int member, const int *args)
{
    const int field_count = static_cast<int>(item.fields.size());

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
    const QByteArray cached = cache.value(static_cast<unsigned char>(item.id));
    for (int i = first; i <= last; ++i) {
        std::array<int, layout::max_fields> values{};
        bool complete = member_reported(item, i);
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

bool CKorvel::member_reported(const korvel::Item &item, int member) const
{
    if (item.id != R::ctrl_led_blink)
        return true;
    return member >= 0 && member < layout::led_count && (led_blink_reported >> member & 1) != 0;
}

void CKorvel::write_item(const korvel::Item &item, int member, const int *fields)
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
    send(korvel::type_byte(korvel::Message::command, item.id), args.data(), count);
}
