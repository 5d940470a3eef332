// The console's state, its answers to requests, the effects it has by itself, and its level meters.
#include "emulator/consolemodel.h"

#include "emulator/factorystate.h"

#include <algorithm>

namespace emulator {

namespace {

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
    report.append(static_cast<char>(type_byte(MessageType::state, id)));
    report.append(payload);
    return report;
}

int ConsoleModel::on_key_color(int mod) const
{
    if (is_on(mod) && is_fader_open(mod))
        return items.colour(item::on_colours_config, on_and_fader_colour(mod));
    return items.colour(item::on_colours_config, nibble_colour(mod, is_on(mod) ? nibble_colour_on : nibble_colour_off));
}

int ConsoleModel::cue_key_color(int bus) const
{
    return items.colour(item::cue_colours_config,
                        nibble_colour(bus, is_cue_on(bus) ? nibble_colour_on : nibble_colour_off));
}

ConsoleModel::LedState ConsoleModel::led(int led) const
{
    const int at = blink_stride * led;
    LedState state;
    state.color = items.byte(item::led_colours, led);
    state.blinking = items.is_set(item::led_blink, at + blink_flag);
    state.color_on = items.byte(item::led_blink, at + blink_colour_on);
    state.color_off = items.byte(item::led_blink, at + blink_colour_off);
    state.blink_speed = items.byte(item::led_blink, at + blink_speed);
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
    if (id == item::led_colours || id == item::led_blink)
        answer_led_request(static_cast<item::Id>(id));
    else if (items.has(id))
        send(state_report(id, items.payload(id)), true);
}

// The host keeps one steady colour and one set of blink values per LED and learns which of the two an LED
// shows from the kind of LED report (a colour report makes it steady, a blink report blinking). So each LED request is
// answered with the whole LED state, never with half of it: first the table asked for, for every LED, then the reports
// that put the LEDs showing the other mode back into it. LED number 255 stands for all LEDs when they agree.
void ConsoleModel::answer_led_request(item::Id id)
{
    QList<LedState> leds;
    for (int n = 0; n < ctrl_key_count; ++n)
        leds.append(led(n));
    const auto colour_report = [](int n, const LedState &s) {
        return state_report(item::led_colours, bytes({n, s.color}));
    };
    const auto blink_report = [](int n, const LedState &s) {
        return state_report(item::led_blink, bytes({n, s.color_on, s.color_off, s.blink_speed}));
    };
    const auto same_colour =
        std::all_of(leds.cbegin(), leds.cend(), [&](const LedState &s) { return s.color == leds.first().color; });
    const auto same_blink = std::all_of(leds.cbegin(), leds.cend(), [&](const LedState &s) {
        return s.color_on == leds.first().color_on && s.color_off == leds.first().color_off &&
               s.blink_speed == leds.first().blink_speed;
    });
    const auto none_blinking = std::none_of(leds.cbegin(), leds.cend(), [](const LedState &s) { return s.blinking; });

    if (id == item::led_colours) {
        if (same_colour) {
            send(colour_report(all_members, leds.first()), true);
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
        send(blink_report(all_members, leds.first()), true);
    } else {
        for (int n = 0; n < ctrl_key_count; ++n)
            send(blink_report(n, leds[n]), true);
    }
    if (none_blinking && same_colour) {
        send(colour_report(all_members, leds.first()), true);
        return;
    }
    for (int n = 0; n < ctrl_key_count; ++n) {
        if (!leds[n].blinking)
            send(colour_report(n, leds[n]), true);
    }
}

void ConsoleModel::commit(item::Id primary, const ConsoleItems &before, bool host_asked)
{
    follow_module_changes(before);
    settle_derived_states();
    if (items.payload(primary) != before.payload(primary))
        send(state_report(primary, items.payload(primary)), host_asked);
    const ConsoleItems::Payloads &now = items.payloads();
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        // The LED tables are reported by echoes and LED requests only.
        if (it.key() == primary || it.key() == item::led_colours || it.key() == item::led_blink)
            continue;
        if (it.value() != before.payload(it.key()))
            send(state_report(it.key(), it.value()), host_asked);
    }
}

// What a module's fader and ON key do by themselves: auto on and auto off follow the fader; the module's cue
// is cancelled by its fader, its ON key or both, as its cue-reset configuration says.
void ConsoleModel::follow_module_changes(const ConsoleItems &before)
{
    for (int mod = 0; mod < module_count; ++mod) {
        const bool fader_was = before.is_set(item::fader_state, mod);
        if (!fader_was && is_fader_open(mod) && items.is_set(item::auto_on_config, mod))
            items.set_byte(item::on_state, mod, 1);
        if (fader_was && !is_fader_open(mod) && items.is_set(item::auto_off_config, mod))
            items.set_byte(item::on_state, mod, 0);
    }
    for (int mod = 0; mod < module_count; ++mod) {
        const unsigned char reset = items.byte(item::cue_reset_config, mod);
        if (!(reset & (source(mod) == 0 ? cue_reset_enabled_by_line : cue_reset_enabled_by_mic_usb_voip)))
            continue;
        const bool fader_was = before.is_set(item::fader_state, mod);
        const bool on_was = before.is_set(item::on_state, mod);
        const bool fader_rose = !fader_was && is_fader_open(mod);
        const bool on_rose = !on_was && is_on(mod);
        const bool both_rose = !(fader_was && on_was) && is_fader_open(mod) && is_on(mod);
        if (((reset & cue_reset_by_fader) && fader_rose) || ((reset & cue_reset_by_on) && on_rose) ||
            ((reset & cue_reset_by_fader_and_on) && both_rose))
            items.set_bit(item::cue_state, mod, false);
    }
}

// The states that follow from the others: a module is active when it is ON with its fader open; the on-air
// outputs follow the active modules their configuration names for their source; a live microphone is one of
// modules 1-3 active on its microphone; it mutes the control room where configured; the MIC ON lamp follows
// the live microphones or an on-air output, as its mode says; each GPO follows its trigger (inverted in
// inverted mode; the pulse types are reported as the level of their trigger).
void ConsoleModel::settle_derived_states()
{
    bool on_air[on_air_count] = {false, false};
    bool mic_live = false;
    bool crm_mute = false;
    for (int mod = 0; mod < module_count; ++mod) {
        const bool active = is_on(mod) && is_fader_open(mod);
        items.set_byte(item::module_active, mod, active);
        if (!active)
            continue;
        const int source_bit = source(mod) == 0 ? 0 : 1;
        for (int k = 0; k < on_air_count; ++k)
            on_air[k] = on_air[k] || ((items.byte(item::on_air_config, mod) >> (2 * k + source_bit)) & 1);
        if (mod < mic_module_count && source(mod) != 0) {
            mic_live = true;
            crm_mute = crm_mute || items.is_set(item::crm_mute_config, mod);
        }
    }
    for (int k = 0; k < on_air_count; ++k)
        items.set_byte(item::on_air_state, k, on_air[k]);
    items.set_byte(item::crm_mute_state, 0, crm_mute);
    const int mode = items.byte(item::mic_on_mode_config, 0);
    const bool mic_on = mode == mic_on_follows_on_air1   ? on_air[0]
                        : mode == mic_on_follows_on_air2 ? on_air[1]
                                                         : mic_live;
    items.set_byte(item::mic_on_state, 0, mic_on);

    for (int gpo = 0; gpo < gpo_count; ++gpo) {
        const int trigger = items.byte(item::gpo_config, gpo_stride * gpo + gpo_trigger);
        bool level = false;
        switch (trigger) {
        case trigger_on_air1:
        case trigger_on_air2:
            level = on_air[trigger - trigger_on_air1];
            break;
        case trigger_phone:
            level = is_phone_ringing();
            break;
        case trigger_mic_on:
            level = mic_on;
            break;
        case trigger_non_stop:
            level = is_non_stop();
            break;
        default:
            level = trigger >= trigger_module1_active && trigger <= max_gpo_trigger &&
                    is_module_active(trigger - trigger_module1_active);
            break;
        }
        if (items.byte(item::gpo_config, gpo_stride * gpo + gpo_mode) == gpo_inverted)
            level = !level;
        items.set_byte(item::gpo_state, gpo, level);
    }
}

void switch_cue(ConsoleItems &items, int bus, bool on)
{
    if (on && items.is_set(item::cue_interlock_config, 0))
        items.set_word(item::cue_state, 0); // interlock: one cue bus at a time
    items.set_bit(item::cue_state, bus, on);
}

void ConsoleModel::opened(EmulatedDevice &)
{
    meters_epoch = now();
    meters_due = 0;
    send(state_report(item::phone_ringing, items.payload(item::phone_ringing)), false);
    send(state_report(item::voip_connect, items.payload(item::voip_connect)), false);
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
    inputs.aux_cued = is_cue_on(aux_cue);
    inputs.non_stop_cued = is_cue_on(non_stop_cue);
    inputs.air_cued = is_cue_on(air_cue);
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
    report.append(static_cast<char>(2 + metering_payload));
    report.append(static_cast<char>(type_byte(MessageType::state, item::metering)));
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
