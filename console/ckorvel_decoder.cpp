// Decoder: every input report into the report cache and typed events. Only changes are announced: each state
// report is compared with the cached one of its id, so the first report of an id after the link opens is silent.
#include "console/ckorvel.h"
#include "console/reportlayout.h"
#include "console/valuelists.h"

#include <array>
#include <cstring>
#include <iterator>
#include <span>
#include <utility>

namespace {
namespace layout = korvel::layout;

constexpr unsigned char led_colour_id = 0x02;
constexpr unsigned char led_blink_id = 0x03;
constexpr unsigned char metering_id = 0x30;

constexpr int echo_message = 2;
constexpr int state_message = 3;

// How the changes of one state item become events.
enum class Announce {
    changes,       // one field: every member whose field changed, with its new value
    named_changes, // as changes, skipping the positions whose name is empty
    fields,        // every member with a changed field: each field new if changed, else its marker
    flags,         // as fields, for every member whose byte changed, even if only above its flag bits
};

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
    unsigned char type;
    Announce announce;
    const QStringList *members; // nullptr: one item, announced without a member index
    std::span<const layout::Field> fields;
    Emitter announce_event;
    int arity;
    bool has_members; // members is set; known at compile time, unlike the pointer
};

template <auto Signal>
constexpr StateItem item(unsigned char type, Announce announce, const QStringList &members,
                         std::span<const layout::Field> fields)
{
    return {type, announce, &members, fields, &emit_event<Signal>, SignalArity<decltype(Signal)>::value, true};
}

template <auto Signal>
constexpr StateItem item(unsigned char type, Announce announce, std::span<const layout::Field> fields)
{
    return {type, announce, nullptr, fields, &emit_event<Signal>, SignalArity<decltype(Signal)>::value, false};
}

using K = CKorvel;
using A = Announce;
using namespace korvel;

// The state reports that announce changes. The LED reports (0xC2, 0xC3) and metering (0xF0) have handlers of
// their own; every other id is only cached.
// clang-format off
constexpr StateItem state_items[] = {
    item<&K::ctrl_switch_event>              (0xC4, A::changes,       ctrl_key_names,    layout::bit_per_member),
    item<&K::state_comm_event>               (0xCB, A::changes,       mic_module_names,  layout::byte_per_member),
    item<&K::state_cough_event>              (0xCC, A::changes,       mic_module_names,  layout::byte_per_member),
    item<&K::state_vt_event>                 (0xCD, A::named_changes, voicetrack_module_names,  layout::byte_per_member),
    item<&K::config_auto_on_event>           (0xD1, A::changes,       module_names,      layout::byte_per_member),
    item<&K::config_cue_reset_event>         (0xD2, A::flags,         module_names,      layout::cue_reset_fields),
    item<&K::config_on_air_event>            (0xD3, A::flags,         module_names,      layout::on_air_fields),
    item<&K::config_crm_mute_event>          (0xD4, A::changes,       mic_module_names,  layout::byte_per_member),
    item<&K::config_crm_auto_cue_reset_event>(0xD5, A::changes,       mic_module_names,  layout::byte_per_member),
    item<&K::config_studio_remote_event>     (0xD6, A::flags,         mic_module_names,  layout::studio_remote_fields),
    item<&K::config_cue_interlock_event>     (0xD7, A::changes,                           layout::single_byte),
    item<&K::config_gpo_event>               (0xD8, A::fields,        gpo_names,         layout::gpo_fields),
    item<&K::config_cue_event>               (0xD9, A::fields,        cue_names,         layout::cue_colour_fields),
    item<&K::config_on_event>                (0xDA, A::fields,        module_names,      layout::on_colour_fields),
    item<&K::config_fader_reserve_event>     (0xDB, A::changes,       module_names,      layout::byte_per_member),
    item<&K::config_silence_detection_event> (0xDC, A::fields,                            layout::silence_detection_fields),
    item<&K::config_phantom_event>           (0xDD, A::changes,       mic_module_names,  layout::byte_per_member),
    item<&K::config_mic_at_line_event>       (0xDE, A::changes,       mic_module_names,  layout::byte_per_member),
    item<&K::config_auto_off_event>          (0xDF, A::changes,       module_names,      layout::byte_per_member),
    item<&K::state_on_event>                 (0xE0, A::changes,       module_names,      layout::byte_per_member),
    item<&K::state_cue_event>                (0xE1, A::changes,       cue_names,         layout::bit_per_member),
    item<&K::state_fader_event>              (0xE2, A::changes,       module_names,      layout::byte_per_member),
    item<&K::state_auto_cue_event>           (0xE3, A::changes,       auto_cue_names,    layout::byte_per_member),
    item<&K::state_src_sel_event>            (0xE4, A::changes,       module_names,      layout::byte_per_member),
    item<&K::state_non_stop_event>           (0xE5, A::changes,                           layout::single_byte),
    item<&K::state_mic_on_event>             (0xE6, A::changes,                           layout::single_byte),
    item<&K::state_gpo_event>                (0xE7, A::changes,       gpo_names,         layout::byte_per_member),
    item<&K::state_on_air_event>             (0xE8, A::changes,       on_air_names,      layout::byte_per_member),
    item<&K::state_silence_detection_event>  (0xE9, A::changes,                           layout::single_byte),
    item<&K::state_module_event>             (0xEA, A::changes,       module_names,      layout::byte_per_member),
    item<&K::state_crm_mute_event>           (0xEB, A::changes,                           layout::single_byte),
    item<&K::state_track_event>              (0xEC, A::changes,       module_names,      layout::byte_per_member),
    item<&K::state_phone_ringing_event>      (0xED, A::changes,                           layout::single_byte),
    item<&K::state_connect_event>            (0xEE, A::changes,                           layout::single_byte),
    item<&K::config_locked_on_event>         (0xF1, A::changes,       module_names,      layout::byte_per_member),
    item<&K::config_pgm_auto_off_event>      (0xF2, A::flags,         module_names,      layout::pgm_auto_off_fields),
    item<&K::config_mic_on_event>            (0xF3, A::changes,                           layout::single_byte),
};
// clang-format on

constexpr bool is_one_field(Announce announce)
{
    return announce == Announce::changes || announce == Announce::named_changes;
}

// Every row's signal takes the member index (if any) and one argument per announced field.
constexpr bool rows_are_consistent()
{
    for (const StateItem &row : state_items) {
        const int fields = is_one_field(row.announce) ? 1 : static_cast<int>(row.fields.size());
        if ((row.type >> 6) != state_message || row.arity != (row.has_members ? 1 : 0) + fields)
            return false;
        if (is_one_field(row.announce) && row.fields.size() != 1)
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
        rows[state_items[i].type & 0x3F] = static_cast<qint8>(i);
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
    if (row.members)
        args[n++] = member;

    if (is_one_field(row.announce)) {
        const layout::Field &field = row.fields.front();
        const auto before = layout::read(field, old, member);
        const auto after = layout::read(field, now, member);
        if (!before || !after || *before == *after)
            return false;
        args[n] = layout::announced(field, *after);
        return true;
    }

    bool any_field = false;
    for (const layout::Field &field : row.fields) {
        const auto before = layout::read(field, old, member);
        const auto after = layout::read(field, now, member);
        if (!before || !after)
            return false;
        const int value = *before == *after ? field.marker : layout::announced(field, *after);
        any_field = any_field || value != field.marker;
        args[n++] = value;
    }
    if (row.announce == Announce::flags) {
        const qsizetype byte = layout::locate(row.fields.front(), member).byte;
        return old[byte] != now[byte];
    }
    // A silence threshold that changed to exactly 1 reads as unchanged: 1 is its marker.
    return any_field;
}

float meter_level(char byte)
{
    // Whole steps from -50 in the low six bits, quarter steps in the top two.
    const auto b = static_cast<quint8>(byte);
    return static_cast<float>(b & 0x3F) - 50.0f + static_cast<float>(b >> 6) / 4.0f;
}
} // namespace

void CKorvel::on_data_ready(QByteArray data)
{
    // A report without a type byte reads as type 0, a command, and is ignored.
    const auto type = data.size() >= 2 ? static_cast<unsigned char>(data[1]) : 0;
    const unsigned char id = type & 0x3F;
    const QByteArrayView payload = data.size() > 2 ? QByteArrayView(data).sliced(2) : QByteArrayView();

    switch (type >> 6) {
    case echo_message:
        if (id == led_colour_id || id == led_blink_id)
            apply_led(id, payload, false);
        else
            store(id, payload);
        return;
    case state_message:
        break;
    default:
        return;
    }

    if (id == led_colour_id || id == led_blink_id) {
        apply_led(id, payload, true);
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
        const int count = item.members ? korvel::member_count(*item.members) : 1;
        const auto generation = cache_generation;
        {
            // Slots may read the cache during the events and must see the previous report; this copy keeps it
            // whatever they do.
            const QByteArray old = *cached;
            // A slot that closes the link ends the report: nothing is announced after the close.
            for (int i = 0; i < count && generation == cache_generation; ++i) {
                if (item.announce == Announce::named_changes && korvel::name_of(*item.members, i).isEmpty())
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
// too short for their fields and LED numbers 16 to 254 change nothing.
void CKorvel::apply_led(unsigned char id, QByteArrayView payload, bool announce)
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
            if (announce)
                emit ctrl_led_event(led, static_cast<quint8>(colour));
            continue;
        }

        std::array<int, std::size(layout::led_blink_fields)> fields{};
        bool changed = false;
        for (std::size_t k = 0; k < fields.size(); ++k) {
            const layout::Field &field = layout::led_blink_fields[k];
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
        if (announce && changed)
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
