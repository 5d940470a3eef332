// The console's state, its answers to requests, the effects it has by itself, and its level meters.
#include "emulator/consolemodel.h"

#include "emulator/factorystate.h"

#include <algorithm>

namespace emulator {

namespace {

constexpr unsigned char led_colour_id = 0x02;
constexpr unsigned char led_blink_id = 0x03;

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (const int v : values)
        out.append(static_cast<char>(v & 0xFF));
    return out;
}

} // namespace

ConsoleModel::ConsoleModel(EmulatedDevice &device)
    : device(device)
{
    timer.start();
    restore_factory_state();
}

ConsoleModel::~ConsoleModel()
{
    if (device.model() == this)
        device.set_model(nullptr);
}

void ConsoleModel::restore_factory_state()
{
    items.clear();
    for (const FactoryItem &item : factory_state) {
        QByteArray payload(item.size, '\0');
        const int given = std::min<int>(item.size, static_cast<int>(item.bytes.size()));
        for (int i = 0; i < given; ++i)
            payload[i] = static_cast<char>(item.bytes[static_cast<std::size_t>(i)]);
        items.insert(item.id, payload);
    }
}

QList<unsigned char> ConsoleModel::reported_ids()
{
    QList<unsigned char> ids;
    for (const FactoryItem &item : factory_state)
        ids.append(item.id);
    return ids;
}

QByteArray ConsoleModel::state_report(unsigned char id, const QByteArray &payload)
{
    QByteArray report;
    report.append(static_cast<char>(2 + payload.size()));
    report.append(static_cast<char>(0xC0 | (id & 0x3F)));
    report.append(payload);
    return report;
}

unsigned char ConsoleModel::byte(unsigned char id, int index) const
{
    const auto it = items.constFind(id);
    if (it == items.cend() || index < 0 || index >= it->size())
        return 0;
    return static_cast<unsigned char>(it->at(index));
}

quint16 ConsoleModel::word(unsigned char id) const
{
    return static_cast<quint16>(byte(id, 0) | (byte(id, 1) << 8));
}

void ConsoleModel::set_byte(unsigned char id, int index, unsigned char value)
{
    auto it = items.find(id);
    if (it == items.end() || index < 0 || index >= it->size())
        return;
    (*it)[index] = static_cast<char>(value);
}

void ConsoleModel::set_word(unsigned char id, quint16 value)
{
    set_byte(id, 0, static_cast<unsigned char>(value & 0xFF));
    set_byte(id, 1, static_cast<unsigned char>(value >> 8));
}

int ConsoleModel::on_key_color(int mod) const
{
    const unsigned char nibble = (byte(0x1A, mod / 2) >> ((mod % 2) * 4)) & 0x0F;
    if (is_on(mod) && is_fader_open(mod))
        return (byte(0x1A, 4 + mod / 4) >> (2 * (mod % 4))) & 3;
    return is_on(mod) ? nibble & 3 : (nibble >> 2) & 3;
}

int ConsoleModel::cue_key_color(int bus) const
{
    const unsigned char nibble = (byte(0x19, bus / 2) >> ((bus % 2) * 4)) & 0x0F;
    return is_cue_on(bus) ? nibble & 3 : (nibble >> 2) & 3;
}

ConsoleModel::LedState ConsoleModel::led(int led) const
{
    LedState state;
    state.color = byte(led_colour_id, led);
    state.blinking = byte(led_blink_id, 4 * led) != 0;
    state.color_on = byte(led_blink_id, 4 * led + 1);
    state.color_off = byte(led_blink_id, 4 * led + 2);
    state.blink_speed = byte(led_blink_id, 4 * led + 3);
    return state;
}

void ConsoleModel::send(const QByteArray &report, bool host_asked)
{
    if (!device.present())
        return;
    if (!host_asked && !device.is_open())
        return;
    device.queue_input(report);
}

void ConsoleModel::answer_request(unsigned char id)
{
    if (id == led_colour_id || id == led_blink_id) {
        answer_led_request(id);
        return;
    }
    const auto it = items.constFind(id);
    if (it != items.cend())
        send(state_report(id, *it), true);
}

// The host keeps one steady colour and one set of blink values per LED and learns which of the two an LED
// shows from the kind of LED report (0xC2 makes it steady, 0xC3 blinking). So each LED request is answered
// with the whole LED state, never with half of it: first the table asked for, for every LED, then the reports
// that put the LEDs showing the other mode back into it. LED number 255 stands for all LEDs when they agree.
void ConsoleModel::answer_led_request(unsigned char id)
{
    QList<LedState> leds;
    for (int n = 0; n < ctrl_key_count; ++n)
        leds.append(led(n));
    const auto colour_report = [](int n, const LedState &s) {
        return state_report(led_colour_id, bytes({n, s.color}));
    };
    const auto blink_report = [](int n, const LedState &s) {
        return state_report(led_blink_id, bytes({n, s.color_on, s.color_off, s.blink_speed}));
    };
    const auto same_colour =
        std::all_of(leds.cbegin(), leds.cend(), [&](const LedState &s) { return s.color == leds.first().color; });
    const auto same_blink = std::all_of(leds.cbegin(), leds.cend(), [&](const LedState &s) {
        return s.color_on == leds.first().color_on && s.color_off == leds.first().color_off &&
               s.blink_speed == leds.first().blink_speed;
    });
    const auto none_blinking = std::none_of(leds.cbegin(), leds.cend(), [](const LedState &s) { return s.blinking; });

    if (id == led_colour_id) {
        if (same_colour) {
            send(colour_report(255, leds.first()), true);
        } else {
            for (int n = 0; n < ctrl_key_count; ++n)
                send(colour_report(n, leds[n]), true);
        }
        for (int n = 0; n < ctrl_key_count; ++n) {
            if (leds[n].blinking)
                send(blink_report(n, leds[n]), true);
        }
        return;
    }

    if (same_blink) {
        send(blink_report(255, leds.first()), true);
    } else {
        for (int n = 0; n < ctrl_key_count; ++n)
            send(blink_report(n, leds[n]), true);
    }
    if (none_blinking && same_colour) {
        send(colour_report(255, leds.first()), true);
        return;
    }
    for (int n = 0; n < ctrl_key_count; ++n) {
        if (!leds[n].blinking)
            send(colour_report(n, leds[n]), true);
    }
}

void ConsoleModel::commit(unsigned char primary, const Items &before, bool host_asked)
{
    follow_module_changes(before);
    settle_derived_states();
    if (items.value(primary) != before.value(primary))
        send(state_report(primary, items.value(primary)), host_asked);
    for (auto it = items.cbegin(); it != items.cend(); ++it) {
        if (it.key() == primary || it.key() == led_colour_id || it.key() == led_blink_id)
            continue;
        if (it.value() != before.value(it.key()))
            send(state_report(it.key(), it.value()), host_asked);
    }
}

// What a module's fader and ON key do by themselves: auto on and auto off follow the fader; the module's cue
// is cancelled by its fader, its ON key or both, as its cue-reset configuration says.
void ConsoleModel::follow_module_changes(const Items &before)
{
    const auto was = [&](unsigned char id, int mod) {
        const QByteArray payload = before.value(id);
        return mod < payload.size() && payload.at(mod) != 0;
    };
    for (int mod = 0; mod < module_count; ++mod) {
        const bool fader_was = was(0x22, mod);
        if (!fader_was && is_fader_open(mod) && byte(0x11, mod))
            set_byte(0x20, mod, 1);
        if (fader_was && !is_fader_open(mod) && byte(0x1F, mod))
            set_byte(0x20, mod, 0);
    }
    for (int mod = 0; mod < module_count; ++mod) {
        const unsigned char flags = byte(0x12, mod);
        const bool source_enabled = source(mod) == 0 ? (flags & 0x01) : (flags & 0x02);
        if (!source_enabled)
            continue;
        const bool fader_was = was(0x22, mod);
        const bool on_was = was(0x20, mod);
        const bool fader_rose = !fader_was && is_fader_open(mod);
        const bool on_rose = !on_was && is_on(mod);
        const bool both_rose = !(fader_was && on_was) && is_fader_open(mod) && is_on(mod);
        if (((flags & 0x04) && fader_rose) || ((flags & 0x08) && on_rose) || ((flags & 0x10) && both_rose))
            set_word(0x21, word(0x21) & ~(1u << mod));
    }
}

// The states that follow from the others: a module is active when it is ON with its fader open; the on-air
// outputs follow the active modules their configuration names for their source; a live microphone is one of
// modules 1-3 active on its microphone; it mutes the control room where configured; the MIC ON lamp follows
// the live microphones or an on-air output, as its mode says; each GPO follows its trigger (inverted in
// inverted mode; the pulse types are reported as the level of their trigger).
void ConsoleModel::settle_derived_states()
{
    bool on_air[2] = {false, false};
    bool mic_live = false;
    bool crm_mute = false;
    for (int mod = 0; mod < module_count; ++mod) {
        const bool active = is_on(mod) && is_fader_open(mod);
        set_byte(0x2A, mod, active ? 1 : 0);
        if (!active)
            continue;
        const int source_bit = source(mod) == 0 ? 0 : 1;
        for (int k = 0; k < 2; ++k)
            on_air[k] = on_air[k] || ((byte(0x13, mod) >> (2 * k + source_bit)) & 1);
        if (mod < mic_module_count && source(mod) != 0) {
            mic_live = true;
            crm_mute = crm_mute || byte(0x14, mod) != 0;
        }
    }
    set_byte(0x28, 0, on_air[0] ? 1 : 0);
    set_byte(0x28, 1, on_air[1] ? 1 : 0);
    set_byte(0x2B, 0, crm_mute ? 1 : 0);
    const int mode = byte(0x33, 0);
    const bool mic_on = mode == 1 ? on_air[0] : mode == 2 ? on_air[1] : mic_live;
    set_byte(0x26, 0, mic_on ? 1 : 0);

    for (int gpo = 0; gpo < gpo_count; ++gpo) {
        const int trigger = byte(0x18, 4 * gpo);
        bool level = false;
        switch (trigger) {
        case 1:
        case 2:
            level = on_air[trigger - 1];
            break;
        case 3:
            level = is_phone_ringing();
            break;
        case 4:
            level = mic_on;
            break;
        case 5:
            level = is_non_stop();
            break;
        default:
            level = trigger >= 6 && trigger <= 13 && is_module_active(trigger - 6);
            break;
        }
        if (byte(0x18, 4 * gpo + 1) == 1)
            level = !level;
        set_byte(0x27, gpo, level ? 1 : 0);
    }
}

void ConsoleModel::switch_cue(int bus, bool on)
{
    quint16 cues = word(0x21);
    if (on && byte(0x17, 0))
        cues = 0; // interlock: one cue bus at a time
    if (on)
        cues |= static_cast<quint16>(1u << bus);
    else
        cues &= static_cast<quint16>(~(1u << bus));
    set_word(0x21, cues);
}

void ConsoleModel::opened(EmulatedDevice &)
{
    meters_epoch = now();
    meters_due = 0;
    send(state_report(0x2D, items.value(0x2D)), false);
    send(state_report(0x2E, items.value(0x2E)), false);
}

void ConsoleModel::set_metering_rate(int per_second)
{
    rate = std::clamp(per_second, 0, max_metering_rate);
    meters_epoch = now();
    meters_due = 0;
}

void ConsoleModel::set_clock(Clock c)
{
    clock = std::move(c);
    meters_epoch = now();
    meters_due = 0;
}

qint64 ConsoleModel::now() const
{
    return clock ? clock() : timer.elapsed();
}

MeterInputs ConsoleModel::meter_inputs() const
{
    MeterInputs inputs;
    for (int mod = 0; mod < module_count; ++mod) {
        inputs.on_air[static_cast<std::size_t>(mod)] = is_module_active(mod);
        inputs.cued[static_cast<std::size_t>(mod)] = is_cue_on(mod);
    }
    inputs.aux_cued = is_cue_on(8);
    inputs.non_stop_cued = is_cue_on(9);
    inputs.air_cued = is_cue_on(10);
    inputs.crm_muted = is_crm_muted();
    return inputs;
}

MeterLevels ConsoleModel::levels() const
{
    return metering_levels(meter_inputs(), now());
}

QByteArray ConsoleModel::metering_report(qint64 ms) const
{
    QByteArray report;
    report.append(static_cast<char>(8));
    report.append(static_cast<char>(0xF0));
    for (const float level : metering_levels(meter_inputs(), ms))
        report.append(static_cast<char>(encode_level(level)));
    return report;
}

// The meters are made when the host reads: as many reports as the rate owes since the last read. Those that
// find the input queue full are dropped, as the kernel drops reports nobody reads.
void ConsoleModel::before_read(EmulatedDevice &)
{
    if (rate <= 0 || !device.present() || !device.is_open())
        return;
    const qint64 t = now();
    const qint64 due = std::max<qint64>(0, t - meters_epoch) * rate / 1000;
    qint64 owed = due - meters_due;
    if (owed <= 0)
        return;
    meters_due = due;
    const QByteArray report = metering_report(t);
    for (; owed > 0; --owed) {
        if (device.pending_input() >= device.input_capacity()) {
            meters_dropped += owed;
            return;
        }
        device.queue_input(report);
        ++meters_sent;
    }
}

} // namespace emulator
