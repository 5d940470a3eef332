#pragma once

#include "emulator/reports.h"

#include <QByteArray>
#include <QMap>

namespace emulator {

// The payloads of the console's items, by id, as their state reports carry them (the LED tables for the two
// LED items). Reading past a payload gives 0 and writing past it does nothing, so a layout never reaches
// outside its item.
class ConsoleItems {
public:
    using Payloads = QMap<unsigned char, QByteArray>;

    const Payloads &payloads() const { return items; }
    QByteArray payload(unsigned char id) const { return items.value(id); }
    bool has(unsigned char id) const { return items.contains(id); }
    void clear() { items.clear(); }
    void insert(unsigned char id, const QByteArray &payload) { items.insert(id, payload); }

    unsigned char byte(item::Id id, int index) const
    {
        const auto it = items.constFind(id);
        if (it == items.cend() || index < 0 || index >= it->size())
            return 0;
        return static_cast<unsigned char>(it->at(index));
    }

    void set_byte(item::Id id, int index, int value)
    {
        const auto it = items.find(id);
        if (it != items.end() && index >= 0 && index < it->size())
            (*it)[index] = static_cast<char>(value & 0xFF);
    }

    bool is_set(item::Id id, int index) const { return byte(id, index) != 0; }

    // The bit-word items (control keys, cue buses): bit i of the little-endian word in bytes 0-1.
    bool bit(item::Id id, int i) const { return (word(id) >> i) & 1; }
    void set_bit(item::Id id, int i, bool on)
    {
        const auto mask = static_cast<quint16>(1u << i);
        set_word(id, on ? static_cast<quint16>(word(id) | mask) : static_cast<quint16>(word(id) & ~mask));
    }
    quint16 word(item::Id id) const { return static_cast<quint16>(byte(id, 0) | (byte(id, 1) << 8)); }
    void set_word(item::Id id, quint16 value)
    {
        set_byte(id, 0, value & 0xFF);
        set_byte(id, 1, value >> 8);
    }

    // A 2-bit colour code.
    int colour(item::Id id, ColourField f) const { return (byte(id, f.index) >> f.shift) & 3; }
    void set_colour(item::Id id, ColourField f, int value)
    {
        set_byte(id, f.index, (byte(id, f.index) & ~(3 << f.shift)) | ((value & 3) << f.shift));
    }

private:
    Payloads items;
};

} // namespace emulator
