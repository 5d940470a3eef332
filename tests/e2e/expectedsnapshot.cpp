#include "expectedsnapshot.h"

#include "console/valuelists.h"
#include "emulator/factorystate.h"

#include <QJsonValue>
#include <QStringList>

#include <algorithm>
#include <initializer_list>

using namespace korvel;

namespace e2e {

namespace {

// The bytes of one item, 0 past its end.
class Bytes {
public:
    explicit Bytes(QByteArray payload)
        : payload(std::move(payload))
    {}
    unsigned at(int i) const { return i < payload.size() ? static_cast<unsigned char>(payload.at(i)) : 0U; }
    bool flag(int i) const { return at(i) != 0; }
    bool bit(int i) const { return ((at(0) | (at(1) << 8)) >> i) & 1U; }
    // The 2-bit colour field at bit shift of the nibble of member i (bytes 0.., two members a byte).
    unsigned nibble_field(int i, int shift) const { return (at(i / 2) >> ((i % 2) * 4 + shift)) & 3U; }

private:
    QByteArray payload;
};

// Names of a member list without its "*".
QStringList members(const QStringList &list)
{
    return list.mid(0, list.size() - 1);
}

template <typename F>
QJsonObject per_member(const QStringList &list, F value_of)
{
    QJsonObject object;
    const QStringList names = members(list);
    for (int i = 0; i < names.size(); ++i) {
        if (!names.at(i).isEmpty())
            object.insert(names.at(i), value_of(i));
    }
    return object;
}

QJsonObject flags(unsigned byte, std::initializer_list<const char *> keys)
{
    QJsonObject object;
    int k = 0;
    for (const char *key : keys)
        object.insert(QLatin1String(key), static_cast<bool>((byte >> k++) & 1U));
    return object;
}

QJsonObject bools(const QStringList &list, const Bytes &b)
{
    return per_member(list, [&](int i) { return QJsonValue(b.flag(i)); });
}

void add_states(QJsonObject &all, const ItemSource &item)
{
    const auto get = [&](unsigned char id) { return Bytes(item(id)); };

    const Bytes colours = get(0x02);
    const Bytes blink = get(0x03);
    all["ctrl_led"] = per_member(ctrl_key_names, [&](int i) -> QJsonValue {
        if (!blink.flag(4 * i))
            return led_color_names.at(colours.at(i));
        return QJsonObject{{"color_on", led_color_names.at(blink.at(4 * i + 1))},
                           {"color_off", led_color_names.at(blink.at(4 * i + 2))},
                           {"blink_speed", blink_speed_names.at(blink.at(4 * i + 3))}};
    });
    const Bytes keys = get(0x04);
    all["ctrl_key"] = per_member(ctrl_key_names, [&](int i) { return QJsonValue(keys.bit(i)); });
    all["on"] = bools(module_names, get(0x20));
    const Bytes cues = get(0x21);
    all["cue"] = per_member(cue_names, [&](int i) { return QJsonValue(cues.bit(i)); });
    all["fader"] = bools(module_names, get(0x22));
    all["auto_cue"] = bools(auto_cue_names, get(0x23));
    const Bytes sources = get(0x24);
    all["source_select"] = per_member(
        module_names, [&](int i) { return QJsonValue(sources.flag(i) ? module_source_names.at(i) : "line"); });
    all["non_stop"] = get(0x25).flag(0);
    all["mic_on"] = get(0x26).flag(0);
    all["gpo"] = bools(gpo_names, get(0x27));
    all["on_air"] = bools(on_air_names, get(0x28));
    all["silence_detection"] = get(0x29).flag(0);
    all["module_active"] = bools(module_names, get(0x2A));
    all["crm_mute"] = get(0x2B).flag(0);
    const Bytes tracks = get(0x2C);
    all["track"] = per_member(module_names, [&](int i) { return QJsonValue(track_state_names.at(tracks.at(i))); });
    const Bytes comm = get(0x0B);
    const Bytes cough = get(0x0C);
    all["studio_remote"] = per_member(mic_module_names, [&](int i) {
        return QJsonValue(QJsonObject{{"comm", comm.flag(i)}, {"cough", cough.flag(i)}});
    });
    all["voicetrack"] = bools(voicetrack_module_names, get(0x0D));
    all["phone_ringing"] = get(0x2D).flag(0);
    all["voip_connect"] = get(0x2E).flag(0);
    const Bytes firmware = get(0x01);
    all["firmware"] = QStringLiteral("%1.%2.%3").arg(firmware.at(0)).arg(firmware.at(1)).arg(firmware.at(2));
}

void add_config(QJsonObject &all, const ItemSource &item)
{
    const auto get = [&](unsigned char id) { return Bytes(item(id)); };

    all["config_auto_on"] = bools(module_names, get(0x11));
    const Bytes cue_reset = get(0x12);
    all["config_cue_reset"] = per_member(module_names, [&](int i) {
        return QJsonValue(flags(cue_reset.at(i), {"enabled_by_line", "enabled_by_mic_usb_voip", "reset_by_fader",
                                                  "reset_by_on", "reset_by_fader_and_on"}));
    });
    const Bytes on_air = get(0x13);
    all["config_on_air"] = per_member(module_names, [&](int i) {
        return QJsonValue(flags(on_air.at(i), {"on_air1_enabled_by_line", "on_air1_enabled_by_mic_usb_voip",
                                               "on_air2_enabled_by_line", "on_air2_enabled_by_mic_usb_voip"}));
    });
    all["config_crm_mute"] = bools(mic_module_names, get(0x14));
    all["config_crm_auto_cue_reset"] = bools(mic_module_names, get(0x15));
    const Bytes studio = get(0x16);
    all["config_studio_remote"] = per_member(mic_module_names, [&](int i) {
        return QJsonValue(flags(studio.at(i), {"cough_enable", "comm_enable", "comm_private"}));
    });
    all["config_cue_interlock"] = get(0x17).flag(0);
    const Bytes gpo = get(0x18);
    all["config_gpo"] = per_member(gpo_names, [&](int i) {
        return QJsonValue(QJsonObject{{"trigger", gpo_trigger_names.at(gpo.at(4 * i))},
                                      {"mode", gpo_mode_names.at(gpo.at(4 * i + 1))},
                                      {"type", gpo_type_names.at(gpo.at(4 * i + 2))},
                                      {"time", static_cast<int>(gpo.at(4 * i + 3))}});
    });
    const Bytes cue_colours = get(0x19);
    all["config_cue"] = per_member(cue_names, [&](int i) {
        return QJsonValue(QJsonObject{{"color_on", led_color_names.at(cue_colours.nibble_field(i, 0))},
                                      {"color_off", led_color_names.at(cue_colours.nibble_field(i, 2))}});
    });
    const Bytes on_colours = get(0x1A);
    all["config_on"] = per_member(module_names, [&](int i) {
        const unsigned with_fader = (on_colours.at(4 + i / 4) >> (2 * (i % 4))) & 3U;
        return QJsonValue(QJsonObject{{"color_on", led_color_names.at(on_colours.nibble_field(i, 0))},
                                      {"color_on_and_fader", led_color_names.at(with_fader)},
                                      {"color_off", led_color_names.at(on_colours.nibble_field(i, 2))}});
    });
    all["config_fader_reserve"] = bools(module_names, get(0x1B));
    const Bytes silence = get(0x1C);
    all["config_silence_detection"] =
        QJsonObject{{"threshold", static_cast<int>(static_cast<signed char>(silence.at(0)))},
                    {"interval", static_cast<int>(silence.at(1))},
                    {"interval_unit", interval_unit_names.at(silence.at(2))},
                    {"source", silence_source_names.at(silence.at(3))},
                    {"enable", silence.flag(4)}};
    all["config_phantom"] = bools(mic_module_names, get(0x1D));
    all["config_mic_at_line"] = bools(mic_module_names, get(0x1E));
    all["config_auto_off"] = bools(module_names, get(0x1F));
    all["config_locked_on"] = bools(module_names, get(0x31));
    const Bytes pgm_auto_off = get(0x32);
    all["config_pgm_auto_off"] = per_member(module_names, [&](int i) {
        return QJsonValue(flags(pgm_auto_off.at(i), {"enabled_by_line", "enabled_by_mic_usb_voip"}));
    });
    all["config_mic_on"] = mic_on_mode_names.at(get(0x33).at(0));
}

} // namespace

QByteArray factory_item(unsigned char id)
{
    for (const emulator::FactoryItem &item : emulator::factory_state) {
        if (item.id != id)
            continue;
        QByteArray payload(item.size, '\0');
        for (int i = 0; i < std::min<int>(item.size, static_cast<int>(item.bytes.size())); ++i)
            payload[i] = static_cast<char>(item.bytes[static_cast<std::size_t>(i)]);
        return payload;
    }
    return {};
}

QJsonObject expected_snapshot(const ItemSource &item)
{
    QJsonObject all;
    add_config(all, item);
    add_states(all, item);
    return all;
}

} // namespace e2e
