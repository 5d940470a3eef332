// Settings: the ports, the use-default switches and auto-connect, kept across runs and applied at once.
#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include "app/portmonitor.h"
#include "app/portvalidator.h"
#include "app/privatestore.h"
#include "net/defaultports.h"
#include "udp/cudpinterface.h"
#include "usb/cusbhid.h"
#include "websocket/cwebsocketinterface.h"

#include <QDebug>
#include <QScopedValueRollback>
#include <QSettings>

#include <functional>

namespace {

enum class Interface { udp, websocket };

// One port the user sets: its field, its key in the store and the port used unless the user chooses another.
struct PortSetting {
    QLineEdit *Ui::MainWindow::*field;
    const char *key;
    int default_port;
    Interface interface;
};

// In the order the store lists them.
constexpr PortSetting port_settings[] = {
    {&Ui::MainWindow::lineEdit_METERING, "udp_metering_port", korvel::ports::udp_metering, Interface::udp},
    {&Ui::MainWindow::lineEdit_CONFIGURATION, "udp_config_port", korvel::ports::udp_configuration, Interface::udp},
    {&Ui::MainWindow::lineEdit_CUSTOM, "udp_custom_port", korvel::ports::udp_custom, Interface::udp},
    {&Ui::MainWindow::lineEdit_LISTEN, "udp_listen_port", korvel::ports::udp_listen, Interface::udp},
    {&Ui::MainWindow::lineEdit_websocket_port, "ws_port", korvel::ports::websocket, Interface::websocket},
};

void for_each_port(Interface interface, const std::function<void(const PortSetting &)> &visit)
{
    for (const PortSetting &setting : port_settings) {
        if (setting.interface == interface)
            visit(setting);
    }
}

const QString key_udp_default_ports = QStringLiteral("udp_default_ports");
const QString key_auto_connect = QStringLiteral("auto_connect");
const QString key_ws_default_port = QStringLiteral("ws_default_port");

// With defaults on, an interface's fields show the default ports and take no typing.
void show_defaults(Ui::MainWindow *ui, Interface interface, bool defaults)
{
    for_each_port(interface, [&](const PortSetting &setting) {
        QLineEdit *field = ui->*setting.field;
        if (defaults)
            field->setText(QString::number(setting.default_port));
        field->setEnabled(!defaults);
    });
}

// Each port field owns its validator (see setup_port_fields()).
PortValidator *validator_of(QLineEdit *field)
{
    return field->findChild<PortValidator *>(QString(), Qt::FindDirectChildrenOnly);
}

// A stored port that is missing, not a number or out of range would bind nothing useful (or a random port):
// the field's default takes its place.
int stored_port(const QSettings &settings, const PortSetting &setting)
{
    // Read wide: a narrowing read would wrap a huge number into the valid range.
    bool ok = false;
    const qlonglong port = settings.value(QString::fromLatin1(setting.key)).toLongLong(&ok);
    return ok && PortValidator::is_valid_port(port) ? static_cast<int>(port) : setting.default_port;
}

// The port a field stands for. A text that is not a valid port (set without the validator's say, or left
// half-typed) is replaced by the last port applied, so it is never applied nor stored.
int applied_port(QLineEdit *field)
{
    PortValidator *validator = validator_of(field);
    if (const auto port = PortValidator::port_of(field->text())) {
        validator->set_fallback(QString::number(*port));
        return *port;
    }
    field->setText(validator->fallback_text());
    return PortValidator::port_of(validator->fallback_text()).value_or(0);
}

// Like applied_port(), for storing: reports the port without touching the field.
int port_to_store(QLineEdit *field)
{
    if (const auto port = PortValidator::port_of(field->text()))
        return *port;
    return PortValidator::port_of(validator_of(field)->fallback_text()).value_or(0);
}

} // namespace

void MainWindow::setup_port_fields()
{
    for (const PortSetting &setting : port_settings) {
        QLineEdit *field = ui->*setting.field;
        auto *validator = new PortValidator(field);
        validator->set_fallback(QString::number(setting.default_port));
        field->setValidator(validator);
    }
}

void MainWindow::readSettings()
{
    // Applying what was stored is no change of the user's: nothing is written back meanwhile.
    const QScopedValueRollback reading(reading_settings, true);
    QSettings settings;

    const auto read_port = [&](const PortSetting &setting) {
        (ui->*setting.field)->setText(QString::number(stored_port(settings, setting)));
    };
    for_each_port(Interface::udp, read_port);

    ui->checkBox_use_defaults->setChecked(settings.value(key_udp_default_ports).toBool());
    ui->checkBox_auto_connect->setChecked(settings.value(key_auto_connect).toBool());
    ui->checkBox_use_defaults_ws->setChecked(settings.value(key_ws_default_port).toBool());

    for_each_port(Interface::websocket, read_port);

    // First start: defaults everywhere and a link that connects by itself.
    if (!settings.contains(key_udp_default_ports)) {
        ui->checkBox_use_defaults->setChecked(true);
        ui->checkBox_auto_connect->setChecked(true);
    }
    if (!settings.contains(key_ws_default_port))
        ui->checkBox_use_defaults_ws->setChecked(true);

    on_checkBox_use_defaults_clicked();
    on_checkBox_use_defaults_ws_clicked();
    on_checkBox_auto_connect_clicked();
}

void MainWindow::writeSettings()
{
    QSettings settings;
    const auto write_port = [&](const PortSetting &setting) {
        settings.setValue(QString::fromLatin1(setting.key), port_to_store(ui->*setting.field));
    };
    settings.setValue(key_udp_default_ports, ui->checkBox_use_defaults->isChecked());
    for_each_port(Interface::udp, write_port);
    settings.setValue(key_auto_connect, ui->checkBox_auto_connect->isChecked());
    settings.setValue(key_ws_default_port, ui->checkBox_use_defaults_ws->isChecked());
    for_each_port(Interface::websocket, write_port);
    // On disk now: a logout, a kill or a power cut right after a change keeps it.
    korvel::app::restrict_store(settings);
    if (settings.status() != QSettings::NoError)
        qWarning().noquote() << "Cannot write the settings to" << settings.fileName();
}

void MainWindow::save_applied()
{
    if (!reading_settings)
        writeSettings();
}

void MainWindow::on_checkBox_use_defaults_clicked()
{
    show_defaults(ui, Interface::udp, ui->checkBox_use_defaults->isChecked());
    setUdpPorts();
}

void MainWindow::on_checkBox_use_defaults_ws_clicked()
{
    show_defaults(ui, Interface::websocket, ui->checkBox_use_defaults_ws->isChecked());
    setWebSocketPort();
}

void MainWindow::on_checkBox_auto_connect_clicked()
{
    const bool automatic = ui->checkBox_auto_connect->isChecked();
    ui->START->setEnabled(!automatic);
    ui->STOP->setEnabled(!automatic);
    usb->set_auto_connect(automatic);
    save_applied();
}

void MainWindow::setUdpPorts()
{
    ports->apply(udp_watch, applied_port(ui->lineEdit_LISTEN));
    const int metering = applied_port(ui->lineEdit_METERING);
    const int configuration = applied_port(ui->lineEdit_CONFIGURATION);
    const int custom = applied_port(ui->lineEdit_CUSTOM);
    udp->setTxPorts(metering, configuration, custom);
    save_applied();
}

void MainWindow::setWebSocketPort()
{
    ports->apply(websocket_watch, applied_port(ui->lineEdit_websocket_port));
    save_applied();
}
