// Tens of thousands of hostile messages through the dispatcher, reproducible by a fixed seed: valid commands
// with mutated keys, values and types, random bytes, deep nesting, huge and malformed numbers. None may crash
// it (the suite also runs under AddressSanitizer and UndefinedBehaviorSanitizer), every refusal must be one of
// the defined texts, and nothing it sends the console may name a member or value outside the console's lists.
#include "commandnames.h"
#include "dispatcherrig.h"
#include "keylists.h"

#include "console/valuelists.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

using emulator::EmulatedDevice;

namespace {

constexpr quint32 seed = 0x4B6F7276;
constexpr int message_count = 50000;

using korveltest::command_names;

// Well-formed messages the mutations start from.
const QStringList seeds{
    R"({"msg": "set_auto_cue", "data": {"announcer": "on", "crm": "toggle"}})",
    R"({"msg": "set_ctrl_led", "data": {"a1": "red", "b8": {"color_on": "green", "color_off": "off", "blink_speed": "fast"}}})",
    R"({"msg": "set_ctrl_led", "data": {"*": {"color_on": "red"}}})",
    R"({"msg": "set_cue", "data": {"aux": "on", "air": "off", "*": "toggle"}})",
    R"({"msg": "set_non_stop", "data": "toggle"})",
    R"({"msg": "set_on", "data": {"mod1": "on", "mod2": "toggle", "*": "off"}})",
    R"({"msg": "set_studio_remote", "data": {"mod2": {"comm": true, "cough": false}, "*": {"comm": true}}})",
    R"({"msg": "set_track", "data": {"mod5": "play", "mod8": "end"}})",
    R"({"msg": "set_voicetrack", "data": {"mod8": true, "mod1": false}})",
    R"({"msg": "set_config_auto_off", "data": {"mod1": true, "*": false}})",
    R"({"msg": "set_config_locked_on", "data": {"mod8": true}})",
    R"({"msg": "set_config_pgm_auto_off", "data": {"*": {"enabled_by_line": true}}})",
    R"({"msg": "set_config_mic_on", "data": "on_air1"})",
    R"({"msg": "set_config_auto_on", "data": {"mod3": false}})",
    R"({"msg": "set_config_crm_auto_cue_reset", "data": {"mod3": true}})",
    R"({"msg": "set_config_crm_mute", "data": {"*": true}})",
    R"({"msg": "set_config_cue", "data": {"air": {"color_on": "green"}, "*": {"color_off": "red"}}})",
    R"({"msg": "set_config_cue_interlock", "data": true})",
    R"({"msg": "set_config_cue_reset", "data": {"*": {"enabled_by_mic_usb_voip": true, "reset_by_on": false}}})",
    R"({"msg": "set_config_fader_reserve", "data": {"mod2": true}})",
    R"({"msg": "set_config_gpo", "data": {"gpo1": {"trigger": "onair1", "mode": "inverted", "type": "pulse_by_on", "time": 50}, "*": {"time": 10}}})",
    R"({"msg": "set_config_mic_at_line", "data": {"mod2": false}})",
    R"({"msg": "set_config_on", "data": {"*": {"color_on": "red", "color_off": "off", "color_on_and_fader": "green"}}})",
    R"({"msg": "set_config_on_air", "data": {"mod8": {"on_air2_enabled_by_line": false, "on_air1_enabled_by_line": true}}})",
    R"({"msg": "set_config_phantom", "data": {"mod1": true, "mod3": false}})",
    R"({"msg": "set_config_silence_detection", "data": {"threshold": -30, "interval": 10, "interval_unit": "seconds", "source": "stereo", "enable": true}})",
    R"({"msg": "set_config_studio_remote", "data": {"*": {"comm_private": true}, "mod1": {"cough_enable": false}}})",
    R"({"msg": "subscribe", "data": ["metering", "x", 7]})",
    R"({"msg": "unsubscribe", "data": "*"})",
    R"({"msg": "get_subscriptions"})",
    R"({"msg": "get_topics"})",
    R"({"msg": "get_api_version"})",
    R"({"msg": "get_config"})",
    R"({"msg": "get_states"})",
    R"({"msg": "get_all"})",
    R"({"msg": "get_firmware"})",
};

// Number spellings, valid and not, spliced into message texts.
const QStringList number_texts{
    "NaN",
    "nan",
    "Infinity",
    "-Infinity",
    "inf",
    "1e309",
    "-1e309",
    "1e-400",
    "0x10",
    "01",
    "+1",
    ".5",
    "5.",
    "-0",
    "-0.0",
    "1E2",
    "2147483647",
    "2147483648",
    "-2147483648",
    "-2147483649",
    "9223372036854775807",
    "9223372036854775808",
    "18446744073709551616",
    "1e308",
    "4.9e-324",
    "-40.99999999999",
    "255.9999999",
    "1e",
    "--1",
    "1..2",
    "0e0",
    "-",
    "1_000",
};

// Every word the console commands know, the words around them, and some that break things.
QStringList vocabulary()
{
    using namespace korvel;
    QStringList words;
    for (const QStringList *list : {&korveltest::led_blink_keys,
                                    &korveltest::cue_color_keys,
                                    &korveltest::on_color_keys,
                                    &gpo_trigger_names,
                                    &gpo_mode_names,
                                    &gpo_type_names,
                                    &interval_unit_names,
                                    &silence_source_names,
                                    &topic_names,
                                    &module_names,
                                    &mic_module_names,
                                    &voicetrack_module_names,
                                    &cue_names,
                                    &auto_cue_names,
                                    &ctrl_key_names,
                                    &gpo_names,
                                    &studio_remote_module_names,
                                    &on_air_names,
                                    &led_color_names,
                                    &blink_speed_names,
                                    &switch_action_names,
                                    &track_state_names,
                                    &mic_on_mode_names})
        words += *list;
    words += QStringList{"comm",
                         "cough",
                         "announcer",
                         "threshold",
                         "interval",
                         "source",
                         "enable",
                         "time",
                         "mode",
                         "type",
                         "trigger",
                         "enabled_by_line",
                         "enabled_by_mic_usb_voip",
                         "reset_by_fader",
                         "reset_by_on",
                         "reset_by_fader_and_on",
                         "cough_enable",
                         "comm_enable",
                         "comm_private",
                         "on_air1_enabled_by_line",
                         "on_air2_enabled_by_mic_usb_voip",
                         "msg",
                         "data",
                         "MOD1",
                         "mod0",
                         "mod9",
                         "mod4",
                         "mod 1",
                         " mod1",
                         "a0",
                         "b9",
                         "**",
                         "*",
                         "",
                         "'",
                         "\"",
                         "\\",
                         "\n",
                         "\t",
                         "\u00e9",
                         "\u6f22",
                         "\U0001F600",
                         "mod1\u0000",
                         "%1",
                         "%2",
                         "data.mod1"};
    words += command_names;
    return words;
}

class Generator {
public:
    QString next()
    {
        switch (rng.bounded(10)) {
        case 0:
        case 1:
        case 2:
            return mutated_document();
        case 3:
            return mutated_text();
        case 4:
            return number_spliced();
        case 5:
            return random_envelope();
        case 6:
            return random_bytes();
        case 7:
            return deep_nesting();
        case 8:
            return huge_values();
        default:
            return seeds.at(rng.bounded(seeds.size()));
        }
    }

private:
    QRandomGenerator rng{seed};
    const QStringList words = vocabulary();

    QString word() { return words.at(rng.bounded(words.size())); }

    QString random_string()
    {
        QString text;
        const int length = rng.bounded(12);
        for (int i = 0; i < length; ++i)
            text += QChar(static_cast<char16_t>(rng.bounded(1, 0xD7FF)));
        return text;
    }

    double random_number()
    {
        switch (rng.bounded(6)) {
        case 0:
            return rng.bounded(-300, 300);
        case 1:
            return (rng.generateDouble() - 0.5) * 600.0;
        case 2:
            return (rng.generateDouble() - 0.5) * 1e12;
        case 3:
            return (rng.generateDouble() - 0.5) * 1e300;
        case 4:
            return rng.bounded(2) ? 2147483648.0 : -2147483649.0;
        default:
            return rng.bounded(-41, 257);
        }
    }

    QJsonValue random_value(int depth)
    {
        switch (rng.bounded(depth > 3 ? 5 : 7)) {
        case 0:
            return QJsonValue();
        case 1:
            return rng.bounded(2) == 1;
        case 2:
            return random_number();
        case 3:
            return word();
        case 4:
            return random_string();
        case 5: {
            QJsonArray array;
            const int size = rng.bounded(4);
            for (int i = 0; i < size; ++i)
                array.append(random_value(depth + 1));
            return array;
        }
        default: {
            QJsonObject object;
            const int size = rng.bounded(5);
            for (int i = 0; i < size; ++i)
                object.insert(word(), random_value(depth + 1));
            return object;
        }
        }
    }

    QJsonValue mutate(const QJsonValue &value, int depth)
    {
        if (rng.bounded(12) == 0)
            return random_value(depth);
        if (value.isObject()) {
            QJsonObject object = value.toObject();
            QJsonObject result;
            for (auto it = object.begin(); it != object.end(); ++it) {
                switch (rng.bounded(12)) {
                case 0: // dropped
                    break;
                case 1: // renamed
                    result.insert(rng.bounded(4) ? word() : random_string(), mutate(it.value(), depth + 1));
                    break;
                default:
                    result.insert(it.key(), mutate(it.value(), depth + 1));
                }
            }
            if (rng.bounded(4) == 0)
                result.insert(word(), random_value(depth + 1));
            return result;
        }
        if (value.isArray()) {
            QJsonArray array;
            for (const QJsonValue &element : value.toArray())
                array.append(mutate(element, depth + 1));
            return array;
        }
        if (value.isString() && rng.bounded(3) == 0)
            return word();
        if (value.isDouble() && rng.bounded(2) == 0)
            return random_number();
        return value;
    }

    QString mutated_document()
    {
        const QJsonObject start = QJsonDocument::fromJson(seeds.at(rng.bounded(seeds.size())).toUtf8()).object();
        QJsonObject message = mutate(start, 0).toObject();
        if (rng.bounded(4) == 0)
            message.insert("msg", command_names.at(rng.bounded(command_names.size())));
        return QString::fromUtf8(
            QJsonDocument(message).toJson(rng.bounded(2) ? QJsonDocument::Compact : QJsonDocument::Indented));
    }

    QString mutated_text()
    {
        QString text = seeds.at(rng.bounded(seeds.size()));
        const int edits = rng.bounded(1, 6);
        for (int i = 0; i < edits && !text.isEmpty(); ++i) {
            const int at = rng.bounded(text.size());
            switch (rng.bounded(3)) {
            case 0:
                text.remove(at, 1);
                break;
            case 1:
                text.insert(at, QChar(static_cast<char16_t>(rng.bounded(1, 128))));
                break;
            default:
                text[at] = QChar(static_cast<char16_t>(rng.bounded(1, 0xD7FF)));
            }
        }
        return text;
    }

    QString number_spliced()
    {
        static const QStringList templates{
            R"({"msg": "set_config_gpo", "data": {"gpo1": {"time": %1}}})",
            R"({"msg": "set_config_gpo", "data": {"*": {"time": %1, "mode": "inverted"}}})",
            R"({"msg": "set_config_silence_detection", "data": {"threshold": %1}})",
            R"({"msg": "set_config_silence_detection", "data": {"interval": %1, "source": "left"}})",
            R"({"msg": "set_on", "data": {"mod1": %1}})",
            R"({"msg": %1})",
            R"({"msg": "set_config_cue_interlock", "data": %1})",
        };
        return templates.at(rng.bounded(templates.size())).arg(number_texts.at(rng.bounded(number_texts.size())));
    }

    QString random_envelope()
    {
        QJsonObject message;
        message.insert("msg", rng.bounded(5) ? QJsonValue(command_names.at(rng.bounded(command_names.size())))
                                             : random_value(2));
        if (rng.bounded(6))
            message.insert("data", random_value(0));
        return QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
    }

    QString random_bytes()
    {
        QByteArray bytes(rng.bounded(200), '\0');
        for (char &byte : bytes)
            byte = static_cast<char>(rng.bounded(256));
        return rng.bounded(2) ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
    }

    QString deep_nesting()
    {
        const int depth = rng.bounded(1, 5000);
        const QString command = command_names.at(rng.bounded(command_names.size()));
        QString inner;
        if (rng.bounded(2)) {
            inner = QString(depth, '[') + QString(depth, ']');
        } else {
            for (int i = 0; i < depth; ++i)
                inner += QStringLiteral("{\"mod1\":");
            inner += QStringLiteral("true") + QString(depth, '}');
        }
        return QStringLiteral(R"({"msg": "%1", "data": %2})").arg(command, inner);
    }

    QString huge_values()
    {
        const QString command = command_names.at(rng.bounded(command_names.size()));
        QJsonObject data;
        const int keys = rng.bounded(1, 40);
        for (int i = 0; i < keys; ++i)
            data.insert(rng.bounded(2) ? word() : QString(rng.bounded(1, 2000), QChar('m')),
                        rng.bounded(2) ? QJsonValue(QString(rng.bounded(1, 2000), QChar('x'))) : QJsonValue(1e300));
        QJsonObject message{{"msg", command}, {"data", data}};
        return QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
    }
};

// The refusals the dispatcher may give; a key path may hold any character a client put in a key.
const QList<QRegularExpression> &refusals()
{
    static const QString path = QStringLiteral("data(\\..*)?");
    static const QList<QRegularExpression> forms{
        QRegularExpression(QStringLiteral("\\ADevice USB not connected!\\z")),
        QRegularExpression(QStringLiteral("\\AJSON syntax error, .+\\z"),
                           QRegularExpression::DotMatchesEverythingOption),
        QRegularExpression(QStringLiteral("\\Akey not found: 'msg'\\z")),
        QRegularExpression(QStringLiteral("\\Ainvalid key: 'data\\..*'\\z"),
                           QRegularExpression::DotMatchesEverythingOption),
        QRegularExpression(QStringLiteral("\\Ainvalid data type for key: '%1', expected: "
                                          "(String|Bool|Number|Object|String \\(static\\) or Object \\(blinking\\))\\z")
                               .arg(path),
                           QRegularExpression::DotMatchesEverythingOption),
        QRegularExpression(QStringLiteral("\\Ainvalid data value '.*' for key: '%1'\\z").arg(path),
                           QRegularExpression::DotMatchesEverythingOption),
    };
    return forms;
}

bool is_refusal(const QString &error)
{
    for (const QRegularExpression &form : refusals()) {
        if (form.match(error).hasMatch())
            return true;
    }
    return false;
}

// What a report the dispatcher causes may carry: its length byte and the member numbers its first argument may
// hold (empty: no member argument). 255 addresses every member.
struct ReportShape {
    int length;
    QSet<int> members;
};

QSet<int> range_with_all(int count)
{
    QSet<int> members{255};
    for (int i = 0; i < count; ++i)
        members.insert(i);
    return members;
}

const QMap<int, ReportShape> &report_shapes()
{
    static const QMap<int, ReportShape> shapes{
        {0x02, {4, range_with_all(16)}},
        {0x03, {6, range_with_all(16)}},
        {0x05, {4, range_with_all(8)}},
        {0x06, {4, range_with_all(11)}},
        {0x08, {3, {}}},
        {0x09, {3, {}}},
        {0x0A, {3, {}}},
        {0x0B, {4, range_with_all(3)}},
        {0x0C, {4, range_with_all(3)}},
        {0x0D, {4, {0, 1, 2, 7, 255}}},
        {0x11, {4, range_with_all(8)}},
        {0x12, {4, range_with_all(8)}},
        {0x13, {4, range_with_all(8)}},
        {0x14, {4, range_with_all(3)}},
        {0x15, {4, range_with_all(3)}},
        {0x16, {4, range_with_all(3)}},
        {0x17, {3, {}}},
        {0x18, {7, range_with_all(2)}},
        {0x19, {5, range_with_all(11)}},
        {0x1A, {6, range_with_all(8)}},
        {0x1B, {4, range_with_all(8)}},
        {0x1C, {7, {}}},
        {0x1D, {4, range_with_all(3)}},
        {0x1E, {4, range_with_all(3)}},
        {0x1F, {4, range_with_all(8)}},
        {0x2C, {4, range_with_all(8)}},
        {0x31, {4, range_with_all(8)}},
        {0x32, {4, range_with_all(8)}},
        {0x33, {3, {}}},
    };
    return shapes;
}

// Empty when the report is one the dispatcher may send, else what is wrong with it.
QString check_report(const QByteArray &write)
{
    if (write.size() != 1 + CKorvel::output_report_length || write.at(0) != 0)
        return QStringLiteral("bad frame");
    const auto length = static_cast<unsigned char>(write.at(1));
    const auto type = static_cast<unsigned char>(write.at(2));
    const auto shape = report_shapes().constFind(type);
    if (shape == report_shapes().constEnd())
        return QStringLiteral("unknown command id %1").arg(type, 2, 16);
    if (length != shape->length)
        return QStringLiteral("length %1 for id %2").arg(length).arg(type, 2, 16);
    if (!shape->members.isEmpty() && !shape->members.contains(static_cast<unsigned char>(write.at(3))))
        return QStringLiteral("member %1 for id %2").arg(static_cast<unsigned char>(write.at(3))).arg(type, 2, 16);
    for (int i = 1 + length; i < write.size(); ++i) {
        if (write.at(i) != 0)
            return QStringLiteral("padding not zero");
    }
    return QString();
}

// Plausible answers to the start-up requests, so the read-modify-write commands have a state to fill from.
const QByteArrayList startup_answers{
    input("05 C1 01 04 0C"),
    input("06 83 FF 01 02 01"),
    input("0A D1 01 00 01 00 01 00 01 00"),
    input("0A D2 01 02 1F 00 04 08 10 03"),
    input("0A D3 0F 00 01 02 04 08 03 0C"),
    input("05 D4 01 00 01"),
    input("05 D5 00 01 00"),
    input("05 D6 01 02 07"),
    input("03 D7 01"),
    input("0A D8 03 01 02 20 05 00 03 FF"),
    input("08 D9 12 34 9C 00 21 09"),
    input("08 DA 12 34 56 78 E4 30"),
    input("0A DB 00 01 00 01 00 01 00 01"),
    input("07 DC EC 05 01 02 01"),
    input("05 DD 01 01 00"),
    input("05 DE 00 00 01"),
    input("0A DF 01 01 01 01 00 00 00 00"),
    input("0A F1 00 00 00 00 01 01 01 01"),
    input("0A F2 03 00 01 02 00 00 00 00"),
    input("03 F3 01"),
};

} // namespace

class TestDispatcherRobustness : public QObject {
    Q_OBJECT

private slots:
    void init() { EmulatedDevice::instance().reset(); }

    void hostile_messages()
    {
        // One console with its state known, one without (every missing field must be left alone, not invented
        // from memory past the cache).
        DispatcherRig filled;
        QVERIFY(filled.open());
        filled.feed(startup_answers);
        EmulatedDevice::instance().clear_writes();
        DispatcherRig empty;
        QVERIFY(empty.link.start() == 0);
        EmulatedDevice::instance().clear_writes();

        Generator generator;
        const QString untouched = QStringLiteral("untouched");
        int refused = 0;
        int carried_out = 0;
        int writing = 0;
        for (int i = 0; i < message_count; ++i) {
            const QString message = generator.next();
            DispatcherRig &rig = i % 10 == 0 ? empty : filled;
            QString error = untouched;
            const int result = rig.websocket.parseJSON(nullptr, message, error);
            const auto context = [&] { return QStringLiteral("message %1: %2").arg(i).arg(message.left(400)); };
            QVERIFY2(result == 0 || result == -1, qPrintable(context()));
            if (result == 0) {
                QVERIFY2(error == untouched, qPrintable(context()));
                ++carried_out;
            } else {
                QVERIFY2(is_refusal(error), qPrintable(error + QStringLiteral(" <- ") + context()));
                ++refused;
                if (error.startsWith(QLatin1String("JSON syntax error, ")) ||
                    error == QLatin1String("key not found: 'msg'"))
                    QVERIFY2(EmulatedDevice::instance().writes().isEmpty(), qPrintable(context()));
            }
            if (!EmulatedDevice::instance().writes().isEmpty())
                ++writing;
            for (const QByteArray &write : EmulatedDevice::instance().writes()) {
                const QString fault = check_report(write);
                QVERIFY2(fault.isEmpty(),
                         qPrintable(fault + QStringLiteral(": ") + QString::fromLatin1(write.toHex(' ')) +
                                    QStringLiteral(" <- ") + context()));
            }
            EmulatedDevice::instance().clear_writes();
        }
        // The mix must exercise both outcomes in earnest, or the run proves little.
        QVERIFY2(refused > message_count / 10, qPrintable(QString::number(refused)));
        QVERIFY2(carried_out > message_count / 10, qPrintable(QString::number(carried_out)));
        QVERIFY2(writing > message_count / 20, qPrintable(QString::number(writing)));
        qInfo("%d refused, %d carried out, %d wrote to the console", refused, carried_out, writing);
    }
};

QTEST_GUILESS_MAIN(TestDispatcherRobustness)
#include "tst_dispatcher_robustness.moc"
