#pragma once

#include <QIcon>
#include <QList>
#include <QWidget>

class QAbstractButton;
class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSlider;
class QTimer;
class QToolButton;

namespace emulator {

class ConsoleModel;

// The emulated console's front panel: its ON keys, faders, source switches, cue keys, control keys with
// their LEDs, meters, studio lines and USB plug, for a person to operate. It polls the console model, so it
// shows what the host and the person changed alike.
class EmulatorPanel : public QWidget {
    Q_OBJECT

public:
    static constexpr int refresh_interval_ms = 50;

    explicit EmulatorPanel(ConsoleModel &model, QWidget *parent = nullptr);

public slots:
    // Brings every control in line with the console.
    void refresh();

private:
    QWidget *build_modules();
    QWidget *build_cue_keys();
    QWidget *build_control_keys();
    QWidget *build_meters();
    QWidget *build_studio();
    const QIcon &led_icon(int color) const;
    // The colour an LED shows now: its steady colour, or the phase of its blinking.
    int led_color_now(int led) const;

    ConsoleModel &model;
    QTimer *timer;
    QIcon led_off;
    QIcon led_red;
    QIcon led_green;
    QList<QToolButton *> on_keys;
    QList<QSlider *> faders;
    QList<QPushButton *> sources;
    QList<QToolButton *> cue_keys;
    QList<QToolButton *> control_keys;
    QList<QProgressBar *> meters;
    QList<QLabel *> lamps; // on air 1, on air 2, MIC ON, CRM mute, GPO 1, GPO 2
    QCheckBox *phone_ringing = nullptr;
    QCheckBox *voip_connect = nullptr;
    QToolButton *non_stop = nullptr;
    QList<QToolButton *> auto_cue; // control room, announcer
    QPushButton *plug = nullptr;
    QLabel *status = nullptr;
};

} // namespace emulator
