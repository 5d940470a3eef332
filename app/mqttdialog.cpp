// The "MQTT" dialog, built in code so the settings window's form stays as it is.
#include "app/mqttdialog.h"

#include "app/mqttpassword.h"
#include "app/mqttservice.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace korvel::app {

namespace {

const QString style_problem = QStringLiteral("color: #b00000");

QLabel *problem_label(const QString &name, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setStyleSheet(style_problem);
    label->setVisible(false);
    return label;
}

void show_problem(QLabel *label, const QString &problem)
{
    label->setText(problem);
    label->setVisible(!problem.isEmpty());
}

// The port a field's text stands for: empty is 0 (the usual port), anything but a number is -1 (refused).
int port_of(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return 0;
    bool ok = false;
    const qlonglong number = trimmed.toLongLong(&ok);
    return ok && number >= 0 && number <= MqttConfig::max_port ? int(number) : -1;
}

} // namespace

MqttDialog::MqttDialog(MqttService *service, QWidget *parent)
    : QDialog(parent)
    , service(service)
{
    setWindowTitle(tr("MQTT"));
    const MqttConfig &config = service->config();
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    layout->addLayout(form);

    enabled = new QCheckBox(tr("Publish the console on an MQTT broker"), this);
    enabled->setObjectName(QStringLiteral("mqtt_enabled"));
    enabled->setChecked(config.enabled);
    form->addRow(enabled);

    host = new QLineEdit(config.host, this);
    host->setObjectName(QStringLiteral("mqtt_host"));
    host->setPlaceholderText(tr("broker.example"));
    form->addRow(tr("Broker host:"), host);
    host_problem = problem_label(QStringLiteral("mqtt_host_problem"), this);
    form->addRow(host_problem);

    port = new QLineEdit(config.port > 0 ? QString::number(config.port) : QString(), this);
    port->setObjectName(QStringLiteral("mqtt_port"));
    form->addRow(tr("Port:"), port);
    port_problem = problem_label(QStringLiteral("mqtt_port_problem"), this);
    form->addRow(port_problem);

    tls = new QCheckBox(tr("Use TLS"), this);
    tls->setObjectName(QStringLiteral("mqtt_tls"));
    tls->setChecked(config.tls);
    connect(tls, &QCheckBox::toggled, this, &MqttDialog::update_port_placeholder);
    update_port_placeholder();
    form->addRow(tls);
    ca_file = add_file_row(form, tr("CA file:"), QStringLiteral("mqtt_ca_file"), config.ca_file,
                           tr("the system's certificate authorities"));
    client_cert = add_file_row(form, tr("Client certificate:"), QStringLiteral("mqtt_client_cert"), config.client_cert,
                               tr("none"));
    client_key =
        add_file_row(form, tr("Client key:"), QStringLiteral("mqtt_client_key"), config.client_key, tr("none"));
    client_key_problem = problem_label(QStringLiteral("mqtt_client_key_problem"), this);
    form->addRow(client_key_problem);

    user = new QLineEdit(config.user, this);
    user->setObjectName(QStringLiteral("mqtt_user"));
    user->setPlaceholderText(tr("none"));
    form->addRow(tr("User name:"), user);

    password = new QLineEdit(this);
    password->setObjectName(QStringLiteral("mqtt_password"));
    password->setEchoMode(QLineEdit::Password);
    connect(password, &QLineEdit::textEdited, this, [this] { password_edited = true; });
    form->addRow(tr("Password:"), password);
    keyring_note = new QLabel(this);
    keyring_note->setObjectName(QStringLiteral("mqtt_keyring_note"));
    keyring_note->setWordWrap(true);
    form->addRow(keyring_note);

    prefix = new QLineEdit(config.prefix, this);
    prefix->setObjectName(QStringLiteral("mqtt_prefix"));
    prefix->setPlaceholderText(service->default_prefix());
    form->addRow(tr("Topic prefix:"), prefix);
    prefix_problem = problem_label(QStringLiteral("mqtt_prefix_problem"), this);
    form->addRow(prefix_problem);

    client_id = new QLineEdit(config.client_id, this);
    client_id->setObjectName(QStringLiteral("mqtt_client_id"));
    client_id->setPlaceholderText(service->default_client_id());
    form->addRow(tr("Client id:"), client_id);

    metering_rate = new QSpinBox(this);
    metering_rate->setObjectName(QStringLiteral("mqtt_metering_rate"));
    metering_rate->setRange(0, MqttConfig::max_metering_rate);
    metering_rate->setSpecialValueText(tr("every report"));
    metering_rate->setValue(config.metering_rate);
    form->addRow(tr("Metering per second:"), metering_rate);

    status = new QLabel(service->status_text(), this);
    status->setObjectName(QStringLiteral("mqtt_status"));
    status->setWordWrap(true);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(tr("Status:"), status);
    connect(service, &MqttService::status_changed, status, &QLabel::setText);

    auto *buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (apply())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this, &MqttDialog::apply);
    layout->addWidget(buttons);

    connect(service, &MqttService::password_known, this, &MqttDialog::show_password);
    connect(service->password_keeper(), &MqttPassword::read_finished, this, &MqttDialog::show_keyring_note);
    connect(service->password_keeper(), &MqttPassword::written, this, &MqttDialog::show_keyring_note);
    show_password();
    show_keyring_note();
    // Knowing the password also tells where it is kept.
    service->ask_password();
}

QLineEdit *MqttDialog::add_file_row(QFormLayout *form, const QString &label, const QString &name, const QString &path,
                                    const QString &placeholder)
{
    auto *line = new QLineEdit(path, this);
    line->setObjectName(name);
    line->setPlaceholderText(placeholder);
    auto *choose = new QPushButton(tr("Choose…"), this);
    choose->setObjectName(name + QStringLiteral("_choose"));
    // Never the dialog's default button: Return in a field applies, as everywhere else in the dialog.
    choose->setAutoDefault(false);
    connect(choose, &QPushButton::clicked, this, [this, line, label] {
        QString title = label;
        title.remove(QLatin1Char(':'));
        const QString picked =
            QFileDialog::getOpenFileName(this, title, line->text(), tr("PEM files (*.pem *.crt *.key);;All files (*)"));
        if (!picked.isEmpty())
            line->setText(picked);
    });
    auto *row = new QHBoxLayout;
    row->addWidget(line, 1);
    row->addWidget(choose);
    form->addRow(label, row);
    return line;
}

void MqttDialog::update_port_placeholder()
{
    korvel::mqtt::Settings usual;
    usual.tls = tls->isChecked();
    port->setPlaceholderText(QString::number(usual.effective_port()));
}

void MqttDialog::show_password()
{
    // What the user typed meanwhile is theirs.
    if (password_edited)
        return;
    const std::optional<QString> known = service->password();
    password->setText(known.value_or(QString()));
    password->setPlaceholderText(known ? tr("none") : tr("reading the keyring…"));
}

void MqttDialog::show_keyring_note()
{
    const bool in_store = service->password_keeper()->place() == MqttPassword::Place::store;
    keyring_note->setText(
        in_store ? tr("No keyring available: the password is kept in the settings file, readable by you only.")
                 : QString());
    keyring_note->setVisible(in_store);
    // The note may come after the dialog is shown (the keyring answers later): grow to fit it, never shrink.
    resize(size().expandedTo(sizeHint()));
}

std::optional<MqttConfig> MqttDialog::chosen()
{
    MqttConfig config;
    config.enabled = enabled->isChecked();
    config.host = host->text().trimmed();
    config.port = port_of(port->text());
    config.tls = tls->isChecked();
    config.ca_file = ca_file->text().trimmed();
    config.client_cert = client_cert->text().trimmed();
    config.client_key = client_key->text().trimmed();
    config.user = user->text().trimmed();
    config.prefix = prefix->text().trimmed();
    config.client_id = client_id->text().trimmed();
    config.metering_rate = metering_rate->value();
    const MqttConfigProblems problems = check(config);
    show_problem(host_problem, problems.host);
    show_problem(port_problem, problems.port);
    show_problem(prefix_problem, problems.prefix);
    show_problem(client_key_problem, problems.client_key);
    if (!problems.none())
        return std::nullopt;
    return config;
}

bool MqttDialog::apply()
{
    const std::optional<MqttConfig> config = chosen();
    if (!config)
        return false;
    service->apply(*config, password_edited ? std::optional<QString>(password->text()) : std::nullopt);
    password_edited = false;
    return true;
}

} // namespace korvel::app
