#pragma once

#include "console/valuelists.h"

#include <QByteArrayView>
#include <QtGlobal>

#include <optional>

// One field of a console item: where it lies in the item's state report and what it means on the JSON side.
// The encoder reads it to fill in fields a command leaves out, the decoder to announce changes, the snapshots
// to report the cached state and the commands to check a client's value: one description serves them all.
namespace korvel::layout {

// What a field's value is to a client.
enum class Kind : quint8 {
    flag,          // a boolean: any non-zero value is true
    word,          // a position in `words`
    colour,        // a position in led_color_names
    number,        // a number, unsigned in the report, min to max in a command
    signed_number, // a number read from the report as a signed 8-bit value
};

// Members are packed `group` to a byte, each member owning 8 / group bits; consecutive groups lie `stride`
// bytes apart, starting at `offset`. A stride of 0 describes an item without members (one field at `offset`).
// The field is `mask` wide, `shift` bits into its member's bits.
struct Field {
    const char *name = nullptr; // member of a settings object; null: the value itself
    Kind kind = Kind::flag;
    const QStringList *words = nullptr; // Kind::word
    int min = 0;                        // Kind::number and Kind::signed_number: the range a command accepts
    int max = 0;
    quint8 offset = 0;
    quint8 stride = 1;
    quint8 group = 1;
    quint8 shift = 0;
    quint8 mask = 0xFF;
    // The value that means "not given" in a command and "unchanged" in an event.
    qint8 marker = -1;
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
    return field.kind == Kind::signed_number ? static_cast<int>(static_cast<qint8>(bits)) : bits;
}

// The value list of a word or colour field; null for the others.
inline const QStringList *words_of(const Field &field)
{
    return field.kind == Kind::colour ? &led_color_names : field.words;
}

// Field shapes. A member's own byte, or the one byte of an item without members:
constexpr Field member_byte(Kind kind = Kind::flag, const QStringList *words = nullptr)
{
    return {.kind = kind, .words = words};
}
constexpr Field console_byte(quint8 offset = 0, Kind kind = Kind::flag, const QStringList *words = nullptr)
{
    return {.kind = kind, .words = words, .offset = offset, .stride = 0};
}
// Bit i % 8 of byte i / 8: a little-endian bit word, one bit per member.
constexpr Field member_bit()
{
    return {.group = 8, .mask = 1};
}
// One flag bit of a member's byte.
constexpr Field flag_bit(const char *name, quint8 bit)
{
    return {.name = name, .shift = bit, .mask = 1};
}
// A 2-bit colour code; `group` members share a byte.
constexpr Field colour(const char *name, quint8 offset, quint8 group, quint8 shift)
{
    return {.name = name, .kind = Kind::colour, .offset = offset, .group = group, .shift = shift, .mask = 3};
}
// Byte `offset` of every `stride`-byte record, one record per member.
constexpr Field record_byte(const char *name, quint8 offset, quint8 stride, Kind kind,
                            const QStringList *words = nullptr)
{
    return {.name = name, .kind = kind, .words = words, .offset = offset, .stride = stride};
}

// The LED tables kept in the report cache: colour table byte i is LED i's steady colour; the blink table holds
// LED i's blinking flag at byte 4i, then color_on, color_off, blink_speed.
inline constexpr qsizetype led_count = 16;
inline constexpr qsizetype led_colour_table_size = led_count;
inline constexpr qsizetype led_blink_table_size = 4 * led_count;
inline constexpr Field led_blinking_flag = record_byte(nullptr, 0, 4, Kind::flag);

inline constexpr int max_fields = 5;

} // namespace korvel::layout
