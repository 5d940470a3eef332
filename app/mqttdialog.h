#pragma once

#include "app/mqttconfig.h"

#include <QDialog>

#include <optional>

class QCheckBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace korvel::app {

class MqttService;

// The "MQTT" dialog: broker, TLS files, credentials, topic prefix, client id and metering rate, with the connection's
// state shown live. Apply and OK check the input, explain a refusal next to its field, and hand the choice to the
// service.
class MqttDialog : public QDialog {
    Q_OBJECT

public:
    MqttDialog(MqttService *service, QWidget *parent);

    // The choice as the fields show it; nullopt (and the refusals shown) when it cannot be taken.
    std::optional<MqttConfig> chosen();
    // Checks and applies; false when refused.
    bool apply();

private:
    void show_password();
    void show_keyring_note();
    void update_port_placeholder();
    // A line for a file's path with a button that picks it; the line is returned, the row added to the form.
    QLineEdit *add_file_row(QFormLayout *form, const QString &label, const QString &name, const QString &path,
                            const QString &placeholder);

    MqttService *service;
    QCheckBox *enabled = nullptr;
    QLineEdit *host = nullptr;
    QLabel *host_problem = nullptr;
    QLineEdit *port = nullptr;
    QLabel *port_problem = nullptr;
    QCheckBox *tls = nullptr;
    QLineEdit *ca_file = nullptr;
    QLineEdit *client_cert = nullptr;
    QLineEdit *client_key = nullptr;
    QLabel *client_key_problem = nullptr;
    QLineEdit *user = nullptr;
    QLineEdit *password = nullptr;
    QLabel *keyring_note = nullptr;
    QLineEdit *prefix = nullptr;
    QLabel *prefix_problem = nullptr;
    QLineEdit *client_id = nullptr;
    QSpinBox *metering_rate = nullptr;
    QLabel *status = nullptr;
    bool password_edited = false;
};

} // namespace korvel::app
