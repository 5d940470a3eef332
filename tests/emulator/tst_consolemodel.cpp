// The console model on its own, through the emulated device: what it answers, what commands do, what a
// person's actions send, its meters, and the USB plug.
#include "consoletesthelpers.h"

#include "emulator/consolemodel.h"
#include "emulator/emulateddevice.h"
#include "emulator/meteringlevels.h"
#include "usb/usbids.h"

#include <QTest>

#include <algorithm>
#include <memory>

using emulator::ConsoleModel;
using emulator::EmulatedDevice;
using namespace consoletest;

namespace {

// What the host's LED tables become from the LED reports it receives.
struct HostLeds {
    QByteArray colours = QByteArray(16, '\x07');
    QByteArray blink = QByteArray(64, '\x07');

    void apply(const QByteArray &report)
    {
        const auto type = static_cast<unsigned char>(report.at(1));
        const auto led = static_cast<unsigned char>(report.at(2));
        for (int n = 0; n < 16; ++n) {
            if (led != 255 && led != n)
                continue;
            if (type == 0xC2) {
                colours[n] = report.at(3);
                blink[4 * n] = 0;
            } else if (type == 0xC3) {
                blink[4 * n] = 1;
                for (int k = 1; k <= 3; ++k)
                    blink[4 * n + k] = report.at(2 + k);
            }
        }
    }
};

} // namespace

class TestConsoleModel : public QObject {
    Q_OBJECT

private:
    EmulatedDevice &device() { return EmulatedDevice::instance(); }
    qint64 fake_ms = 0;
    std::unique_ptr<ConsoleModel> model;

    void open()
    {
        QVERIFY(device().open(static_cast<unsigned short>(korvel::usb::vendor_id),
                              static_cast<unsigned short>(korvel::usb::product_id)));
        read_all(); // the phone and VoIP states the console reports on opening
    }

private slots:
    void init()
    {
        device().reset();
        fake_ms = 0;
        model = std::make_unique<ConsoleModel>();
        model->set_clock([this] { return fake_ms; });
        device().set_model(model.get());
        open();
    }

    void cleanup() { model.reset(); }

    void destructionDetachesTheModel()
    {
        model.reset();
        QCOMPARE(device().model(), nullptr);
    }

    void openingReportsPhoneAndVoip()
    {
        device().close();
        QVERIFY(device().open(static_cast<unsigned short>(korvel::usb::vendor_id),
                              static_cast<unsigned short>(korvel::usb::product_id)));
        QCOMPARE(read_all(), hex_list({"03 ED 00", "03 EE 00"}));
    }

    // One item of each payload shape; the captured WebSocket examples pin the rest of the factory state.
    void requestAnswered_data()
    {
        QTest::addColumn<int>("request");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char *name, int request, const char *report) {
            QTest::newRow(name) << request << hex(report);
        };
        row("firmware", 0x41, "05 C1 01 04 0C");
        row("control keys", 0x44, "04 C4 00 00");
        row("comm", 0x4B, "0A CB 00 00 00 00 00 00 00 00");
        row("voice track", 0x4D, "0A CD 00 00 00 00 00 00 00 00");
        row("cue reset", 0x52, "0A D2 0B 0B 0B 0B 0B 0B 0B 0B");
        row("on-air config", 0x53, "0A D3 0E 0E 0E 0C 0C 0C 0C 0C");
        row("studio remote", 0x56, "0A D6 03 03 03 00 00 00 00 00");
        row("cue interlock", 0x57, "03 D7 00");
        row("gpo config", 0x58, "0A D8 01 00 00 00 03 00 00 00");
        row("cue colours", 0x59, "08 D9 22 22 22 22 22 02");
        row("on colours", 0x5A, "08 DA 22 22 22 22 55 55");
        row("silence detection", 0x5C, "07 DC D8 1E 00 02 00");
        row("cue", 0x61, "04 E1 00 00");
        row("auto cue", 0x63, "04 E3 00 00");
        row("source select", 0x64, "0A E4 01 01 01 00 00 00 00 00");
        row("gpo state", 0x67, "04 E7 00 00");
        row("phone ringing", 0x6D, "03 ED 00");
        row("voip connect", 0x6E, "03 EE 00");
        row("pgm auto off", 0x72, "0A F2 00 00 00 00 00 00 00 00");
        row("mic on mode", 0x73, "03 F3 00");
    }

    void requestAnswered()
    {
        QFETCH(int, request);
        QFETCH(QByteArray, expected);
        QByteArray report = output("02");
        report[1] = static_cast<char>(request);
        write(report);
        const QList<QByteArray> reports = read_all();
        QCOMPARE(reports.size(), 1);
        QCOMPARE(reports.first().toHex(' '), expected.toHex(' '));
        // The length byte counts the whole report; the type byte names the id asked for.
        QCOMPARE(static_cast<unsigned char>(reports.first().at(0)), reports.first().size());
        QCOMPARE(static_cast<unsigned char>(reports.first().at(1)), 0xC0 | (request & 0x3F));
    }

    void requestAnswerFollowsState()
    {
        write(output("04 05 03 01"));
        read_all();
        write(output("02 60"));
        QCOMPARE(read_all(), hex_list({"0A E0 00 00 00 01 00 00 00 00"}));
    }

    void unknownRequestIgnored_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("0x40") << output("02 40");
        QTest::newRow("0x45") << output("02 45");
        QTest::newRow("0x4E") << output("02 4E");
        QTest::newRow("0x6F") << output("02 6F");
        QTest::newRow("metering 0x70") << output("02 70");
        QTest::newRow("0x74") << output("02 74");
        QTest::newRow("0x7F") << output("02 7F");
    }

    void unknownRequestIgnored()
    {
        QFETCH(QByteArray, request);
        write(request);
        QCOMPARE(read_all(), QList<QByteArray>());
    }

    void ledRequestsAtFactoryState()
    {
        write(output("02 42"));
        QCOMPARE(read_all(), hex_list({"04 C2 FF 00"}));
        write(output("02 43"));
        QCOMPARE(read_all(), hex_list({"06 C3 FF 00 00 00", "04 C2 FF 00"}));
    }

    void ledColourRequestPerLed()
    {
        write(output("04 02 03 01"));       // LED 3 red
        write(output("06 03 05 02 00 02")); // LED 5 blinking green/off, fast
        read_all();
        write(output("02 42"));
        QList<QByteArray> expected;
        for (int n = 0; n < 16; ++n)
            expected.append(hex("04 C2") + QByteArray(1, char(n)) + QByteArray(1, char(n == 3 ? 1 : 0)));
        expected.append(hex("06 C3 05 02 00 02"));
        QCOMPARE(read_all(), expected);
    }

    void ledBlinkRequestPerLed()
    {
        write(output("04 02 03 01"));
        write(output("06 03 05 02 00 02"));
        read_all();
        write(output("02 43"));
        QList<QByteArray> expected;
        for (int n = 0; n < 16; ++n)
            expected.append(hex("06 C3") + QByteArray(1, char(n)) + (n == 5 ? hex("02 00 02") : hex("00 00 00")));
        for (int n = 0; n < 16; ++n) {
            if (n != 5)
                expected.append(hex("04 C2") + QByteArray(1, char(n)) + QByteArray(1, char(n == 3 ? 1 : 0)));
        }
        QCOMPARE(read_all(), expected);
    }

    // Either LED request alone leaves the host's tables showing what every LED shows.
    void ledRequestGivesWholeLedState_data()
    {
        QTest::addColumn<int>("request");
        QTest::newRow("colours") << 0x42;
        QTest::newRow("blink table") << 0x43;
    }

    void ledRequestGivesWholeLedState()
    {
        QFETCH(int, request);
        write(output("04 02 FF 02"));
        write(output("04 02 00 01"));
        write(output("06 03 07 01 02 01"));
        write(output("06 03 0F 02 00 00"));
        write(output("06 03 09 01 00 02"));
        write(output("04 02 09 00")); // LED 9 steady again; its blink values stay
        read_all();
        write(output(request == 0x42 ? "02 42" : "02 43"));
        HostLeds host;
        for (const QByteArray &report : read_all())
            host.apply(report);
        for (int n = 0; n < 16; ++n) {
            const ConsoleModel::LedState led = model->led(n);
            QCOMPARE(host.blink.at(4 * n) != 0, led.blinking);
            if (led.blinking) {
                QCOMPARE(int(host.blink.at(4 * n + 1)), led.color_on);
                QCOMPARE(int(host.blink.at(4 * n + 2)), led.color_off);
                QCOMPARE(int(host.blink.at(4 * n + 3)), led.blink_speed);
            } else {
                QCOMPARE(int(host.colours.at(n)), led.color);
            }
        }
    }

    void commands_data()
    {
        QTest::addColumn<QList<QByteArray>>("setup");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QList<QByteArray>>("expected");
        const auto row = [](const char *name, std::initializer_list<const char *> setup, const char *command,
                            std::initializer_list<const char *> expected) {
            QList<QByteArray> before;
            for (const char *s : setup)
                before.append(output(s));
            QTest::newRow(name) << before << output(command) << hex_list(expected);
        };
        // ON keys, reported under 0x20
        row("on 2 on", {}, "04 05 02 01", {"0A E0 00 00 01 00 00 00 00 00"});
        row("on 2 toggle", {}, "04 05 02 02", {"0A E0 00 00 01 00 00 00 00 00"});
        row("on 2 toggle back", {"04 05 02 01"}, "04 05 02 02", {"0A E0 00 00 00 00 00 00 00 00"});
        row("on all on", {}, "04 05 FF 01", {"0A E0 01 01 01 01 01 01 01 01"});
        row("on all toggle", {"04 05 02 01"}, "04 05 FF 02", {"0A E0 01 01 00 01 01 01 01 01"});
        row("on all off", {"04 05 06 01"}, "04 05 FF 00", {"0A E0 00 00 00 00 00 00 00 00"});
        row("on already off", {}, "04 05 02 00", {});
        row("on module 9 absent", {}, "04 05 08 01", {});
        row("on action 3 absent", {}, "04 05 02 03", {});
        // cue buses, a bit word under 0x21
        row("cue air on", {}, "04 06 0A 01", {"04 E1 00 04"});
        row("cue all on", {}, "04 06 FF 01", {"04 E1 FF 07"});
        row("cue 1 toggle off", {"04 06 01 01"}, "04 06 01 02", {"04 E1 00 00"});
        row("cue all toggle", {"04 06 01 01"}, "04 06 FF 02", {"04 E1 FD 07"});
        row("cue bus 11 absent", {}, "04 06 0B 01", {});
        row("cue interlock", {"03 17 01", "04 06 01 01"}, "04 06 03 01", {"04 E1 08 00"});
        // auto cue: announcer is byte 1, control room byte 0 of 0x23
        row("auto cue announcer on", {}, "03 08 01", {"04 E3 00 01"});
        row("auto cue crm toggle", {}, "03 09 02", {"04 E3 01 00"});
        row("auto cue crm already off", {}, "03 09 00", {});
        row("auto cue action 3 absent", {}, "03 08 03", {});
        row("non-stop on", {}, "03 0A 01", {"03 E5 01"});
        row("non-stop toggle off", {"03 0A 01"}, "03 0A 02", {"03 E5 00"});
        // studio remote and voice track
        row("comm 2 on", {}, "04 0B 01 01", {"0A CB 00 01 00 00 00 00 00 00"});
        row("comm all on", {}, "04 0B FF 01", {"0A CB 01 01 01 00 00 00 00 00"});
        row("comm module 4 absent", {}, "04 0B 03 01", {});
        row("cough 3 on", {}, "04 0C 02 01", {"0A CC 00 00 01 00 00 00 00 00"});
        row("cough state 2 absent", {}, "04 0C 02 02", {});
        row("voicetrack all on", {}, "04 0D FF 01", {"0A CD 01 01 01 00 00 00 00 01"});
        row("voicetrack 8 on", {}, "04 0D 07 01", {"0A CD 00 00 00 00 00 00 00 01"});
        row("voicetrack 5 has none", {}, "04 0D 04 01", {});
        row("voicetrack value 2 absent", {}, "04 0D 00 02", {});
        row("track 6 play", {}, "04 2C 05 01", {"0A EC 00 00 00 00 00 01 00 00"});
        row("track all end", {}, "04 2C FF 02", {"0A EC 02 02 02 02 02 02 02 02"});
        row("track state 3 absent", {}, "04 2C 05 03", {});
        // configuration, field by field
        row("auto on 4", {}, "04 11 03 01", {"0A D1 00 00 00 01 00 00 00 00"});
        // one-flag items take 0 and 1 only
        row("auto on 2 absent", {}, "04 11 00 02", {});
        row("crm auto-cue reset 2 absent", {}, "04 15 00 02", {});
        row("fader reserve 2 absent", {}, "04 1B 00 02", {});
        row("phantom 2 absent", {}, "04 1D 00 02", {});
        row("mic at line 2 absent", {}, "04 1E 00 02", {});
        row("auto off 2 absent", {}, "04 1F 00 02", {});
        row("locked on 2 absent", {}, "04 31 00 02", {});
        row("cue reset 4", {}, "04 12 03 15", {"0A D2 0B 0B 0B 15 0B 0B 0B 0B"});
        row("cue reset unknown bits dropped", {}, "04 12 00 FF", {"0A D2 1F 0B 0B 0B 0B 0B 0B 0B"});
        row("cue reset unchanged", {}, "04 12 FF 0B", {});
        row("on-air all", {}, "04 13 FF 05", {"0A D3 05 05 05 05 05 05 05 05"});
        row("on-air unknown bits dropped", {}, "04 13 00 FF", {"0A D3 0F 0E 0E 0C 0C 0C 0C 0C"});
        row("studio remote unknown bits dropped", {}, "04 16 00 FF", {"0A D6 07 03 03 00 00 00 00 00"});
        row("crm mute 3 off", {}, "04 14 02 00", {"0A D4 01 01 00 00 00 00 00 00"});
        row("crm mute module 4 absent", {}, "04 14 03 01", {});
        row("crm auto-cue reset all", {}, "04 15 FF 01", {"0A D5 01 01 01 00 00 00 00 00"});
        row("studio remote 2 private", {}, "04 16 01 07", {"0A D6 03 07 03 00 00 00 00 00"});
        row("studio remote all, microphones only", {}, "04 16 FF 04", {"0A D6 04 04 04 00 00 00 00 00"});
        row("cue interlock on", {}, "03 17 01", {"03 D7 01"});
        row("cue interlock 2 absent", {}, "03 17 02", {});
        row("gpo 2 time", {}, "07 18 01 03 00 00 05", {"0A D8 01 00 00 00 03 00 00 05"});
        row("gpo all", {}, "07 18 FF 02 00 03 0A", {"0A D8 02 00 03 0A 02 00 03 0A"});
        row("gpo trigger 14 kept, type taken", {}, "07 18 00 0E 00 02 00", {"0A D8 01 00 02 00 03 00 00 00"});
        row("gpo 3 absent", {}, "07 18 02 01 00 00 00", {});
        row("gpo mode 2 kept, time taken", {}, "07 18 00 01 02 00 07", {"0A D8 01 00 00 07 03 00 00 00"});
        row("gpo type 4 kept, trigger taken", {}, "07 18 01 05 00 04 00", {"0A D8 01 00 00 00 05 00 00 00"});
        row("cue colour 6", {}, "05 19 05 01 02", {"08 D9 22 22 92 22 22 02"});
        row("cue colour air", {}, "05 19 0A 01 00", {"08 D9 22 22 22 22 22 01"});
        row("cue colour all red", {}, "05 19 FF 01 00", {"08 D9 11 11 11 11 11 01"});
        row("cue colour off 3 kept", {}, "05 19 00 01 03", {"08 D9 21 22 22 22 22 02"});
        row("on colours 7", {}, "06 1A 06 01 00 02", {"08 DA 22 22 22 29 55 45"});
        row("on colours 2", {}, "06 1A 01 02 02 01", {"08 DA 62 22 22 22 59 55"});
        row("on colours fader colour 3 kept", {}, "06 1A 00 01 03 02", {"08 DA 29 22 22 22 55 55"});
        row("fader reserve 1", {}, "04 1B 00 01", {"0A DB 01 00 00 00 00 00 00 00"});
        row("silence detection", {}, "07 1C EC 05 01 01 01", {"07 DC EC 05 01 01 01"});
        row("silence threshold 0", {}, "07 1C 00 1E 00 02 00", {"07 DC 00 1E 00 02 00"});
        row("silence positive threshold kept", {}, "07 1C 05 1E 00 02 00", {});
        row("silence unit 2 kept", {}, "07 1C D8 1E 02 02 01", {"07 DC D8 1E 00 02 01"});
        row("silence source 3 and enable 2 kept", {}, "07 1C D8 05 00 03 02", {"07 DC D8 05 00 02 00"});
        row("phantom all", {}, "04 1D FF 01", {"0A DD 01 01 01 00 00 00 00 00"});
        row("mic at line 1", {}, "04 1E 00 01", {"0A DE 01 00 00 00 00 00 00 00"});
        row("auto off 8", {}, "04 1F 07 01", {"0A DF 00 00 00 00 00 00 00 01"});
        row("locked on 1", {}, "04 31 00 01", {"0A F1 01 00 00 00 00 00 00 00"});
        row("pgm auto off unknown bits dropped", {}, "04 32 02 07", {"0A F2 00 00 03 00 00 00 00 00"});
        row("mic on mode", {}, "03 33 02", {"03 F3 02"});
        row("mic on mode 3 absent", {}, "03 33 03", {});
        // LED commands: echoed, never a state report
        row("led 4 red", {}, "04 02 03 01", {"04 82 03 01"});
        row("led unchanged still echoed", {}, "04 02 03 00", {"04 82 03 00"});
        row("led all green", {}, "04 02 FF 02", {"04 82 FF 02"});
        row("led 17 absent", {}, "04 02 10 01", {});
        row("led colour 3 absent", {}, "04 02 03 03", {});
        row("led blink", {}, "06 03 05 02 00 02", {"06 83 05 02 00 02"});
        row("led blink all", {}, "06 03 FF 01 02 00", {"06 83 FF 01 02 00"});
        row("led blink speed 3 absent", {}, "06 03 05 02 00 03", {});
        row("led blink colour on 3 absent", {}, "06 03 05 03 00 00", {});
        row("led blink colour off 3 absent", {}, "06 03 05 02 03 00", {});
        // what the console does not take
        row("length byte short of the arguments", {}, "03 05 02 01", {});
        row("unknown command", {}, "04 07 01 01", {});
        row("echo type", {}, "04 82 03 01", {});
        row("state report type", {}, "0A E0 01 01 01 01 01 01 01 01", {});
    }

    void commands()
    {
        QFETCH(QList<QByteArray>, setup);
        QFETCH(QByteArray, command);
        QFETCH(QList<QByteArray>, expected);
        for (const QByteArray &report : setup)
            write(report);
        read_all();
        write(command);
        const QList<QByteArray> reports = read_all();
        QCOMPARE(reports.size(), expected.size());
        for (int i = 0; i < reports.size(); ++i)
            QCOMPARE(reports.at(i).toHex(' '), expected.at(i).toHex(' '));
    }

    // A layout that reaches past its item reads 0 and changes nothing.
    void itemsStayInsideTheirPayload_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("index");
        QTest::newRow("before the first byte") << int(emulator::item::on_state) << -1;
        QTest::newRow("past the last byte") << int(emulator::item::on_state) << 8;
        QTest::newRow("past a single byte") << int(emulator::item::non_stop_state) << 1;
        QTest::newRow("an item the console lacks") << int(emulator::item::metering) << 0;
    }

    void itemsStayInsideTheirPayload()
    {
        QFETCH(int, id);
        QFETCH(int, index);
        emulator::ConsoleItems items;
        items.insert(emulator::item::on_state, QByteArray(8, '\x01'));
        items.insert(emulator::item::non_stop_state, QByteArray(1, '\x01'));
        const emulator::ConsoleItems::Payloads before = items.payloads();
        const auto item = static_cast<emulator::item::Id>(id);
        QCOMPARE(items.byte(item, index), 0);
        items.set_byte(item, index, 0x7F);
        items.set_colour(item, {index, 2}, 3);
        QCOMPARE(items.payloads(), before);
    }

    void shortOutputReportIgnored()
    {
        write(hex("04 05 02")); // the argument the length byte promises is missing
        write(hex("04"));
        QCOMPARE(read_all(), QList<QByteArray>());
        QVERIFY(!model->is_on(2));
    }

    void ledCommandsChangeLedState()
    {
        write(output("06 03 05 02 01 01"));
        QVERIFY(model->led(5).blinking);
        QCOMPARE(model->led(5).color_on, 2);
        QCOMPARE(model->led(5).color_off, 1);
        QCOMPARE(model->led(5).blink_speed, 1);
        write(output("04 02 05 01"));
        QVERIFY(!model->led(5).blinking);
        QCOMPARE(model->led(5).color, 1);
        QCOMPARE(model->led(5).color_on, 2); // blink values are kept for the next blink
        QCOMPARE(model->item(emulator::item::led_blink).size(), 64);
        QCOMPARE(model->item(emulator::item::led_colours).size(), 16);
    }

    // A live microphone: ON with the fader open on a microphone module.
    void onWithFaderOpenGoesOnAir()
    {
        model->move_fader(0, true);
        QCOMPARE(read_all(), hex_list({"0A E2 01 00 00 00 00 00 00 00"}));
        write(output("04 05 00 01"));
        QCOMPARE(read_all(), hex_list({
                                 "0A E0 01 00 00 00 00 00 00 00", // ON
                                 "03 E6 01",                      // MIC ON
                                 "04 E7 01 00",                   // gpo1 follows on-air 1
                                 "04 E8 01 01",                   // on-air 1 and 2
                                 "0A EA 01 00 00 00 00 00 00 00", // module active
                                 "03 EB 01",                      // control room muted
                             }));
        QVERIFY(model->is_on_air(0));
        model->move_fader(0, false);
        QCOMPARE(read_all(), hex_list({"0A E2 00 00 00 00 00 00 00 00", "03 E6 00", "04 E7 00 00", "04 E8 00 00",
                                       "0A EA 00 00 00 00 00 00 00 00", "03 EB 00"}));
    }

    void lineModuleLightsOnlyOnAir2()
    {
        model->move_fader(4, true);
        read_all();
        model->press_on_key(4);
        QCOMPARE(read_all(),
                 hex_list({"0A E0 00 00 00 00 01 00 00 00", "04 E8 00 01", "0A EA 00 00 00 00 01 00 00 00"}));
        QVERIFY(!model->is_mic_on());
    }

    void onKeyCancelsTheModuleCue()
    {
        write(output("04 06 03 01"));
        read_all();
        model->press_on_key(3);
        QCOMPARE(read_all(), hex_list({"0A E0 00 00 00 01 00 00 00 00", "04 E1 00 00"}));
    }

    void autoOnFollowsTheFader()
    {
        write(output("04 11 05 01"));
        write(output("04 1F 05 01"));
        read_all();
        model->move_fader(5, true);
        QCOMPARE(read_all(), hex_list({"0A E2 00 00 00 00 00 01 00 00", "0A E0 00 00 00 00 00 01 00 00", "04 E8 00 01",
                                       "0A EA 00 00 00 00 00 01 00 00"}));
        model->move_fader(5, false);
        QCOMPARE(read_all(), hex_list({"0A E2 00 00 00 00 00 00 00 00", "0A E0 00 00 00 00 00 00 00 00", "04 E8 00 00",
                                       "0A EA 00 00 00 00 00 00 00 00"}));
    }

    void phoneRingingDrivesGpo2()
    {
        model->set_phone_ringing(true);
        QCOMPARE(read_all(), hex_list({"03 ED 01", "04 E7 00 01"}));
        model->set_phone_ringing(true);
        QCOMPARE(read_all(), QList<QByteArray>());
    }

    void invertedGpoIsActiveWhileItsTriggerIsNot()
    {
        write(output("07 18 00 01 01 00 00"));
        QCOMPARE(read_all(), hex_list({"0A D8 01 01 00 00 03 00 00 00", "04 E7 01 00"}));
    }

    void controlKeyPressIsDownThenUp()
    {
        model->press_control_key(3);
        QCOMPARE(read_all(), hex_list({"04 C4 08 00", "04 C4 00 00"}));
        model->set_control_key(12, true);
        QCOMPARE(read_all(), hex_list({"04 C4 00 10"}));
        QVERIFY(model->is_control_key_down(12));
    }

    void personActions_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<QList<QByteArray>>("expected");
        QTest::newRow("on key 8") << 0 << hex_list({"0A E0 00 00 00 00 00 00 00 01"});
        QTest::newRow("cue aux") << 1 << hex_list({"04 E1 00 01"});
        QTest::newRow("source mod1 to line") << 2 << hex_list({"0A E4 00 01 01 00 00 00 00 00"});
        QTest::newRow("source mod8 to voip") << 3 << hex_list({"0A E4 01 01 01 00 00 00 00 01"});
        QTest::newRow("auto cue announcer") << 4 << hex_list({"04 E3 00 01"});
        QTest::newRow("non-stop") << 5 << hex_list({"03 E5 01"});
        QTest::newRow("comm 3") << 6 << hex_list({"0A CB 00 00 01 00 00 00 00 00"});
        QTest::newRow("cough 1") << 7 << hex_list({"0A CC 01 00 00 00 00 00 00 00"});
        QTest::newRow("track 2 play") << 8 << hex_list({"0A EC 00 01 00 00 00 00 00 00"});
        QTest::newRow("voip connect") << 9 << hex_list({"03 EE 01"});
        QTest::newRow("source unchanged") << 10 << QList<QByteArray>();
        QTest::newRow("on key 9 absent") << 11 << QList<QByteArray>();
        QTest::newRow("cue bus 12 absent") << 12 << QList<QByteArray>();
    }

    void personActions()
    {
        QFETCH(int, action);
        QFETCH(QList<QByteArray>, expected);
        switch (action) {
        case 0:
            model->press_on_key(7);
            break;
        case 1:
            model->press_cue(8);
            break;
        case 2:
            model->select_source(0, 0);
            break;
        case 3:
            model->select_source(7, 1);
            break;
        case 4:
            model->press_auto_cue(1);
            break;
        case 5:
            model->press_non_stop();
            break;
        case 6:
            model->set_comm(2, true);
            break;
        case 7:
            model->set_cough(0, true);
            break;
        case 8:
            model->set_track(1, 1);
            break;
        case 9:
            model->set_voip_connect(true);
            break;
        case 10:
            model->select_source(1, 1);
            break;
        case 11:
            model->press_on_key(8);
            break;
        case 12:
            model->press_cue(11);
            break;
        }
        QCOMPARE(read_all(), expected);
    }

    void personActionsNotSentWhileClosed()
    {
        device().close();
        model->press_on_key(1);
        QVERIFY(model->is_on(1));
        QCOMPARE(device().pending_input(), 0);
    }

    void meteringOffByDefault()
    {
        QCOMPARE(model->metering_rate(), 0);
        fake_ms += 10000;
        QCOMPARE(read_all(), QList<QByteArray>());
        QCOMPARE(model->metering_sent(), 0);
    }

    void meteringRateClamped()
    {
        model->set_metering_rate(5000);
        QCOMPARE(model->metering_rate(), ConsoleModel::max_metering_rate);
        model->set_metering_rate(-3);
        QCOMPARE(model->metering_rate(), 0);
    }

    void meteringFollowsTheClock()
    {
        model->set_metering_rate(100);
        QCOMPARE(read_all(), QList<QByteArray>());
        fake_ms += 1000;
        const QList<QByteArray> reports = read_all();
        QCOMPARE(reports.size(), 100);
        for (const QByteArray &report : reports)
            QCOMPARE(report.toHex(' '), QByteArray("08 f0 00 00 00 00 00 00")); // nothing on air: silence
        fake_ms += 25;
        QCOMPARE(read_all().size(), 2);
        fake_ms += 5;
        QCOMPARE(read_all().size(), 1);
        QCOMPARE(model->metering_sent(), 103);
    }

    void meteringFollowsTheLiveModules()
    {
        model->move_fader(3, true);
        model->press_on_key(3);
        read_all();
        model->set_metering_rate(10);
        fake_ms += 100;
        const QList<QByteArray> reports = read_all();
        QCOMPARE(reports.size(), 1);
        const QByteArray &meter = reports.first();
        QCOMPARE(meter.size(), 8);
        QCOMPARE(static_cast<unsigned char>(meter.at(1)), 0xF0);
        const float pgm_l = emulator::decode_level(static_cast<unsigned char>(meter.at(2)));
        QVERIFY2(pgm_l > -40.0f && pgm_l < 10.0f, QByteArray::number(pgm_l).constData());
        // no cue: the phones and the control room hear the programme
        QCOMPARE(meter.at(4), meter.at(2));
        QCOMPARE(meter.at(6), meter.at(2));
    }

    void meteringBeyondTheInputQueueIsDropped()
    {
        device().set_input_capacity(10);
        write(output("04 05 01 01"));
        model->set_metering_rate(1000);
        fake_ms += 1000;
        const QList<QByteArray> reports = read_all();
        QCOMPARE(reports.first(), hex("0A E0 00 01 00 00 00 00 00 00")); // not pushed out by the meters
        QCOMPARE(model->metering_sent(), 9);
        QCOMPARE(model->metering_dropped(), 991);
        QCOMPARE(device().dropped_input(), 0);
    }

    void meteringOnlyWhileOpen()
    {
        model->set_metering_rate(100);
        device().close();
        fake_ms += 1000;
        QCOMPARE(read_all(), QList<QByteArray>());
        QCOMPARE(model->metering_sent(), 0);
    }

    void meteringStartsAfreshOnOpen()
    {
        model->set_metering_rate(100);
        device().close();
        fake_ms += 5000;
        open();
        fake_ms += 100;
        QCOMPARE(read_all().size(), 10);
    }

    void unplugAndReplug()
    {
        model->press_on_key(6);
        read_all();
        model->unplug();
        QVERIFY(!model->is_plugged());
        unsigned char buffer[128];
        QCOMPARE(device().read(buffer, sizeof buffer), -1);
        device().close();
        QVERIFY(!device().open(static_cast<unsigned short>(korvel::usb::vendor_id),
                               static_cast<unsigned short>(korvel::usb::product_id)));
        model->press_on_key(1); // a person keeps working while the cable is out
        write(output("02 60")); // nobody answers
        QCOMPARE(device().pending_input(), 0);

        model->replug();
        QVERIFY(model->is_plugged());
        QVERIFY(device().open(static_cast<unsigned short>(korvel::usb::vendor_id),
                              static_cast<unsigned short>(korvel::usb::product_id)));
        QCOMPARE(read_all(), hex_list({"03 ED 00", "03 EE 00"}));
        write(output("02 60"));
        QCOMPARE(read_all(), hex_list({"0A E0 00 01 00 00 00 00 01 00"}));
    }

    void restoreFactoryState()
    {
        write(output("04 05 FF 01"));
        write(output("04 02 FF 01"));
        read_all();
        model->restore_factory_state();
        QCOMPARE(model->item(emulator::item::on_state), QByteArray(8, '\0'));
        QCOMPARE(model->item(emulator::item::led_colours), QByteArray(16, '\0'));
        QCOMPARE(read_all(), QList<QByteArray>());
    }
};

QTEST_GUILESS_MAIN(TestConsoleModel)
#include "tst_consolemodel.moc"
