// The emulated console's front panel: its controls, built once, and the refresh that follows the console.
#include "app/emulated/emulatorpanel.h"

#include "emulator/consolemodel.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <array>
#include <cmath>

namespace emulator {

namespace {

constexpr std::array<const char *, 8> other_source{"Mic", "Mic", "Mic", "USB", "USB", "USB", "USB", "VoIP"};
constexpr std::array<const char *, 3> bus_names{"Aux", "Non-stop", "Air"};
constexpr std::array<const char *, 6> meter_names{"PGM L", "PGM R", "Phones L", "Phones R", "CRM L", "CRM R"};
constexpr std::array<const char *, 6> lamp_names{"On air 1", "On air 2", "MIC ON", "CRM mute", "GPO 1", "GPO 2"};
// Half a blink period for the speeds slow, normal and fast.
constexpr std::array<int, 3> blink_half_period_ms{500, 250, 125};
constexpr int meter_steps_per_db = 4;

QToolButton *key_button(const QString &text, const QString &name)
{
    auto *button = new QToolButton;
    button->setText(text);
    button->setObjectName(name);
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setIconSize(QSize(20, 20));
    button->setMinimumWidth(56);
    return button;
}

void set_lamp(QLabel *lamp, bool lit)
{
    const QVariant was = lamp->property("lit");
    if (was.isValid() && was.toBool() == lit)
        return; // restyling repolishes the widget: only on a change
    lamp->setProperty("lit", lit);
    lamp->setStyleSheet(lit ? QStringLiteral("QLabel { background: #c62828; color: white; padding: 3px; }")
                            : QStringLiteral("QLabel { background: #424242; color: #9e9e9e; padding: 3px; }"));
}

} // namespace

EmulatorPanel::EmulatorPanel(ConsoleModel &model, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , model(model)
    , timer(new QTimer(this))
    , led_off(QStringLiteral(":/resources/svg/led_white_off.svg"))
    , led_red(QStringLiteral(":/resources/svg/led_red_on.svg"))
    , led_green(QStringLiteral(":/resources/svg/led_grn_on.svg"))
{
    setWindowTitle(QStringLiteral("Korvel Console Emulator"));
    setObjectName(QStringLiteral("emulator_panel"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(build_modules());
    auto *row = new QHBoxLayout;
    row->addWidget(build_cue_keys());
    row->addWidget(build_studio());
    layout->addLayout(row);
    layout->addWidget(build_control_keys());
    layout->addWidget(build_meters());

    auto *bottom = new QHBoxLayout;
    status = new QLabel;
    status->setObjectName(QStringLiteral("status"));
    plug = new QPushButton;
    plug->setObjectName(QStringLiteral("plug"));
    connect(plug, &QPushButton::clicked, this, [this] {
        if (this->model.is_plugged())
            this->model.unplug();
        else
            this->model.replug();
        refresh();
    });
    bottom->addWidget(status, 1);
    bottom->addWidget(plug);
    layout->addLayout(bottom);

    connect(timer, &QTimer::timeout, this, &EmulatorPanel::refresh);
    timer->start(refresh_interval_ms);
    refresh();
}

QWidget *EmulatorPanel::build_modules()
{
    auto *box = new QGroupBox(QStringLiteral("Modules"));
    auto *grid = new QGridLayout(box);
    for (int mod = 0; mod < module_count; ++mod) {
        auto *label = new QLabel(QStringLiteral("Mod %1").arg(mod + 1));
        label->setAlignment(Qt::AlignCenter);
        grid->addWidget(label, 0, mod);

        auto *on = key_button(QStringLiteral("ON"), QStringLiteral("on_key_%1").arg(mod));
        on->setCheckable(true);
        connect(on, &QToolButton::clicked, this, [this, mod] {
            model.press_on_key(mod);
            refresh();
        });
        grid->addWidget(on, 1, mod, Qt::AlignCenter);
        on_keys.append(on);

        auto *fader = new QSlider(Qt::Vertical);
        fader->setObjectName(QStringLiteral("fader_%1").arg(mod));
        fader->setRange(0, 10);
        fader->setMinimumHeight(90);
        fader->setToolTip(QStringLiteral("Closed at the bottom, open anywhere above"));
        connect(fader, &QSlider::valueChanged, this, [this, mod](int value) {
            if ((value > 0) != model.is_fader_open(mod))
                model.move_fader(mod, value > 0);
            refresh();
        });
        grid->addWidget(fader, 2, mod, Qt::AlignHCenter);
        faders.append(fader);

        auto *source = new QPushButton;
        source->setObjectName(QStringLiteral("source_%1").arg(mod));
        source->setCheckable(true);
        connect(source, &QPushButton::clicked, this, [this, mod] {
            model.select_source(mod, model.source(mod) == 0 ? 1 : 0);
            refresh();
        });
        grid->addWidget(source, 3, mod);
        sources.append(source);

        auto *cue = key_button(QStringLiteral("Cue"), QStringLiteral("cue_%1").arg(mod));
        cue->setCheckable(true);
        connect(cue, &QToolButton::clicked, this, [this, mod] {
            model.press_cue(mod);
            refresh();
        });
        grid->addWidget(cue, 4, mod, Qt::AlignCenter);
        cue_keys.append(cue);
    }
    return box;
}

QWidget *EmulatorPanel::build_cue_keys()
{
    auto *box = new QGroupBox(QStringLiteral("Cue buses"));
    auto *row = new QHBoxLayout(box);
    for (int bus = module_count; bus < cue_count; ++bus) {
        auto *cue = key_button(QString::fromLatin1(bus_names[static_cast<std::size_t>(bus - 8)]),
                               QStringLiteral("cue_%1").arg(bus));
        cue->setCheckable(true);
        connect(cue, &QToolButton::clicked, this, [this, bus] {
            model.press_cue(bus);
            refresh();
        });
        row->addWidget(cue);
        cue_keys.append(cue);
    }
    return box;
}

QWidget *EmulatorPanel::build_control_keys()
{
    auto *box = new QGroupBox(QStringLiteral("Control keys"));
    auto *grid = new QGridLayout(box);
    for (int key = 0; key < ctrl_key_count; ++key) {
        const QString name = QStringLiteral("%1%2").arg(key < 8 ? QLatin1Char('A') : QLatin1Char('B')).arg(key % 8 + 1);
        auto *button = key_button(name, QStringLiteral("ctrl_key_%1").arg(key));
        // A momentary key: held while the mouse button is.
        connect(button, &QToolButton::pressed, this, [this, key] {
            model.set_control_key(key, true);
            refresh();
        });
        connect(button, &QToolButton::released, this, [this, key] {
            model.set_control_key(key, false);
            refresh();
        });
        grid->addWidget(button, key / 8, key % 8);
        control_keys.append(button);
    }
    return box;
}

QWidget *EmulatorPanel::build_meters()
{
    auto *box = new QGroupBox(QStringLiteral("Meters"));
    auto *grid = new QGridLayout(box);
    for (int i = 0; i < 6; ++i) {
        grid->addWidget(new QLabel(QString::fromLatin1(meter_names[static_cast<std::size_t>(i)])), i, 0);
        auto *meter = new QProgressBar;
        meter->setObjectName(QStringLiteral("meter_%1").arg(i));
        meter->setRange(0, 64 * meter_steps_per_db - 1); // -50 dB .. +13.75 dB
        meter->setTextVisible(true);
        grid->addWidget(meter, i, 1);
        meters.append(meter);
    }
    return box;
}

QWidget *EmulatorPanel::build_studio()
{
    auto *box = new QGroupBox(QStringLiteral("Studio"));
    auto *layout = new QVBoxLayout(box);

    auto *switches = new QHBoxLayout;
    const std::array<const char *, 2> auto_cue_names{"Auto cue CRM", "Auto cue Ann."};
    for (int target = 0; target < 2; ++target) {
        auto *button = key_button(QString::fromLatin1(auto_cue_names[static_cast<std::size_t>(target)]),
                                  QStringLiteral("auto_cue_%1").arg(target));
        button->setCheckable(true);
        connect(button, &QToolButton::clicked, this, [this, target] {
            model.press_auto_cue(target);
            refresh();
        });
        switches->addWidget(button);
        auto_cue.append(button);
    }
    non_stop = key_button(QStringLiteral("Non-stop"), QStringLiteral("non_stop"));
    non_stop->setCheckable(true);
    connect(non_stop, &QToolButton::clicked, this, [this] {
        model.press_non_stop();
        refresh();
    });
    switches->addWidget(non_stop);
    layout->addLayout(switches);

    phone_ringing = new QCheckBox(QStringLiteral("Phone ringing"));
    phone_ringing->setObjectName(QStringLiteral("phone_ringing"));
    connect(phone_ringing, &QCheckBox::clicked, this, [this](bool checked) {
        model.set_phone_ringing(checked);
        refresh();
    });
    voip_connect = new QCheckBox(QStringLiteral("VoIP connected"));
    voip_connect->setObjectName(QStringLiteral("voip_connect"));
    connect(voip_connect, &QCheckBox::clicked, this, [this](bool checked) {
        model.set_voip_connect(checked);
        refresh();
    });
    auto *lines = new QHBoxLayout;
    lines->addWidget(phone_ringing);
    lines->addWidget(voip_connect);
    layout->addLayout(lines);

    auto *lamp_row = new QHBoxLayout;
    for (std::size_t i = 0; i < lamp_names.size(); ++i) {
        auto *lamp = new QLabel(QString::fromLatin1(lamp_names[i]));
        lamp->setObjectName(QStringLiteral("lamp_%1").arg(i));
        lamp->setAlignment(Qt::AlignCenter);
        lamp_row->addWidget(lamp);
        lamps.append(lamp);
    }
    layout->addLayout(lamp_row);
    return box;
}

const QIcon &EmulatorPanel::led_icon(int color) const
{
    switch (color) {
    case 1:
        return led_red;
    case 2:
        return led_green;
    default:
        return led_off;
    }
}

int EmulatorPanel::led_color_now(int led) const
{
    const ConsoleModel::LedState state = model.led(led);
    if (!state.blinking)
        return state.color;
    const int half = blink_half_period_ms[static_cast<std::size_t>(qBound(0, state.blink_speed, 2))];
    return (model.now() / half) % 2 == 0 ? state.color_on : state.color_off;
}

void EmulatorPanel::refresh()
{
    for (int mod = 0; mod < module_count; ++mod) {
        on_keys[mod]->setChecked(model.is_on(mod));
        on_keys[mod]->setIcon(led_icon(model.on_key_color(mod)));

        QSlider *fader = faders[mod];
        if ((fader->value() > 0) != model.is_fader_open(mod)) {
            const QSignalBlocker block(fader);
            fader->setValue(model.is_fader_open(mod) ? fader->maximum() : 0);
        }

        const bool other = model.source(mod) != 0;
        sources[mod]->setChecked(other);
        sources[mod]->setText(other ? QString::fromLatin1(other_source[static_cast<std::size_t>(mod)])
                                    : QStringLiteral("Line"));
    }
    for (int bus = 0; bus < cue_count; ++bus) {
        cue_keys[bus]->setChecked(model.is_cue_on(bus));
        cue_keys[bus]->setIcon(led_icon(model.cue_key_color(bus)));
    }
    for (int key = 0; key < ctrl_key_count; ++key) {
        control_keys[key]->setIcon(led_icon(led_color_now(key)));
        control_keys[key]->setProperty("down", model.is_control_key_down(key));
    }

    const MeterLevels levels = model.levels();
    for (int i = 0; i < 6; ++i) {
        const float level = levels[static_cast<std::size_t>(i)];
        meters[i]->setValue(static_cast<int>(std::lround((level + 50.0f) * meter_steps_per_db)));
        meters[i]->setFormat(QStringLiteral("%1 dB").arg(static_cast<double>(level), 0, 'f', 1));
    }

    for (int target = 0; target < 2; ++target)
        auto_cue[target]->setChecked(model.is_auto_cue_on(target));
    non_stop->setChecked(model.is_non_stop());
    phone_ringing->setChecked(model.is_phone_ringing());
    voip_connect->setChecked(model.is_voip_connected());
    const std::array<bool, 6> lit{model.is_on_air(0),   model.is_on_air(1),     model.is_mic_on(),
                                  model.is_crm_muted(), model.is_gpo_active(0), model.is_gpo_active(1)};
    for (std::size_t i = 0; i < lit.size(); ++i)
        set_lamp(lamps[static_cast<int>(i)], lit[i]);

    plug->setText(model.is_plugged() ? QStringLiteral("Unplug USB") : QStringLiteral("Plug in USB"));
    status->setText(QStringLiteral("%1, meters %2/s, %3 dropped")
                        .arg(model.is_plugged() ? QStringLiteral("Plugged in") : QStringLiteral("Unplugged"))
                        .arg(model.metering_rate())
                        .arg(model.metering_dropped()));
}

} // namespace emulator
