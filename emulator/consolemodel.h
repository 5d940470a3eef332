#pragma once

#include "emulator/consoleitems.h"
#include "emulator/emulateddevice.h"
#include "emulator/meteringlevels.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>

#include <functional>

namespace emulator {

// The console behind the emulated device: keeps every item the console can report, answers requests with
// state reports, applies commands as the console does and reports what changed, sends its level meters, and
// lets a person (the emulator panel, a test) operate its keys and faders.
//
// What it sends, and when:
// - A request (message type 1) for an item it has is answered with that item's state report; a request for
//   anything else is ignored. The LED requests are answered per LED (see answer_led_request).
// - A command (message type 0) that changes something is answered with the state report of the item it
//   changed, then the reports of the items that changed with it (ascending id). A command that changes
//   nothing, or that names a member or value the console does not have, is answered with nothing.
// - An LED command is answered with its echo, whether the LED changed or not, and with no state report.
// - When the host opens the device, it reports phone ringing and VoIP connect: the host does
//   not ask for those at start-up.
// - Level meters at the metering rate while the host has the device open.
// - Whatever a person does on the console, as the state reports of the items that changed.
// Nothing is sent while the console is unplugged; what the console sends of its own accord (meters, a
// person's actions) is also lost while the host does not have the device open, as with a real HID device.
// Switches a cue bus as the console does: with cue interlock on, switching one on switches the others off.
void switch_cue(ConsoleItems &items, int bus, bool on);

class ConsoleModel : public DeviceModel {
public:
    static constexpr int max_metering_rate = 1000;

    // Milliseconds on a monotonic clock; tests may drive their own.
    using Clock = std::function<qint64()>;

    struct LedState {
        bool blinking = false;
        int color = 0;    // steady colour
        int color_on = 0; // blinking colours and speed
        int color_off = 0;
        int blink_speed = 0;
    };

    explicit ConsoleModel(EmulatedDevice &device = EmulatedDevice::instance());
    ~ConsoleModel() override;
    ConsoleModel(const ConsoleModel &) = delete;
    ConsoleModel &operator=(const ConsoleModel &) = delete;

    void output_report(const QByteArray &report, EmulatedDevice &device) override;
    void before_read(EmulatedDevice &device) override;
    void opened(EmulatedDevice &device) override;

    // Back to the factory state; sends nothing.
    void restore_factory_state();

    // The payload of one item as its state report carries it (the LED tables for the LED items); empty for
    // an id the console does not have.
    QByteArray item(unsigned char id) const { return items.payload(id); }
    // The ids whose requests are answered.
    static QList<unsigned char> reported_ids();
    // The state report of one item: length byte, state type byte, payload.
    static QByteArray state_report(unsigned char id, const QByteArray &payload);

    bool is_on(int mod) const { return items.is_set(item::on_state, mod); }
    bool is_fader_open(int mod) const { return items.is_set(item::fader_state, mod); }
    bool is_module_active(int mod) const { return items.is_set(item::module_active, mod); }
    int source(int mod) const { return items.byte(item::source_select, mod); }
    bool is_cue_on(int bus) const { return items.bit(item::cue_state, bus); }
    bool is_control_key_down(int key) const { return items.bit(item::control_keys, key); }
    bool is_on_air(int output) const { return items.is_set(item::on_air_state, output); }
    bool is_phone_ringing() const { return items.is_set(item::phone_ringing, 0); }
    bool is_voip_connected() const { return items.is_set(item::voip_connect, 0); }
    // Auto-cue target 0: control room, 1: announcer.
    bool is_auto_cue_on(int target) const { return items.is_set(item::auto_cue_state, target); }
    bool is_non_stop() const { return items.is_set(item::non_stop_state, 0); }
    bool is_mic_on() const { return items.is_set(item::mic_on_state, 0); }
    bool is_crm_muted() const { return items.is_set(item::crm_mute_state, 0); }
    bool is_gpo_active(int gpo) const { return items.is_set(item::gpo_state, gpo); }
    // Colour code of ON key mod as the console lights it, and of cue key bus (from the colour tables).
    int on_key_color(int mod) const;
    int cue_key_color(int bus) const;
    LedState led(int led) const;

    // Level meters: reports per second (0 switches them off; at most max_metering_rate).
    void set_metering_rate(int per_second);
    int metering_rate() const { return rate; }
    qint64 metering_sent() const { return meters_sent; }
    // Metering reports that found the device's input queue full and were dropped.
    qint64 metering_dropped() const { return meters_dropped; }
    void set_clock(Clock clock);
    qint64 now() const;
    // The meters at this moment, as the next metering report would carry them (before encoding).
    MeterLevels levels() const;
    // One metering report for the given moment.
    QByteArray metering_report(qint64 ms) const;

    // A person at the console.
    void press_on_key(int mod);
    void move_fader(int mod, bool open);
    void press_cue(int bus);
    // A momentary key: down, then up, each reported.
    void press_control_key(int key);
    void set_control_key(int key, bool down);
    // 0: line; 1: the module's other source (microphone, USB or VoIP).
    void select_source(int mod, int source);
    void press_auto_cue(int target);
    void press_non_stop();
    void set_comm(int mod, bool on);
    void set_cough(int mod, bool on);
    void set_track(int mod, int state);
    void set_phone_ringing(bool ringing);
    void set_voip_connect(bool connected);
    // Pulls the USB plug: the host's next read fails and the device cannot be opened until replug().
    void unplug();
    void replug();
    bool is_plugged() const { return device.present(); }

private:
    void answer_request(unsigned char id);
    void answer_led_request(item::Id id);
    void apply_command(unsigned char id, const QByteArray &report);

    // One change to the console's state: edit changes the items; then the console does what follows by
    // itself (auto on/off, cue reset, the derived states) and reports the primary item if it changed and every
    // other item that changed, ascending. host_asked: the answer to a command rather than a person's action.
    template <typename Edit>
    void change(item::Id primary, bool host_asked, Edit &&edit)
    {
        const ConsoleItems before = items;
        edit(items);
        commit(primary, before, host_asked);
    }
    void commit(item::Id primary, const ConsoleItems &before, bool host_asked);
    void follow_module_changes(const ConsoleItems &before);
    void settle_derived_states();

    // Queues an input report: host_asked answers need the console plugged in; what the console sends of its
    // own accord also needs the host to have the device open.
    void send(const QByteArray &report, bool host_asked);
    MeterInputs meter_inputs() const;

    EmulatedDevice &device;
    ConsoleItems items;
    QElapsedTimer timer;
    Clock clock;
    int rate = 0;
    qint64 meters_epoch = 0;
    qint64 meters_due = 0;
    qint64 meters_sent = 0;
    qint64 meters_dropped = 0;
};

} // namespace emulator
