// Settings: the ports, the use-default switches and auto-connect, kept across runs and applied at once.
#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include "app/portvalidator.h"
#include "udp/cudpinterface.h"
#include "usb/cusbhid.h"
#include "websocket/cwebsocketinterface.h"

#include <QSettings>

namespace {

constexpr int default_metering_port = 19548;
constexpr int default_config_port = 19549;
constexpr int default_custom_port = 19550;
constexpr int default_listen_port = 19551;
constexpr int default_ws_port = 19552;

const QString key_udp_default_ports = QStringLiteral("udp_default_ports");
const QString key_udp_metering_port = QStringLiteral("udp_metering_port");
const QString key_udp_config_port = QStringLiteral("udp_config_port");
const QString key_udp_custom_port = QStringLiteral("udp_custom_port");
const QString key_udp_listen_port = QStringLiteral("udp_listen_port");
const QString key_auto_connect = QStringLiteral("auto_connect");
const QString key_ws_default_port = QStringLiteral("ws_default_port");
const QString key_ws_port = QStringLiteral("ws_port");

// Each port field owns its validator (see setup_port_fields()).
PortValidator *validator_of(QLineEdit *field)
{
    return field->findChild<PortValidator *>(QString(), Qt::FindDirectChildrenOnly);
}

// A stored port that is missing, not a number or out of range would bind nothing useful (or a random port):
// the field's default takes its place.
int stored_port(const QSettings &settings, const QString &key, int fallback)
{
    // Read wide: a narrowing read would wrap a huge number into the valid range.
    bool ok = false;
    const qlonglong port = settings.value(key).toLongLong(&ok);
    return ok && PortValidator::is_valid_port(port) ? static_cast<int>(port) : fallback;
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
    const std::pair<QLineEdit *, int> fields[] = {
        {ui->lineEdit_METERING, default_metering_port}, {ui->lineEdit_CONFIGURATION, default_config_port},
        {ui->lineEdit_CUSTOM, default_custom_port},     {ui->lineEdit_LISTEN, default_listen_port},
        {ui->lineEdit_websocket_port, default_ws_port},
    };
    for (const auto &[field, port] : fields) {
        auto *validator = new PortValidator(field);
        validator->set_fallback(QString::number(port));
        field->setValidator(validator);
    }
}

void MainWindow::readSettings()
{
    QSettings settings;

    ui->lineEdit_METERING->setText(
        QString::number(stored_port(settings, key_udp_metering_port, default_metering_port)));
    ui->lineEdit_CONFIGURATION->setText(
        QString::number(stored_port(settings, key_udp_config_port, default_config_port)));
    ui->lineEdit_CUSTOM->setText(QString::number(stored_port(settings, key_udp_custom_port, default_custom_port)));
    ui->lineEdit_LISTEN->setText(QString::number(stored_port(settings, key_udp_listen_port, default_listen_port)));

    ui->checkBox_use_defaults->setChecked(settings.value(key_udp_default_ports).toBool());
    ui->checkBox_auto_connect->setChecked(settings.value(key_auto_connect).toBool());
    ui->checkBox_use_defaults_ws->setChecked(settings.value(key_ws_default_port).toBool());

    ui->lineEdit_websocket_port->setText(QString::number(stored_port(settings, key_ws_port, default_ws_port)));

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
    settings.setValue(key_udp_default_ports, ui->checkBox_use_defaults->isChecked());
    settings.setValue(key_udp_metering_port, port_to_store(ui->lineEdit_METERING));
    settings.setValue(key_udp_config_port, port_to_store(ui->lineEdit_CONFIGURATION));
    settings.setValue(key_udp_custom_port, port_to_store(ui->lineEdit_CUSTOM));
    settings.setValue(key_udp_listen_port, port_to_store(ui->lineEdit_LISTEN));
    settings.setValue(key_auto_connect, ui->checkBox_auto_connect->isChecked());
    settings.setValue(key_ws_default_port, ui->checkBox_use_defaults_ws->isChecked());
    settings.setValue(key_ws_port, port_to_store(ui->lineEdit_websocket_port));
}

void MainWindow::on_checkBox_use_defaults_clicked()
{
    const bool defaults = ui->checkBox_use_defaults->isChecked();
    if (defaults) {
        ui->lineEdit_LISTEN->setText(QString::number(default_listen_port));
        ui->lineEdit_METERING->setText(QString::number(default_metering_port));
        ui->lineEdit_CONFIGURATION->setText(QString::number(default_config_port));
        ui->lineEdit_CUSTOM->setText(QString::number(default_custom_port));
    }
    for (QLineEdit *field :
         {ui->lineEdit_METERING, ui->lineEdit_CONFIGURATION, ui->lineEdit_CUSTOM, ui->lineEdit_LISTEN})
        field->setEnabled(!defaults);
    setUdpPorts();
}

void MainWindow::on_checkBox_use_defaults_ws_clicked()
{
    const bool defaults = ui->checkBox_use_defaults_ws->isChecked();
    if (defaults)
        ui->lineEdit_websocket_port->setText(QString::number(default_ws_port));
    ui->lineEdit_websocket_port->setEnabled(!defaults);
    setWebSocketPort();
}

void MainWindow::on_checkBox_auto_connect_clicked()
{
    const bool automatic = ui->checkBox_auto_connect->isChecked();
    ui->START->setEnabled(!automatic);
    ui->STOP->setEnabled(!automatic);
    usb->set_auto_connect(automatic);
}

void MainWindow::setUdpPorts()
{
    udp->setRxPort(applied_port(ui->lineEdit_LISTEN));
    const int metering = applied_port(ui->lineEdit_METERING);
    const int configuration = applied_port(ui->lineEdit_CONFIGURATION);
    const int custom = applied_port(ui->lineEdit_CUSTOM);
    udp->setTxPorts(metering, configuration, custom);
}

void MainWindow::setWebSocketPort()
{
    websocket->setPort(applied_port(ui->lineEdit_websocket_port));
}
