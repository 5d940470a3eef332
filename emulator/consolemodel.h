#pragma once

#include "emulator/emulateddevice.h"
#include "emulator/meteringlevels.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMap>

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
// - When the host opens the device, it reports phone ringing (0x2D) and VoIP connect (0x2E): the host does
//   not ask for those at start-up.
// - Level meters at the metering rate while the host has the device open.
// - Whatever a person does on the console, as the state reports of the items that changed.
// Nothing is sent while the console is unplugged; what the console sends of its own accord (meters, a
// person's actions) is also lost while the host does not have the device open, as with a real HID device.
class ConsoleModel : public DeviceModel {
public:
    static constexpr int module_count = 8;
    static constexpr int mic_module_count = 3;
    static constexpr int cue_count = 11;
    static constexpr int ctrl_key_count = 16;
    static constexpr int gpo_count = 2;
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

    // The payload of one item as its state report carries it (the LED tables for 0x02 and 0x03); empty for
    // an id the console does not have.
    QByteArray item(unsigned char id) const { return items.value(id); }
    // The ids whose requests are answered.
    static QList<unsigned char> reported_ids();
    // The state report of one item: length byte, type byte 0xC0 | id, payload.
    static QByteArray state_report(unsigned char id, const QByteArray &payload);

    bool is_on(int mod) const { return byte(0x20, mod) != 0; }
    bool is_fader_open(int mod) const { return byte(0x22, mod) != 0; }
    bool is_module_active(int mod) const { return byte(0x2A, mod) != 0; }
    int source(int mod) const { return byte(0x24, mod); }
    bool is_cue_on(int bus) const { return (word(0x21) >> bus) & 1; }
    bool is_control_key_down(int key) const { return (word(0x04) >> key) & 1; }
    bool is_on_air(int output) const { return byte(0x28, output) != 0; }
    bool is_phone_ringing() const { return byte(0x2D, 0) != 0; }
    bool is_voip_connected() const { return byte(0x2E, 0) != 0; }
    // Auto-cue target 0: control room, 1: announcer.
    bool is_auto_cue_on(int target) const { return byte(0x23, target) != 0; }
    bool is_non_stop() const { return byte(0x25, 0) != 0; }
    bool is_mic_on() const { return byte(0x26, 0) != 0; }
    bool is_crm_muted() const { return byte(0x2B, 0) != 0; }
    bool is_gpo_active(int gpo) const { return byte(0x27, gpo) != 0; }
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
    using Items = QMap<unsigned char, QByteArray>;

    unsigned char byte(unsigned char id, int index) const;
    quint16 word(unsigned char id) const;
    void set_byte(unsigned char id, int index, unsigned char value);
    void set_word(unsigned char id, quint16 value);

    void answer_request(unsigned char id);
    void answer_led_request(unsigned char id);
    void apply_command(unsigned char id, const QByteArray &args);
    bool apply_led_command(unsigned char id, const QByteArray &args);
    void echo(unsigned char id, const QByteArray &args);

    // After a change: applies what the console does by itself (auto on/off, cue reset, the derived states),
    // then reports the primary item if it changed and every other item that changed, ascending.
    void commit(unsigned char primary, const Items &before, bool host_asked);
    void follow_module_changes(const Items &before);
    void settle_derived_states();
    void switch_cue(int bus, bool on);

    // Queues an input report: host_asked answers need the console plugged in; what the console sends of its
    // own accord also needs the host to have the device open.
    void send(const QByteArray &report, bool host_asked);
    MeterInputs meter_inputs() const;

    EmulatedDevice &device;
    Items items;
    QElapsedTimer timer;
    Clock clock;
    int rate = 0;
    qint64 meters_epoch = 0;
    qint64 meters_due = 0;
    qint64 meters_sent = 0;
    qint64 meters_dropped = 0;
};

} // namespace emulator
