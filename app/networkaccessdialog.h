#pragma once

#include "app/networkaccess.h"

#include <QDialog>

class CWebSocketInterface;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;

namespace korvel::app {

// The "Network access" dialog: listen address, allowed web origins (with the origins seen since start, to allow
// with one click), password, the browser panel and allowed UDP senders. Shows the stored settings; access() is what was
// chosen.
class NetworkAccessDialog : public QDialog {
    Q_OBJECT

public:
    NetworkAccessDialog(CWebSocketInterface *websocket, QWidget *parent);

    // The settings as chosen; a new password is already turned into its salted secret.
    NetworkAccess access() const { return chosen; }

private:
    void allow_selected_origins();
    void take_choices();

    NetworkAccess stored;
    NetworkAccess chosen;
    QComboBox *listen = nullptr;
    QLabel *listen_warning = nullptr;
    QPlainTextEdit *origins = nullptr;
    QLabel *origins_problem = nullptr;
    QListWidget *seen = nullptr;
    QLineEdit *password = nullptr;
    QCheckBox *no_password = nullptr;
    QCheckBox *serve_panel = nullptr;
    QPlainTextEdit *udp_senders = nullptr;
    QLabel *udp_problem = nullptr;
};

} // namespace korvel::app
