// The 26 console commands end to end: a client message in, the exact reports on the console's wire out, or
// the exact refusal and the reports sent before it.
#include "commandnames.h"
#include "dispatcherrig.h"
#include "protocol/consolecommand.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTest>

using emulator::EmulatedDevice;

namespace {

struct Row {
    QString name;
    QString message;
    QByteArrayList writes; // in order
    QString error;         // empty: the message succeeds
    QByteArrayList cache;  // input reports fed before the message
};

// Reports that fill the caches the read-modify-write commands read when the client leaves fields out.
const QByteArray cached_pgm_auto_off = input("0A F2 03 00 01 02 00 00 00 00");
const QByteArray cached_cue_colours = input("08 D9 00 00 9C 00 00 09");
const QByteArray cached_cue_reset = input("0A D2 01 00 1F 00 00 00 00 00");
const QByteArray cached_gpo = input("0A D8 03 01 02 20 05 00 03 FF");
const QByteArray cached_on_colours = input("08 DA 00 00 00 00 E4 30");
const QByteArray cached_on_air = input("0A D3 00 00 00 00 00 00 00 0F");
const QByteArray cached_silence = input("07 DC EC 05 01 02 01");
const QByteArray cached_studio_remote = input("05 D6 01 02 07");
// Two LED echoes: every LED blinks green/off at normal speed, then LED 5 off/green fast.
const QByteArrayList cached_blink_table{input("06 83 FF 02 00 01"), input("06 83 05 00 02 02")};

QString message(const char *msg, const char *data)
{
    if (!data)
        return QStringLiteral(R"({"msg": "%1"})").arg(QLatin1String(msg));
    return QStringLiteral(R"({"msg": "%1", "data": %2})").arg(QLatin1String(msg), QLatin1String(data));
}

QString type_error(const char *path, const char *type)
{
    return QStringLiteral("invalid data type for key: '%1', expected: %2")
        .arg(QLatin1String(path), QLatin1String(type));
}

QString value_error(const char *value, const char *path)
{
    return QStringLiteral("invalid data value '%1' for key: '%2'").arg(QLatin1String(value), QLatin1String(path));
}

QString key_error(const char *path)
{
    return QStringLiteral("invalid key: '%1'").arg(QLatin1String(path));
}

using korveltest::keyed_console_commands;

QList<Row> control_rows()
{
    QList<Row> rows;
    const auto ok = [&rows](const char *name, QString msg, QByteArrayList writes, QByteArrayList cache = {}) {
        rows.append({QLatin1String(name), msg, writes, QString(), cache});
    };
    const auto fails = [&rows](const char *name, QString msg, QString error, QByteArrayList writes = {}) {
        rows.append({QLatin1String(name), msg, writes, error, {}});
    };

    // set_auto_cue
    ok("auto_cue announcer before crm", message("set_auto_cue", R"({"crm": "toggle", "announcer": "on"})"),
       {written("03 08 01"), written("03 09 02")});
    ok("auto_cue off", message("set_auto_cue", R"({"announcer": "off"})"), {written("03 08 00")});
    fails("auto_cue star refused before crm", message("set_auto_cue", R"({"crm": "on", "*": "on"})"),
          key_error("data.*"));
    fails("auto_cue crm number", message("set_auto_cue", R"({"crm": 1})"), type_error("data.crm", "String"));
    fails("auto_cue unknown action", message("set_auto_cue", R"({"announcer": "maybe"})"),
          value_error("maybe", "data.announcer"));
    fails("auto_cue crm then bad key", message("set_auto_cue", R"({"mod1": "on", "crm": "off"})"),
          key_error("data.mod1"), {written("03 09 00")});

    // set_ctrl_led
    ok("ctrl_led steady and blinking",
       message("set_ctrl_led",
               R"({"a1": "red", "b8": {"color_on": "green", "color_off": "off", "blink_speed": "fast"}})"),
       {written("04 02 00 01"), written("06 03 0F 02 00 02")});
    ok("ctrl_led all steady", message("set_ctrl_led", R"({"*": "green"})"), {written("04 02 FF 02")});
    ok("ctrl_led blinking all given, extra ignored",
       message("set_ctrl_led", R"({"a2": {"blink_speed": "slow", "color_on": "red", "color_off": "green", "x": 1}})"),
       {written("06 03 01 01 02 00")});
    {
        QByteArrayList sixteen;
        for (int led = 0; led < 16; ++led) {
            const QByteArray hex =
                led == 5 ? "06 03 05 01 02 02"
                         : QStringLiteral("06 03 %1 01 00 01").arg(led, 2, 16, QLatin1Char('0')).toLatin1();
            sixteen.append(written(hex.constData()));
        }
        ok("ctrl_led all blinking, colours kept", message("set_ctrl_led", R"({"*": {"color_on": "red"}})"), sixteen,
           cached_blink_table);
    }
    ok("ctrl_led empty blinking object sends nothing", message("set_ctrl_led", R"({"a1": {}})"), {});
    fails("ctrl_led unknown colour", message("set_ctrl_led", R"({"a3": "blue"})"), value_error("blue", "data.a3"));
    for (const char *value : {"1", "true", "null", "[]"}) {
        fails(qPrintable(QStringLiteral("ctrl_led value %1").arg(QLatin1String(value))),
              message("set_ctrl_led", qPrintable(QStringLiteral(R"({"a3": %1})").arg(QLatin1String(value)))),
              type_error("data.a3", "String (static) or Object (blinking)"));
    }
    fails("ctrl_led blinking pink", message("set_ctrl_led", R"({"a1": {"blink_speed": "fast", "color_on": "pink"}})"),
          value_error("pink", "data.a1.color_on"));
    fails("ctrl_led blinking colour number", message("set_ctrl_led", R"({"a1": {"color_off": 5}})"),
          type_error("data.a1.color_off", "String"));
    fails("ctrl_led blink speed letter case", message("set_ctrl_led", R"({"a1": {"blink_speed": "FAST"}})"),
          value_error("FAST", "data.a1.blink_speed"));
    fails("ctrl_led a2 then bad key", message("set_ctrl_led", R"({"a2": "red", "c1": "red"})"), key_error("data.c1"),
          {written("04 02 01 01")});
    fails("ctrl_led bad key sorts first", message("set_ctrl_led", R"({"b1": "off", "a9": "red"})"),
          key_error("data.a9"));

    // set_cue
    ok("cue air before aux", message("set_cue", R"({"aux": "on", "air": "off"})"),
       {written("04 06 0A 00"), written("04 06 08 01")});
    ok("cue all and non_stop", message("set_cue", R"({"non_stop": "on", "*": "toggle"})"),
       {written("04 06 FF 02"), written("04 06 09 01")});
    fails("cue bad key", message("set_cue", R"({"mod9": "on"})"), key_error("data.mod9"));
    fails("cue bool", message("set_cue", R"({"mod1": true})"), type_error("data.mod1", "String"));
    fails("cue letter case", message("set_cue", R"({"mod1": "ON"})"), value_error("ON", "data.mod1"));

    // set_non_stop
    ok("non_stop toggle", message("set_non_stop", R"("toggle")"), {written("03 0A 02")});
    ok("non_stop off", message("set_non_stop", R"("off")"), {written("03 0A 00")});
    fails("non_stop object", message("set_non_stop", R"({"state": "on"})"), type_error("data", "String"));
    fails("non_stop absent", message("set_non_stop", nullptr), type_error("data", "String"));
    fails("non_stop unknown", message("set_non_stop", R"("start")"), value_error("start", "data"));

    // set_on
    ok("on two modules", message("set_on", R"({"mod1": "on", "mod2": "toggle"})"),
       {written("04 05 00 01"), written("04 05 01 02")});
    ok("on all first", message("set_on", R"({"mod1": "on", "*": "off"})"),
       {written("04 05 FF 00"), written("04 05 00 01")});
    ok("on mod8", message("set_on", R"({"mod8": "off"})"), {written("04 05 07 00")});
    fails("on mod2 then mod9", message("set_on", R"({"mod2": "on", "mod9": "on"})"), key_error("data.mod9"),
          {written("04 05 01 01")});
    fails("on letter case key", message("set_on", R"({"Mod1": "on"})"), key_error("data.Mod1"));
    fails("on spaced key", message("set_on", R"({" mod1": "on"})"), key_error("data. mod1"));
    fails("on trailing space value", message("set_on", R"({"mod1": "on "})"), value_error("on ", "data.mod1"));
    fails("on number", message("set_on", R"({"mod3": 1})"), type_error("data.mod3", "String"));

    // set_studio_remote
    ok("studio_remote comm and cough", message("set_studio_remote", R"({"mod2": {"cough": false, "comm": true}})"),
       {written("04 0B 01 01"), written("04 0C 01 00")});
    fails("studio_remote comm sent before bad cough",
          message("set_studio_remote", R"({"mod1": {"comm": true, "cough": 1}})"),
          type_error("data.mod1.cough", "Bool"), {written("04 0B 00 01")});
    ok("studio_remote unknown member", message("set_studio_remote", R"({"mod3": {"talkback": true}})"), {});
    ok("studio_remote all modules", message("set_studio_remote", R"({"*": {"cough": true, "comm": false}})"),
       {written("04 0B FF 00"), written("04 0C FF 01")});
    ok("studio_remote keys in order",
       message("set_studio_remote", R"({"mod2": {"comm": false}, "mod1": {"cough": true}})"),
       {written("04 0C 00 01"), written("04 0B 01 00")});
    fails("studio_remote not an object", message("set_studio_remote", R"({"mod1": true})"),
          type_error("data.mod1", "Object"));
    fails("studio_remote mod4", message("set_studio_remote", R"({"mod4": {}})"), key_error("data.mod4"));
    fails("studio_remote comm string", message("set_studio_remote", R"({"mod1": {"comm": "on"}})"),
          type_error("data.mod1.comm", "Bool"));

    // set_track
    ok("track all first", message("set_track", R"({"mod5": "play", "*": "stop"})"),
       {written("04 2C FF 00"), written("04 2C 04 01")});
    ok("track end", message("set_track", R"({"mod8": "end"})"), {written("04 2C 07 02")});
    fails("track pause", message("set_track", R"({"mod5": "pause"})"), value_error("pause", "data.mod5"));
    fails("track number", message("set_track", R"({"mod1": 1})"), type_error("data.mod1", "String"));

    // set_voicetrack
    ok("voicetrack mod1 and mod8", message("set_voicetrack", R"({"mod8": true, "mod1": false})"),
       {written("04 0D 00 00"), written("04 0D 07 01")});
    ok("voicetrack all", message("set_voicetrack", R"({"*": true})"), {written("04 0D FF 01")});
    ok("voicetrack mod3", message("set_voicetrack", R"({"mod3": false})"), {written("04 0D 02 00")});
    fails("voicetrack string", message("set_voicetrack", R"({"mod8": "on"})"), type_error("data.mod8", "Bool"));
    fails("voicetrack mod4", message("set_voicetrack", R"({"mod4": true})"), key_error("data.mod4"));
    // The unnamed positions 3 to 6 cannot be addressed, not even by the empty word.
    fails("voicetrack empty key", message("set_voicetrack", R"({"": true})"), key_error("data."));
    return rows;
}

QList<Row> flag_rows()
{
    QList<Row> rows;
    const auto ok = [&rows](const char *name, QString msg, QByteArrayList writes) {
        rows.append({QLatin1String(name), msg, writes, QString(), {}});
    };
    const auto fails = [&rows](const char *name, QString msg, QString error) {
        rows.append({QLatin1String(name), msg, {}, error, {}});
    };
    ok("auto_off all first", message("set_config_auto_off", R"({"mod1": true, "*": false})"),
       {written("04 1F FF 00"), written("04 1F 00 01")});
    ok("locked_on mod8", message("set_config_locked_on", R"({"mod8": true})"), {written("04 31 07 01")});
    ok("auto_on mod3", message("set_config_auto_on", R"({"mod3": false})"), {written("04 11 02 00")});
    ok("fader_reserve mod2", message("set_config_fader_reserve", R"({"mod2": true})"), {written("04 1B 01 01")});
    ok("crm_auto_cue_reset mod3", message("set_config_crm_auto_cue_reset", R"({"mod3": true})"),
       {written("04 15 02 01")});
    fails("crm_auto_cue_reset mod4", message("set_config_crm_auto_cue_reset", R"({"mod4": true})"),
          key_error("data.mod4"));
    ok("crm_mute all", message("set_config_crm_mute", R"({"*": true})"), {written("04 14 FF 01")});
    ok("mic_at_line mod2", message("set_config_mic_at_line", R"({"mod2": false})"), {written("04 1E 01 00")});
    ok("phantom two modules", message("set_config_phantom", R"({"mod1": true, "mod3": false})"),
       {written("04 1D 00 01"), written("04 1D 02 00")});
    fails("phantom mod4", message("set_config_phantom", R"({"mod4": true})"), key_error("data.mod4"));
    fails("phantom string", message("set_config_phantom", R"({"mod1": "true"})"), type_error("data.mod1", "Bool"));
    fails("phantom number", message("set_config_phantom", R"({"mod1": 1})"), type_error("data.mod1", "Bool"));
    fails("auto_off object", message("set_config_auto_off", R"({"mod1": {}})"), type_error("data.mod1", "Bool"));
    return rows;
}

QList<Row> settings_rows()
{
    QList<Row> rows;
    const auto ok = [&rows](const char *name, QString msg, QByteArrayList writes, QByteArrayList cache = {}) {
        rows.append({QLatin1String(name), msg, writes, QString(), cache});
    };
    const auto fails = [&rows](const char *name, QString msg, QString error, QByteArrayList writes = {},
                               QByteArrayList cache = {}) {
        rows.append({QLatin1String(name), msg, writes, error, cache});
    };

    // set_config_pgm_auto_off
    ok("pgm_auto_off both given",
       message("set_config_pgm_auto_off", R"({"mod1": {"enabled_by_line": true, "enabled_by_mic_usb_voip": false}})"),
       {written("04 32 00 01")});
    ok("pgm_auto_off all both given",
       message("set_config_pgm_auto_off", R"({"*": {"enabled_by_mic_usb_voip": true, "enabled_by_line": false}})"),
       {written("04 32 FF 02")});
    ok("pgm_auto_off line from cache",
       message("set_config_pgm_auto_off", R"({"mod3": {"enabled_by_mic_usb_voip": false}})"), {written("04 32 02 01")},
       {cached_pgm_auto_off});
    ok("pgm_auto_off all, mic from cache", message("set_config_pgm_auto_off", R"({"*": {"enabled_by_line": true}})"),
       {written("04 32 00 03"), written("04 32 01 01"), written("04 32 02 01"), written("04 32 03 03"),
        written("04 32 04 01"), written("04 32 05 01"), written("04 32 06 01"), written("04 32 07 01")},
       {cached_pgm_auto_off});
    ok("pgm_auto_off nothing given", message("set_config_pgm_auto_off", R"({"mod2": {}})"), {}, {cached_pgm_auto_off});
    fails("pgm_auto_off string", message("set_config_pgm_auto_off", R"({"mod1": {"enabled_by_line": "yes"}})"),
          type_error("data.mod1.enabled_by_line", "Bool"));

    // set_config_cue
    ok("cue air colour_off from cache", message("set_config_cue", R"({"air": {"color_on": "green"}})"),
       {written("05 19 0A 02 02")}, {cached_cue_colours});
    ok("cue mod6 colour_on from high nibble", message("set_config_cue", R"({"mod6": {"color_off": "green"}})"),
       {written("05 19 05 01 02")}, {cached_cue_colours});
    ok("cue all both given", message("set_config_cue", R"({"*": {"color_on": "red", "color_off": "off"}})"),
       {written("05 19 FF 01 00")});
    ok("cue aux both given", message("set_config_cue", R"({"aux": {"color_on": "off", "color_off": "red"}})"),
       {written("05 19 08 00 01")});
    fails("cue colour_off read first",
          message("set_config_cue", R"({"mod1": {"color_on": "pink", "color_off": "blue"}})"),
          value_error("blue", "data.mod1.color_off"));
    fails("cue colour_on after good colour_off",
          message("set_config_cue", R"({"mod1": {"color_on": "pink", "color_off": "red"}})"),
          value_error("pink", "data.mod1.color_on"));
    fails("cue colour number", message("set_config_cue", R"({"mod1": {"color_off": 1}})"),
          type_error("data.mod1.color_off", "String"));
    fails("cue not an object", message("set_config_cue", R"({"mod1": "red"})"), type_error("data.mod1", "Object"));
    fails("cue bad key", message("set_config_cue", R"({"mod12": {}})"), key_error("data.mod12"));

    // set_config_cue_reset
    ok("cue_reset all given",
       message(
           "set_config_cue_reset",
           R"({"*": {"enabled_by_line": true, "enabled_by_mic_usb_voip": false, "reset_by_fader": true, "reset_by_on": false, "reset_by_fader_and_on": true}})"),
       {written("04 12 FF 15")});
    ok("cue_reset all, the rest from cache",
       message("set_config_cue_reset", R"({"*": {"enabled_by_mic_usb_voip": true}})"),
       {written("04 12 00 03"), written("04 12 01 02"), written("04 12 02 1F"), written("04 12 03 02"),
        written("04 12 04 02"), written("04 12 05 02"), written("04 12 06 02"), written("04 12 07 02")},
       {cached_cue_reset});
    ok("cue_reset nothing given", message("set_config_cue_reset", R"({"mod4": {}})"), {}, {cached_cue_reset});
    fails("cue_reset string", message("set_config_cue_reset", R"({"mod1": {"reset_by_on": "no"}})"),
          type_error("data.mod1.reset_by_on", "Bool"));
    fails("cue_reset number after good flag",
          message("set_config_cue_reset", R"({"mod1": {"enabled_by_line": true, "reset_by_fader": 1}})"),
          type_error("data.mod1.reset_by_fader", "Bool"));

    // set_config_gpo
    ok("gpo all given",
       message("set_config_gpo",
               R"({"gpo1": {"trigger": "onair1", "mode": "inverted", "type": "pulse_by_on", "time": 50}})"),
       {written("07 18 00 01 01 01 32")});
    fails("gpo time 9", message("set_config_gpo", R"({"gpo1": {"time": 9}})"), value_error("9", "data.gpo1.time"), {},
          {cached_gpo});
    ok("gpo time 10", message("set_config_gpo", R"({"gpo1": {"time": 10}})"), {written("07 18 00 03 01 02 0A")},
       {cached_gpo});
    ok("gpo time 255", message("set_config_gpo", R"({"gpo1": {"time": 255}})"), {written("07 18 00 03 01 02 FF")},
       {cached_gpo});
    fails("gpo time 256", message("set_config_gpo", R"({"gpo1": {"time": 256}})"),
          value_error("256", "data.gpo1.time"));
    fails("gpo time 7.9", message("set_config_gpo", R"({"gpo1": {"time": 7.9}})"), value_error("7", "data.gpo1.time"));
    ok("gpo time 10.9", message("set_config_gpo", R"({"gpo1": {"time": 10.9}})"), {written("07 18 00 03 01 02 0A")},
       {cached_gpo});
    fails("gpo time string", message("set_config_gpo", R"({"gpo1": {"time": "50"}})"),
          type_error("data.gpo1.time", "Number"));
    fails("gpo time null", message("set_config_gpo", R"({"gpo2": {"time": null}})"),
          type_error("data.gpo2.time", "Number"));
    fails("gpo time -1", message("set_config_gpo", R"({"gpo1": {"time": -1}})"), value_error("-1", "data.gpo1.time"));
    fails("gpo time -0.5", message("set_config_gpo", R"({"gpo1": {"time": -0.5}})"),
          value_error("0", "data.gpo1.time"));
    fails("gpo time huge", message("set_config_gpo", R"({"gpo1": {"time": 1e10}})"),
          value_error("2147483647", "data.gpo1.time"));
    fails("gpo time huge negative", message("set_config_gpo", R"({"gpo1": {"time": -1e10}})"),
          value_error("-2147483648", "data.gpo1.time"));
    fails("gpo3", message("set_config_gpo", R"({"gpo3": {}})"), key_error("data.gpo3"));
    ok("gpo all, the rest from cache", message("set_config_gpo", R"({"*": {"mode": "non_inverted"}})"),
       {written("07 18 00 03 00 02 20"), written("07 18 01 05 00 03 FF")}, {cached_gpo});
    fails("gpo unknown trigger", message("set_config_gpo", R"({"gpo2": {"trigger": "mod9_active"}})"),
          value_error("mod9_active", "data.gpo2.trigger"));
    fails("gpo mode read before type",
          message("set_config_gpo", R"({"gpo1": {"type": "continues", "mode": "sideways"}})"),
          value_error("sideways", "data.gpo1.mode"));
    fails("gpo trigger read before time", message("set_config_gpo", R"({"gpo1": {"time": 9, "trigger": "bogus"}})"),
          value_error("bogus", "data.gpo1.trigger"));
    fails("gpo array", message("set_config_gpo", R"({"gpo1": []})"), type_error("data.gpo1", "Object"));
    fails(
        "gpo gpo1 sent before bad gpo2",
        message(
            "set_config_gpo",
            R"({"gpo2": {"time": 9}, "gpo1": {"trigger": "off", "mode": "non_inverted", "type": "continues", "time": 10}})"),
        value_error("9", "data.gpo2.time"), {written("07 18 00 00 00 00 0A")});

    // set_config_on
    ok("on mod7 colour_on_and_fader from cache",
       message("set_config_on", R"({"mod7": {"color_on": "red", "color_off": "green"}})"),
       {written("06 1A 06 01 03 02")}, {cached_on_colours});
    ok("on all, colour_on_and_fader from cache",
       message("set_config_on", R"({"*": {"color_on": "red", "color_off": "off"}})"),
       {written("06 1A 00 01 00 00"), written("06 1A 01 01 01 00"), written("06 1A 02 01 02 00"),
        written("06 1A 03 01 03 00"), written("06 1A 04 01 00 00"), written("06 1A 05 01 00 00"),
        written("06 1A 06 01 03 00"), written("06 1A 07 01 00 00")},
       {cached_on_colours});
    ok("on all given",
       message("set_config_on", R"({"mod2": {"color_on_and_fader": "red", "color_on": "green", "color_off": "off"}})"),
       {written("06 1A 01 02 01 00")});
    fails("on colour_off read before colour_on",
          message("set_config_on", R"({"mod2": {"color_on": "pink", "color_off": "blue"}})"),
          value_error("blue", "data.mod2.color_off"));
    fails("on colour_off type before colour_on value",
          message("set_config_on", R"({"mod1": {"color_on": "pink", "color_off": 7}})"),
          type_error("data.mod1.color_off", "String"));
    fails("on colour_on_and_fader read last",
          message("set_config_on", R"({"mod1": {"color_on_and_fader": "yellow", "color_on": "purple"}})"),
          value_error("purple", "data.mod1.color_on"));

    // set_config_on_air
    ok("on_air all given",
       message(
           "set_config_on_air",
           R"({"mod1": {"on_air1_enabled_by_line": true, "on_air1_enabled_by_mic_usb_voip": false, "on_air2_enabled_by_line": true, "on_air2_enabled_by_mic_usb_voip": true}})"),
       {written("04 13 00 0D")});
    ok("on_air one flag, the rest from cache",
       message("set_config_on_air", R"({"mod8": {"on_air2_enabled_by_line": false}})"), {written("04 13 07 0B")},
       {cached_on_air});
    fails("on_air number", message("set_config_on_air", R"({"mod1": {"on_air2_enabled_by_mic_usb_voip": 0}})"),
          type_error("data.mod1.on_air2_enabled_by_mic_usb_voip", "Bool"));

    // set_config_studio_remote
    ok("config_studio_remote all, the rest from cache",
       message("set_config_studio_remote", R"({"*": {"comm_private": true}})"),
       {written("04 16 00 05"), written("04 16 01 06"), written("04 16 02 07")}, {cached_studio_remote});
    ok("config_studio_remote all given",
       message("set_config_studio_remote",
               R"({"mod1": {"cough_enable": true, "comm_enable": false, "comm_private": true}})"),
       {written("04 16 00 05")});
    fails("config_studio_remote mod4", message("set_config_studio_remote", R"({"mod4": {}})"), key_error("data.mod4"));
    fails("config_studio_remote string", message("set_config_studio_remote", R"({"mod2": {"comm_enable": "x"}})"),
          type_error("data.mod2.comm_enable", "Bool"));
    return rows;
}

QList<Row> whole_console_rows()
{
    QList<Row> rows;
    const auto ok = [&rows](const char *name, QString msg, QByteArrayList writes, QByteArrayList cache = {}) {
        rows.append({QLatin1String(name), msg, writes, QString(), cache});
    };
    const auto fails = [&rows](const char *name, QString msg, QString error) {
        rows.append({QLatin1String(name), msg, {}, error, {}});
    };
    const QByteArrayList silence{cached_silence};

    // set_config_silence_detection
    ok("silence all given",
       message("set_config_silence_detection",
               R"({"threshold": -30, "interval": 10, "interval_unit": "seconds", "source": "stereo", "enable": true})"),
       {written("07 1C E2 0A 00 02 01")});
    fails("silence empty object", message("set_config_silence_detection", "{}"), type_error("data", "Object"));
    fails("silence number", message("set_config_silence_detection", "5"), type_error("data", "Object"));
    fails("silence absent", message("set_config_silence_detection", nullptr), type_error("data", "Object"));
    fails("silence array", message("set_config_silence_detection", R"([{"threshold": -30}])"),
          type_error("data", "Object"));
    fails("silence threshold -41", message("set_config_silence_detection", R"({"threshold": -41})"),
          value_error("-41", "data.threshold"));
    ok("silence threshold -40", message("set_config_silence_detection", R"({"threshold": -40})"),
       {written("07 1C D8 05 01 02 01")}, silence);
    ok("silence threshold 0", message("set_config_silence_detection", R"({"threshold": 0})"),
       {written("07 1C 00 05 01 02 01")}, silence);
    ok("silence threshold 0.5", message("set_config_silence_detection", R"({"threshold": 0.5})"),
       {written("07 1C 00 05 01 02 01")}, silence);
    ok("silence threshold -0.9", message("set_config_silence_detection", R"({"threshold": -0.9})"),
       {written("07 1C 00 05 01 02 01")}, silence);
    ok("silence threshold -40.5", message("set_config_silence_detection", R"({"threshold": -40.5})"),
       {written("07 1C D8 05 01 02 01")}, silence);
    ok("silence threshold -1 is a threshold", message("set_config_silence_detection", R"({"threshold": -1})"),
       {written("07 1C FF 05 01 02 01")}, silence);
    fails("silence threshold 1", message("set_config_silence_detection", R"({"threshold": 1})"),
          value_error("1", "data.threshold"));
    fails("silence threshold string", message("set_config_silence_detection", R"({"threshold": "-30"})"),
          type_error("data.threshold", "Number"));
    fails("silence interval 1", message("set_config_silence_detection", R"({"interval": 1})"),
          value_error("1", "data.interval"));
    ok("silence interval 2", message("set_config_silence_detection", R"({"interval": 2})"),
       {written("07 1C EC 02 01 02 01")}, silence);
    ok("silence interval 255", message("set_config_silence_detection", R"({"interval": 255})"),
       {written("07 1C EC FF 01 02 01")}, silence);
    fails("silence interval 256", message("set_config_silence_detection", R"({"interval": 256})"),
          value_error("256", "data.interval"));
    fails("silence interval_unit hours", message("set_config_silence_detection", R"({"interval_unit": "hours"})"),
          value_error("hours", "data.interval_unit"));
    ok("silence source left", message("set_config_silence_detection", R"({"source": "left"})"),
       {written("07 1C EC 05 01 00 01")}, silence);
    fails("silence enable string", message("set_config_silence_detection", R"({"enable": "yes"})"),
          type_error("data.enable", "Bool"));
    ok("silence only unknown members", message("set_config_silence_detection", R"({"foo": 1})"), {}, silence);
    fails("silence good threshold, bad interval",
          message("set_config_silence_detection", R"({"threshold": -30, "interval": 1})"),
          value_error("1", "data.interval"));

    // set_config_mic_on
    ok("mic_on on_air1", message("set_config_mic_on", R"("on_air1")"), {written("03 33 01")});
    ok("mic_on mic_on", message("set_config_mic_on", R"("mic_on")"), {written("03 33 00")});
    ok("mic_on on_air2", message("set_config_mic_on", R"("on_air2")"), {written("03 33 02")});
    ok("mic_on never ignored", message("set_config_mic_on", R"("never")"), {});
    ok("mic_on empty word ignored", message("set_config_mic_on", R"("")"), {});
    fails("mic_on bool", message("set_config_mic_on", "true"), type_error("data", "String"));
    fails("mic_on absent", message("set_config_mic_on", nullptr), type_error("data", "String"));
    fails("mic_on object", message("set_config_mic_on", R"({"mode": "on_air1"})"), type_error("data", "String"));

    // set_config_cue_interlock
    ok("cue_interlock true", message("set_config_cue_interlock", "true"), {written("03 17 01")});
    ok("cue_interlock false", message("set_config_cue_interlock", "false"), {written("03 17 00")});
    fails("cue_interlock string", message("set_config_cue_interlock", R"("on")"), type_error("data", "Bool"));
    fails("cue_interlock number", message("set_config_cue_interlock", "1"), type_error("data", "Bool"));
    fails("cue_interlock absent", message("set_config_cue_interlock", nullptr), type_error("data", "Bool"));
    return rows;
}

// Every keyed command with nothing to key: absent, not an object, or empty.
QList<Row> nothing_to_do_rows()
{
    QList<Row> rows;
    for (const QString &command : keyed_console_commands) {
        for (const char *data : {static_cast<const char *>(nullptr), "\"mod1\"", "5", "true", "null", "[]",
                                 "[{\"mod1\": \"on\"}]", "{}"}) {
            const QString name = command + QStringLiteral(" data ") + QLatin1String(data ? data : "absent");
            rows.append({name, message(qPrintable(command), data), {}, QString(), {}});
        }
    }
    return rows;
}

QList<Row> all_rows()
{
    return control_rows() + flag_rows() + settings_rows() + whole_console_rows() + nothing_to_do_rows();
}

} // namespace

class TestDispatcherCommands : public QObject {
    Q_OBJECT

private slots:
    void init() { EmulatedDevice::instance().reset(); }

    void command_data()
    {
        QTest::addColumn<QByteArrayList>("cache");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QByteArrayList>("writes");
        for (const Row &row : all_rows()) {
            QTest::newRow(qPrintable(row.name))
                << row.cache << row.message << (row.error.isEmpty() ? 0 : -1) << row.error << row.writes;
        }
    }

    void command()
    {
        QFETCH(QByteArrayList, cache);
        QFETCH(QString, message);
        QFETCH(int, result);
        QFETCH(QString, error);
        QFETCH(QByteArrayList, writes);

        DispatcherRig rig;
        QVERIFY(rig.open());
        rig.feed(cache);
        EmulatedDevice::instance().clear_writes();

        const QString untouched = QStringLiteral("untouched");
        QString text = untouched;
        QCOMPARE(rig.websocket.parseJSON(nullptr, message, text), result);
        QCOMPARE(text, result == 0 ? untouched : error);
        QCOMPARE(EmulatedDevice::instance().writes(), writes);
    }

    // The table above must reach every console command with at least one message that writes to the console.
    void table_covers_every_console_command()
    {
        QSet<QString> written_by;
        for (const Row &row : all_rows()) {
            if (!row.writes.isEmpty())
                written_by.insert(QJsonDocument::fromJson(row.message.toUtf8()).object().value("msg").toString());
        }
        QSet<QString> expected(keyed_console_commands.begin(), keyed_console_commands.end());
        expected +=
            QSet<QString>(korveltest::unkeyed_console_commands.begin(), korveltest::unkeyed_console_commands.end());
        QCOMPARE(expected.size(), 26);
        QCOMPARE(written_by, expected);

        // The dispatcher's table (read by the documentation too) holds exactly these, in dispatch order.
        QStringList table;
        for (const korvel::commands::Command &command : korvel::commands::command_table)
            table.append(QString::fromLatin1(command.name.data(), command.name.size()));
        QCOMPARE(table, korveltest::command_names.first(26));
    }

    // A message is carried out within the call: the reports of a second message follow those of the first.
    void consecutive_messages_keep_their_order()
    {
        DispatcherRig rig;
        QVERIFY(rig.open());
        EmulatedDevice::instance().clear_writes();
        QString error;
        QCOMPARE(rig.websocket.parseJSON(nullptr, message("set_on", R"({"mod3": "on"})"), error), 0);
        QCOMPARE(rig.websocket.parseJSON(nullptr, message("set_on", R"({"mod9": "on"})"), error), -1);
        QCOMPARE(rig.websocket.parseJSON(nullptr, message("set_non_stop", R"("on")"), error), 0);
        QCOMPARE(EmulatedDevice::instance().writes(), (QByteArrayList{written("04 05 02 01"), written("03 0A 01")}));
        QCOMPARE(error, key_error("data.mod9"));
    }
};

QTEST_GUILESS_MAIN(TestDispatcherCommands)
#include "tst_dispatcher_commands.moc"
