// The emulator's front panel: a person's clicks reach the console, the console's state reaches the panel.
#include "consoletesthelpers.h"

#include "app/emulated/emulatorpanel.h"
#include "emulator/consolemodel.h"
#include "emulator/emulateddevice.h"
#include "usb/usbids.h"

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QToolButton>

#include <memory>

using emulator::ConsoleModel;
using emulator::EmulatedDevice;
using emulator::EmulatorPanel;
using namespace consoletest;

class TestEmulatorPanel : public QObject {
    Q_OBJECT

private:
    qint64 fake_ms = 0;
    std::unique_ptr<ConsoleModel> model;
    std::unique_ptr<EmulatorPanel> panel;

    template <typename T>
    T *child(const QString &name)
    {
        T *widget = panel->findChild<T *>(name);
        if (!widget)
            qFatal("no widget %s", qPrintable(name));
        return widget;
    }

private slots:
    void init()
    {
        EmulatedDevice::instance().reset();
        fake_ms = 0;
        model = std::make_unique<ConsoleModel>();
        model->set_clock([this] { return fake_ms; });
        EmulatedDevice::instance().set_model(model.get());
        QVERIFY(EmulatedDevice::instance().open(static_cast<unsigned short>(korvel::usb::vendor_id),
                                                static_cast<unsigned short>(korvel::usb::product_id)));
        read_all();
        panel = std::make_unique<EmulatorPanel>(*model);
    }

    void cleanup()
    {
        panel.reset();
        model.reset();
    }

    void onKeyClickSwitchesTheModule()
    {
        QToolButton *on = child<QToolButton>(QStringLiteral("on_key_2"));
        QVERIFY(!on->isChecked());
        on->click();
        QVERIFY(model->is_on(2));
        QVERIFY(on->isChecked());
        QCOMPARE(read_all(), hex_list({"0A E0 00 00 01 00 00 00 00 00"}));
    }

    void hostCommandShowsOnThePanel()
    {
        write(output("04 05 05 01"));
        write(output("04 06 0A 01"));
        panel->refresh();
        QVERIFY(child<QToolButton>(QStringLiteral("on_key_5"))->isChecked());
        QVERIFY(child<QToolButton>(QStringLiteral("cue_10"))->isChecked());
        QVERIFY(!child<QToolButton>(QStringLiteral("on_key_4"))->isChecked());
    }

    void faderMovesTheConsoleFader()
    {
        QSlider *fader = child<QSlider>(QStringLiteral("fader_1"));
        fader->setValue(7);
        QVERIFY(model->is_fader_open(1));
        fader->setValue(3);
        QCOMPARE(read_all(), hex_list({"0A E2 00 01 00 00 00 00 00 00"})); // still open: nothing new
        fader->setValue(0);
        QVERIFY(!model->is_fader_open(1));
    }

    void sourceButtonNamesTheModuleSource()
    {
        QPushButton *source = child<QPushButton>(QStringLiteral("source_7"));
        QCOMPARE(source->text(), QStringLiteral("Line"));
        source->click();
        QCOMPARE(model->source(7), 1);
        QCOMPARE(source->text(), QStringLiteral("VoIP"));
        QCOMPARE(child<QPushButton>(QStringLiteral("source_0"))->text(), QStringLiteral("Mic"));
    }

    void controlKeyIsMomentary()
    {
        QToolButton *key = child<QToolButton>(QStringLiteral("ctrl_key_9"));
        key->click(); // press and release
        QCOMPARE(read_all(), hex_list({"04 C4 00 02", "04 C4 00 00"}));
        QVERIFY(!model->is_control_key_down(9));
    }

    void controlKeyShowsItsLed()
    {
        const auto image = [](const QIcon &icon) { return icon.pixmap(QSize(20, 20)).toImage(); };
        const QImage red = image(QIcon(QStringLiteral(":/resources/svg/led_red_on.svg")));
        const QImage green = image(QIcon(QStringLiteral(":/resources/svg/led_grn_on.svg")));
        QVERIFY(!red.isNull());
        QVERIFY(red != green);
        QToolButton *key = child<QToolButton>(QStringLiteral("ctrl_key_4"));
        write(output("04 02 04 01"));
        panel->refresh();
        QCOMPARE(image(key->icon()), red);
        write(output("06 03 04 02 01 02")); // blinking green and red, fast
        fake_ms = 0;
        panel->refresh();
        QCOMPARE(image(key->icon()), green);
        fake_ms = 130;
        panel->refresh();
        QCOMPARE(image(key->icon()), red);
    }

    void studioLinesAndLamps()
    {
        child<QCheckBox>(QStringLiteral("phone_ringing"))->click();
        QVERIFY(model->is_phone_ringing());
        QVERIFY(child<QLabel>(QStringLiteral("lamp_5"))->property("lit").toBool()); // gpo2 follows the phone
        child<QCheckBox>(QStringLiteral("voip_connect"))->click();
        QVERIFY(model->is_voip_connected());
        child<QToolButton>(QStringLiteral("non_stop"))->click();
        QVERIFY(model->is_non_stop());
        child<QToolButton>(QStringLiteral("auto_cue_1"))->click();
        QVERIFY(model->is_auto_cue_on(1));
        QVERIFY(!model->is_auto_cue_on(0));
    }

    void metersFollowTheLiveModules()
    {
        QProgressBar *pgm = child<QProgressBar>(QStringLiteral("meter_0"));
        QCOMPARE(pgm->value(), 0);
        model->move_fader(3, true);
        model->press_on_key(3);
        fake_ms = 1500;
        panel->refresh();
        QVERIFY(pgm->value() > 0);
        QVERIFY(pgm->text().endsWith(QStringLiteral(" dB")));
    }

    void plugButtonPullsAndPutsBackTheCable()
    {
        QPushButton *plug = child<QPushButton>(QStringLiteral("plug"));
        QCOMPARE(plug->text(), QStringLiteral("Unplug USB"));
        plug->click();
        QVERIFY(!model->is_plugged());
        QCOMPARE(plug->text(), QStringLiteral("Plug in USB"));
        plug->click();
        QVERIFY(model->is_plugged());
    }
};

QTEST_MAIN(TestEmulatorPanel)
#include "tst_emulatorpanel.moc"
