// Decoder: every input report into the report cache and typed events. Only changes are announced: each state
// report is compared with the cached one of its id, so the first report of an id after the link opens is silent.
#include "console/ckorvel.h"
#include "console/items.h"
#include "console/itemsignals.h"
#include "console/valuelists.h"

#include <array>
#include <cstring>
#include <iterator>
#include <span>
#include <utility>

namespace {
namespace layout = korvel::layout;
using korvel::Item;
using korvel::ReportId;

constexpr unsigned char led_colour_id = static_cast<unsigned char>(ReportId::ctrl_led);
constexpr unsigned char led_blink_id = static_cast<unsigned char>(ReportId::ctrl_led_blink);
constexpr unsigned char metering_id = static_cast<unsigned char>(ReportId::metering);

// How the changes of one state item become events.
enum class Announce {
    changes, // one field: every named member whose field changed, with its new value
    fields,  // every member with a changed field: each field new if changed, else its marker
    flags,   // as fields, for every member whose byte changed, even if only above its flag bits
};

constexpr Announce announce_of(const Item &row)
{
    return row.fields.size() == 1 ? Announce::changes : row.packed ? Announce::flags : Announce::fields;
}

using EventArgs = std::array<int, 1 + layout::max_fields>;
using Emitter = void (*)(CKorvel &, const EventArgs &);

template <typename>
struct SignalArity;
template <typename... Params>
struct SignalArity<void (CKorvel::*)(Params...)> {
    static constexpr int value = sizeof...(Params);
};

template <auto Signal, std::size_t... I>
void emit_with(CKorvel &console, const EventArgs &args, std::index_sequence<I...>)
{
    Q_EMIT(console.*Signal)(args[I]...);
}

template <auto Signal>
void emit_event(CKorvel &console, const EventArgs &args)
{
    emit_with<Signal>(console, args, std::make_index_sequence<SignalArity<decltype(Signal)>::value>{});
}

struct StateItem {
    const Item *item;
    Announce announce;
    Emitter announce_event;
    int arity;
};

template <auto Signal>
constexpr StateItem announces(ReportId id)
{
    const Item &row = korvel::item(id);
    return {&row, announce_of(row), &emit_event<Signal>, SignalArity<decltype(Signal)>::value};
}

// The decoding of each item whose state report announces changes; members and fields come from the catalogue.
// The LED reports and metering have handlers of their own; every other id is only cached.
constexpr auto state_items = std::apply(
    [](auto... items) { return std::array{announces<decltype(items)::signal>(items.id)...}; }, korvel::item_signals);

// Every row's signal takes the member index (if any) and one argument per field.
constexpr bool rows_are_consistent()
{
    for (const StateItem &row : state_items) {
        const int fields = static_cast<int>(row.item->fields.size());
        if (fields == 0)
            return false;
        // Read from the layout, not from the member list's address: GCC's null-pointer sanitizers make an
        // object's address a run-time value, and the sanitizer build runs this check too. A stride of 0 is
        // the one value of an item without members.
        const bool per_member = row.item->fields[0].stride != 0;
        if (row.arity != (per_member ? 1 : 0) + fields)
            return false;
    }
    return true;
}
static_assert(rows_are_consistent());

// Row of each report id in state_items, or -1.
constexpr auto row_of_id = [] {
    std::array<qint8, 64> rows{};
    rows.fill(-1);
    for (std::size_t i = 0; i < std::size(state_items); ++i)
        rows[static_cast<quint8>(state_items[i].item->id)] = static_cast<qint8>(i);
    return rows;
}();

bool same_bytes(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size() && (a.isEmpty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

// The arguments of member i's event, or false when it has nothing to announce. A member whose bytes lie beyond
// either payload is not announced: there is nothing known to compare it with.
bool member_event(const StateItem &row, int member, QByteArrayView old, QByteArrayView now, EventArgs &args)
{
    int n = 0;
    if (row.item->members)
        args[n++] = member;

    if (row.announce == Announce::changes) {
        const layout::Field &field = row.item->fields.front();
        const auto before = layout::read(field, old, member);
        const auto after = layout::read(field, now, member);
        if (!before || !after || *before == *after)
            return false;
        args[n] = layout::announced(field, *after);
        return true;
    }

    bool any_field = false;
    for (const layout::Field &field : row.item->fields) {
        const auto before = layout::read(field, old, member);
        const auto after = layout::read(field, now, member);
        if (!before || !after)
            return false;
        const int value = *before == *after ? field.marker : layout::announced(field, *after);
        any_field = any_field || value != field.marker;
        args[n++] = value;
    }
    if (row.announce == Announce::flags) {
        const qsizetype byte = layout::locate(row.item->fields.front(), member).byte;
        return old[byte] != now[byte];
    }
    // A silence threshold that changed to exactly 1 reads as unchanged: 1 is its marker.
    return any_field;
}

float meter_level(char byte)
{
    return korvel::meter_level(static_cast<quint8>(byte));
}
} // namespace

void CKorvel::on_data_ready(QByteArray data)
{
    // A report without a type byte reads as type 0, a command, and is ignored.
    const auto type = data.size() >= 2 ? static_cast<unsigned char>(data[1]) : 0;
    const auto id = static_cast<unsigned char>(korvel::id_of(type));
    const QByteArrayView payload = data.size() > 2 ? QByteArrayView(data).sliced(2) : QByteArrayView();

    switch (korvel::message_of(type)) {
    case korvel::Message::echo:
        if (id == led_colour_id || id == led_blink_id)
            apply_led(id, payload);
        else
            store(id, payload);
        return;
    case korvel::Message::state:
        break;
    default:
        return;
    }

    if (id == led_colour_id || id == led_blink_id) {
        apply_led(id, payload);
        return;
    }
    if (id == metering_id) {
        decode_metering(payload);
        return;
    }

    const auto cached = cache.constFind(id);
    if (cached == cache.cend() || cached->isEmpty()) {
        store(id, payload);
        return;
    }
    if (same_bytes(*cached, payload))
        return;
    if (const int row = row_of_id[id]; row >= 0) {
        const StateItem &item = state_items[row];
        const QStringList *members = item.item->members;
        const int count = members ? korvel::member_count(*members) : 1;
        const auto generation = cache_generation;
        {
            // Slots may read the cache during the events and must see the previous report; this copy keeps it
            // whatever they do.
            const QByteArray old = *cached;
            // A slot that closes the link ends the report: nothing is announced after the close.
            for (int i = 0; i < count && generation == cache_generation; ++i) {
                // Unnamed positions (the voice-track gap) have no function to announce.
                if (members && korvel::name_of(*members, i).isEmpty())
                    continue;
                EventArgs args{};
                if (member_event(item, i, old, payload, args))
                    item.announce_event(*this, args);
            }
        }
        if (generation != cache_generation)
            return;
    }
    store(id, payload);
}

void CKorvel::store(unsigned char id, QByteArrayView payload)
{
    if (payload.isEmpty()) {
        cache.remove(id);
        return;
    }
    QByteArray &entry = cache[id];
    entry.resize(payload.size());
    std::memcpy(entry.data(), payload.data(), payload.size());
}

QByteArray &CKorvel::led_table(unsigned char id)
{
    const qsizetype size = id == led_colour_id ? layout::led_colour_table_size : layout::led_blink_table_size;
    QByteArray &table = cache[id];
    if (table.size() != size)
        table.resize(size, '\0');
    return table;
}

// The LED tables are the decoder's own: a state report updates them field by field and never replaces them. A
// first LED report after the link opens finds the tables created zero-filled (every LED steady and off) and is
// compared with that, so a lit LED is announced; the snapshot then agrees with what clients were told. Reports
// too short for their fields and LED numbers 16 to 254 change nothing. The console answers an LED command with an
// echo rather than a state report, so an echo that changes the tables is announced the same way: otherwise only
// the client that sent the command would know.
void CKorvel::apply_led(unsigned char id, QByteArrayView payload)
{
    const bool blinking = id == led_blink_id;
    if (payload.size() < (blinking ? 4 : 2))
        return;
    const int number = static_cast<quint8>(payload[0]);
    const bool all = number == korvel::all_members;
    if (!all && number >= layout::led_count)
        return;
    const int first = all ? 0 : number;
    const int last = all ? static_cast<int>(layout::led_count) - 1 : number;

    const auto generation = cache_generation;
    for (int led = first; led <= last && generation == cache_generation; ++led) {
        // Fetched afresh for every LED: the slots of the previous LED's event may have touched the cache.
        char *colours = led_table(led_colour_id).data();
        char *blink = led_table(led_blink_id).data();
        blink[layout::locate(layout::led_blinking_flag, led).byte] = blinking ? 1 : 0;

        if (!blinking) {
            const char colour = payload[1];
            if (colours[led] == colour)
                continue;
            colours[led] = colour;
            emit ctrl_led_event(led, static_cast<quint8>(colour));
            continue;
        }

        led_blink_reported |= static_cast<quint16>(1u << led);
        std::array<int, std::size(korvel::fields::led_blink)> fields{};
        bool changed = false;
        for (std::size_t k = 0; k < fields.size(); ++k) {
            const layout::Field &field = korvel::fields::led_blink[k];
            char &cell = blink[layout::locate(field, led).byte];
            const char value = payload[static_cast<qsizetype>(1 + k)];
            if (cell == value) {
                fields[k] = field.marker;
                continue;
            }
            cell = value;
            // As every other event field: 0 to 255, so a new 0xFF cannot pass for "unchanged".
            fields[k] = static_cast<quint8>(value);
            changed = true;
        }
        if (changed)
            emit ctrl_led_blink_event(led, fields[0], fields[1], fields[2]);
    }
}

void CKorvel::decode_metering(QByteArrayView payload)
{
    const auto cached = cache.constFind(metering_id);
    const bool first = cached == cache.cend() || cached->isEmpty();
    if (first)
        store(metering_id, payload);
    // Levels are announced for every report, changed or not; a report too short for all six carries none.
    if (payload.size() >= 6) {
        const auto generation = cache_generation;
        emit state_metering_event(meter_level(payload[0]), meter_level(payload[1]), meter_level(payload[2]),
                                  meter_level(payload[3]), meter_level(payload[4]), meter_level(payload[5]));
        if (generation != cache_generation)
            return;
    }
    if (!first)
        store(metering_id, payload);
}
