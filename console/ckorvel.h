#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QMap>
#include <QObject>

#include <initializer_list>
#include <span>

class CUSBHID;

namespace korvel {
// The console's items (console/items.h).
struct Item;
enum class ReportId : quint8;
} // namespace korvel

// The console protocol object: encodes every command into its 10-byte output report, sends the start-up
// requests when the link opens, and decodes every input report into the report cache and typed events.
class CKorvel : public QObject {
    Q_OBJECT

public:
    using ReportCache = QMap<unsigned char, QByteArray>;

    CKorvel(CUSBHID *usb, QObject *parent);

    CUSBHID *device_link() const { return usb; }
    // Payload of the last state report of each id; emptied when the link closes.
    const ReportCache &report_cache() const { return cache; }
    // The cached payload of one id, empty when the console has not reported it.
    QByteArray cached(unsigned char id) const { return cache.value(id); }

    // Simple commands: one report each, arguments sent as their low 8 bits.
    void ctrl_led(int id, int color);
    void ctrl_led_blink_write(unsigned char id, unsigned char color_on, unsigned char color_off,
                              unsigned char blink_speed);
    void on(int mod, int state);
    void cue(int cue, int state);
    void auto_cue_ann(int state);
    void auto_cue_crm(int state);
    void non_stop(int state);
    void comm(int mod, int state);
    void cough(int mod, int state);
    void voicetrack(int mod, int state);
    void config_auto_on(int mod, int state);
    void config_cue_reset_write(unsigned char mod, unsigned char flags);
    void config_on_air_write(unsigned char mod, unsigned char flags);
    void config_crm_mute(int mod, int state);
    void config_crm_auto_cue_reset(int mod, int state);
    void config_studio_remote_write(unsigned char mod, unsigned char flags);
    void config_cue_interlock(int state);
    void config_gpo_write(unsigned char gpo, unsigned char trigger, unsigned char mode, unsigned char type,
                          unsigned char time);
    void config_cue_write(unsigned char cue, unsigned char color_on, unsigned char color_off);
    void config_on_write(unsigned char mod, unsigned char color_on, unsigned char color_on_and_fader,
                         unsigned char color_off);
    void config_fader_reserve(int mod, int state);
    void config_silence_detection_write(unsigned char threshold, unsigned char interval, unsigned char interval_unit,
                                        unsigned char source, unsigned char enable);
    void config_phantom(int mod, int state);
    void config_mic_at_line(int mod, int state);
    void config_auto_off(int mod, int state);
    void track(int mod, int state);
    void config_locked_on(int mod, int state);
    void config_pgm_auto_off_write(unsigned char mod, unsigned char flags);
    void config_mic_on(int trigger);

    // Read-modify-write commands: a field given as -1 (the threshold: 1) keeps the value the console last
    // reported; member 255 expands to every member when a field has to be filled from the cache. A member whose
    // missing field the console has not reported (no entry, or one too short) is not written.
    void config_cue(int cue, int color_on, int color_off);
    void config_cue_reset(int mod, int enabled_by_line, int enabled_by_mic_usb_voip, int reset_by_fader,
                          int reset_by_on, int reset_by_fader_and_on);
    void config_gpo(int gpo, int trigger, int mode, int type, int time);
    void config_on(int mod, int color_on, int color_on_and_fader, int color_off);
    void config_pgm_auto_off(int mod, int enabled_by_line, int enabled_by_mic_usb_voip);
    void config_on_air(int mod, int on_air1_enabled_by_line, int on_air1_enabled_by_mic_usb_voip,
                       int on_air2_enabled_by_line, int on_air2_enabled_by_mic_usb_voip);
    void config_studio_remote(int mod, int cough_enable, int comm_enable, int comm_private);
    void ctrl_led_blink(int id, int color_on, int color_off, int blink_speed);
    void config_silence_detection(int threshold, int interval, int interval_unit, int source, int enable);

    // Sets an item of the catalogue: one report for an item of one field; the others are read-modify-write.
    // fields: one value per field of the item, in its order; member is ignored for items without members.
    void set(korvel::ReportId id, int member, const int *fields);
    void set(korvel::ReportId id, int member, std::initializer_list<int> fields);

    // The report ids asked for whenever the link opens, in the order asked.
    static std::span<const korvel::ReportId> startup_requests();

    // Asks for the state report of one id; id is the request type byte (0x40 plus the report id).
    void request(unsigned char id);

    // Bytes of every output report handed to the device link.
    static constexpr int output_report_length = 10;

signals:
    void ctrl_led_event(int id, int color);
    void ctrl_led_blink_event(int id, int color_on, int color_off, int blink_speed);
    void ctrl_switch_event(int id, int state);
    void config_auto_on_event(int mod, int state);
    void config_cue_reset_event(int mod, int enabled_by_line, int enabled_by_mic_usb_voip, int reset_by_fader,
                                int reset_by_on, int reset_by_fader_and_on);
    void config_on_air_event(int mod, int on_air1_enabled_by_line, int on_air1_enabled_by_mic_usb_voip,
                             int on_air2_enabled_by_line, int on_air2_enabled_by_mic_usb_voip);
    void config_crm_mute_event(int mod, int state);
    void config_crm_auto_cue_reset_event(int mod, int state);
    void config_studio_remote_event(int mod, int cough_enable, int comm_enable, int comm_private);
    void config_cue_interlock_event(int state);
    void config_gpo_event(int gpo, int trigger, int mode, int type, int time);
    void config_cue_event(int cue, int color_on, int color_off);
    void config_on_event(int mod, int color_on, int color_on_and_fader, int color_off);
    void config_fader_reserve_event(int mod, int state);
    void config_silence_detection_event(int threshold, int interval, int interval_unit, int source, int enable);
    void config_phantom_event(int mod, int state);
    void config_mic_at_line_event(int mod, int state);
    void config_auto_off_event(int mod, int state);
    void config_locked_on_event(int mod, int state);
    void config_pgm_auto_off_event(int mod, int enabled_by_line, int enabled_by_mic_usb_voip);
    void config_mic_on_event(int trigger);
    void state_on_event(int mod, int state);
    void state_cue_event(int cue, int state);
    void state_fader_event(int mod, int state);
    void state_auto_cue_event(int auto_cue, int state);
    void state_src_sel_event(int mod, int source);
    void state_non_stop_event(int state);
    void state_mic_on_event(int state);
    void state_gpo_event(int gpo, int state);
    void state_on_air_event(int on_air, int state);
    void state_silence_detection_event(int state);
    void state_metering_event(float pgm_l, float pgm_r, float phones_l, float phones_r, float crm_l, float crm_r);
    void state_module_event(int mod, int state);
    void state_crm_mute_event(int state);
    void state_track_event(int mod, int state);
    void state_comm_event(int mod, int state);
    void state_cough_event(int mod, int state);
    void state_vt_event(int mod, int state);
    void state_phone_ringing_event(int state);
    void state_connect_event(int state);

public slots:
    void on_connected();
    void on_disconnected();
    void on_data_ready(QByteArray data);

private:
    // Builds the 10-byte report: length byte 2 + argument count, the type byte, the arguments, zeros.
    void send(unsigned char type, std::initializer_list<int> args);
    void send(unsigned char type, const int *args, int count);

    void read_modify_write(const korvel::Item &item, int member, const int *fields);
    void write_item(const korvel::Item &item, int member, const int *fields);
    // Whether the cached fields of item's member came from the console rather than from a zero-filled table.
    bool member_reported(const korvel::Item &item, int member) const;

    // Replaces the cache entry of id with payload, reusing the entry's storage.
    void store(unsigned char id, QByteArrayView payload);
    // The LED colour or blink table, created zero-filled at its full size where missing or short.
    QByteArray &led_table(unsigned char id);
    // An LED state report or echo of the steady or the blinking LED item; either announces what it changed.
    void apply_led(unsigned char id, QByteArrayView payload);
    void decode_metering(QByteArrayView payload);

    CUSBHID *usb;
    ReportCache cache;
    // Counts the closes of the link, so a report whose slots closed the link leaves the emptied cache alone.
    quint64 cache_generation = 0;
    // Bit i: the console has reported LED i's blink fields (a blink report or echo). The tables are created
    // zero-filled, so without this a zero the console never sent would read as a reported "off".
    quint16 led_blink_reported = 0;
};
