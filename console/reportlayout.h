#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <optional>

// Where the fields of the console's state reports lie. The encoder reads them to fill in fields a command
// leaves out; the decoder compares them to announce changes. One description serves both, so the two cannot
// disagree about a layout.
namespace korvel::layout {

// One field of every member of an item. Members are packed `group` to a byte, each member owning 8 / group
// bits; consecutive groups lie `stride` bytes apart, starting at `offset`. A stride of 0 describes an item
// without members (one field at `offset`). The field is `mask` wide, `shift` bits into its member's bits.
struct Field {
    quint8 offset = 0;
    quint8 stride = 1;
    quint8 group = 1;
    quint8 shift = 0;
    quint8 mask = 0xFF;
    // The value that means "not given" in a command and "unchanged" in an event.
    qint8 marker = -1;
    // Announced as a signed 8-bit number (the silence threshold).
    bool is_signed = false;
};

struct Location {
    qsizetype byte;
    int shift;
};

constexpr Location locate(const Field &field, int member)
{
    return {field.offset + static_cast<qsizetype>(member / field.group) * field.stride,
            field.shift + (member % field.group) * (8 / field.group)};
}

// The field's bits of one member, or nothing when the payload does not reach its byte.
constexpr std::optional<int> read(const Field &field, QByteArrayView payload, int member)
{
    const Location at = locate(field, member);
    if (at.byte < 0 || at.byte >= payload.size())
        return std::nullopt;
    return (static_cast<quint8>(payload[at.byte]) >> at.shift) & field.mask;
}

// The field's value as an event announces it.
constexpr int announced(const Field &field, int bits)
{
    return field.is_signed ? static_cast<int>(static_cast<qint8>(bits)) : bits;
}

constexpr Field byte_at(quint8 offset, quint8 stride)
{
    return {offset, stride, 1, 0, 0xFF, -1, false};
}
constexpr Field flag(quint8 bit)
{
    return {0, 1, 1, bit, 1, -1, false};
}
// A 2-bit colour code; `group` members share a byte.
constexpr Field colour(quint8 offset, quint8 group, quint8 shift)
{
    return {offset, 1, group, shift, 3, -1, false};
}

// Simple items.
inline constexpr Field byte_per_member[] = {byte_at(0, 1)};
inline constexpr Field single_byte[] = {byte_at(0, 0)};
// A little-endian bit word: member i is bit i % 8 of byte i / 8.
inline constexpr Field bit_per_member[] = {{0, 1, 8, 0, 1, -1, false}};

// Multi-field configuration items, fields in the order of the command's and the event's parameters.
inline constexpr Field cue_reset_fields[] = {flag(0), flag(1), flag(2), flag(3), flag(4)};
inline constexpr Field on_air_fields[] = {flag(0), flag(1), flag(2), flag(3)};
inline constexpr Field studio_remote_fields[] = {flag(0), flag(1), flag(2)};
inline constexpr Field pgm_auto_off_fields[] = {flag(0), flag(1)};
// trigger, mode, type, time: four bytes per GPO.
inline constexpr Field gpo_fields[] = {byte_at(0, 4), byte_at(1, 4), byte_at(2, 4), byte_at(3, 4)};
// color_on, color_off in a nibble per cue, even cues in the low nibble.
inline constexpr Field cue_colour_fields[] = {colour(0, 2, 0), colour(0, 2, 2)};
// color_on, color_on_and_fader, color_off: the nibble per module in bytes 0-3, the fader colour four modules
// to a byte from byte 4.
inline constexpr Field on_colour_fields[] = {colour(0, 2, 0), colour(4, 4, 0), colour(0, 2, 2)};
// threshold (signed; 1 is its marker, since -1 is a valid threshold), interval, interval_unit, source, enable.
inline constexpr Field silence_detection_fields[] = {
    {0, 0, 1, 0, 0xFF, 1, true}, byte_at(1, 0), byte_at(2, 0), byte_at(3, 0), byte_at(4, 0)};

// The LED tables kept in the report cache.
inline constexpr qsizetype led_count = 16;
inline constexpr qsizetype led_colour_table_size = led_count;
inline constexpr qsizetype led_blink_table_size = 4 * led_count;
// Blink table: the blinking flag of LED i at byte 4i, then color_on, color_off, blink_speed.
inline constexpr Field led_blinking_flag = byte_at(0, 4);
inline constexpr Field led_blink_fields[] = {byte_at(1, 4), byte_at(2, 4), byte_at(3, 4)};

inline constexpr int max_fields = 5;

} // namespace korvel::layout
