// The "Network access" dialog, built in code so the settings window's form stays as it is.
#include "app/networkaccessdialog.h"

#include "app/dialogfit.h"

#include "websocket/authentication.h"
#include "websocket/cwebsocketinterface.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

namespace korvel::app {

namespace {
QStringList lines_of(const QPlainTextEdit *edit)
{
    QStringList lines;
    for (const QString &line : edit->toPlainText().split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty())
            lines.append(line.trimmed());
    }
    return lines;
}

// A list typed one entry per line, and under it the line that says what is wrong with it (hidden until then).
QPlainTextEdit *add_list(QVBoxLayout *layout, const QStringList &entries, QLabel **problem)
{
    QWidget *box = layout->parentWidget();
    auto *edit = new QPlainTextEdit(entries.join(QLatin1Char('\n')), box);
    layout->addWidget(edit);
    *problem = new QLabel(box);
    (*problem)->setWordWrap(true);
    (*problem)->setStyleSheet(QStringLiteral("color: #b00000"));
    (*problem)->setVisible(false);
    layout->addWidget(*problem);
    return edit;
}
} // namespace

NetworkAccessDialog::NetworkAccessDialog(CWebSocketInterface *websocket, QWidget *parent)
    : QDialog(parent)
    , stored(NetworkAccess::load(QSettings()))
    , chosen(stored)
{
    setWindowTitle(tr("Network access"));
    auto *layout = new QVBoxLayout(this);

    auto *addresses = new QGroupBox(tr("Listen address (WebSocket server and UDP bridge)"), this);
    auto *address_layout = new QVBoxLayout(addresses);
    listen = new QComboBox(addresses);
    listen->addItem(tr("Every IPv4 interface"), QString());
    listen->addItem(tr("This machine only (127.0.0.1)"), QStringLiteral("127.0.0.1"));
    for (const QHostAddress &address : machine_addresses()) {
        if (!address.isLoopback())
            listen->addItem(address.toString(), address.toString());
    }
    listen_warning = new QLabel(addresses);
    listen_warning->setWordWrap(true);
    listen_warning->setStyleSheet(QStringLiteral("color: #b00000"));
    QString warning;
    listen_address_for(stored.listen_address, machine_addresses(), &warning);
    listen_warning->setText(warning);
    listen_warning->setVisible(!warning.isEmpty());
    const int current = listen->findData(warning.isEmpty() ? stored.listen_address : QStringLiteral("127.0.0.1"));
    listen->setCurrentIndex(current < 0 ? 0 : current);
    address_layout->addWidget(listen);
    address_layout->addWidget(listen_warning);
    layout->addWidget(addresses);

    auto *web = new QGroupBox(tr("Allowed web origins (one per line; none: any)"), this);
    auto *web_layout = new QVBoxLayout(web);
    origins = add_list(web_layout, stored.allowed_origins, &origins_problem);
    web_layout->addWidget(new QLabel(tr("Origins seen since start:"), web));
    seen = new QListWidget(web);
    seen->setSelectionMode(QAbstractItemView::ExtendedSelection);
    seen->addItems(websocket->seen_origins());
    connect(websocket, &CWebSocketInterface::origin_seen, seen, [this](const QString &origin) {
        // As the server keeps them: the most recent ones.
        if (seen->count() >= CWebSocketInterface::max_seen_origins)
            delete seen->takeItem(0);
        seen->addItem(origin);
    });
    web_layout->addWidget(seen);
    auto *allow = new QPushButton(tr("Allow selected"), web);
    connect(allow, &QPushButton::clicked, this, &NetworkAccessDialog::allow_selected_origins);
    connect(seen, &QListWidget::itemDoubleClicked, this, &NetworkAccessDialog::allow_selected_origins);
    web_layout->addWidget(allow);
    layout->addWidget(web);

    auto *secret = new QGroupBox(tr("WebSocket password"), this);
    auto *secret_layout = new QFormLayout(secret);
    password = new QLineEdit(secret);
    password->setEchoMode(QLineEdit::Password);
    password->setPlaceholderText(stored.password_secret.isEmpty() ? tr("none") : tr("unchanged"));
    secret_layout->addRow(tr("New password:"), password);
    no_password = new QCheckBox(tr("No password"), secret);
    no_password->setChecked(stored.password_secret.isEmpty());
    connect(password, &QLineEdit::textEdited, no_password, [this] { no_password->setChecked(false); });
    secret_layout->addRow(no_password);
    layout->addWidget(secret);

    auto *panel = new QGroupBox(tr("Browser panel"), this);
    auto *panel_layout = new QVBoxLayout(panel);
    serve_panel = new QCheckBox(tr("Serve the browser panel on the WebSocket port"), panel);
    serve_panel->setObjectName(QStringLiteral("serve_panel"));
    serve_panel->setChecked(stored.serve_panel);
    panel_layout->addWidget(serve_panel);
    layout->addWidget(panel);

    auto *udp = new QGroupBox(tr("Allowed UDP senders (address or subnet, one per line; none: any)"), this);
    auto *udp_layout = new QVBoxLayout(udp);
    udp_senders = add_list(udp_layout, stored.allowed_udp_senders, &udp_problem);
    layout->addWidget(udp);

    // Stored lists that allow nobody say so as soon as the dialog opens.
    QStringList invalid;
    if (!stored.allowed_udp_senders.isEmpty() && parse_senders(stored.allowed_udp_senders, &invalid).isEmpty()) {
        udp_problem->setText(tr("No valid entry: no sender is accepted. Not an IPv4 address or subnet: %1")
                                 .arg(invalid.join(QStringLiteral(", "))));
        udp_problem->setVisible(true);
    }
    const QStringList bad_origins = invalid_origins(stored.allowed_origins);
    if (!stored.allowed_origins.isEmpty() && bad_origins.size() == stored.allowed_origins.size()) {
        origins_problem->setText(tr("No valid entry: no web page can connect. %1: %2")
                                     .arg(bad_origins.join(QStringLiteral(", ")), origin_problem(bad_origins.first())));
        origins_problem->setVisible(true);
    }

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &NetworkAccessDialog::take_choices);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    fit_group_titles(this);
}

void NetworkAccessDialog::allow_selected_origins()
{
    QStringList list = lines_of(origins);
    for (const QListWidgetItem *item : seen->selectedItems()) {
        if (!list.contains(item->text(), Qt::CaseInsensitive))
            list.append(item->text());
    }
    origins->setPlainText(list.join(QLatin1Char('\n')));
}

void NetworkAccessDialog::take_choices()
{
    // A list that does not say what was meant would lock out more, or less, than intended.
    QStringList invalid;
    parse_senders(lines_of(udp_senders), &invalid);
    udp_problem->setText(tr("Not an IPv4 address or subnet: %1").arg(invalid.join(QStringLiteral(", "))));
    udp_problem->setVisible(!invalid.isEmpty());
    const QStringList bad_origins = invalid_origins(lines_of(origins));
    origins_problem->setText(
        bad_origins.isEmpty() ? QString() : tr("%1: %2").arg(bad_origins.first(), origin_problem(bad_origins.first())));
    origins_problem->setVisible(!bad_origins.isEmpty());
    if (!invalid.isEmpty() || !bad_origins.isEmpty())
        return;
    chosen.listen_address = listen->currentData().toString();
    chosen.allowed_origins = lines_of(origins);
    chosen.allowed_udp_senders = lines_of(udp_senders);
    chosen.serve_panel = serve_panel->isChecked();
    if (no_password->isChecked()) {
        chosen.password_secret.clear();
        chosen.password_salt.clear();
    } else if (!password->text().isEmpty()) {
        chosen.password_salt = korvel::websocket::random_token();
        chosen.password_secret = korvel::websocket::password_secret(password->text(), chosen.password_salt);
    }
    accept();
}

} // namespace korvel::app
