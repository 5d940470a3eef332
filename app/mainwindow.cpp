#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include "app/mqttservice.h"
#include "app/networkaccess.h"
#include "app/trayicons.h"
#include "app/traytitle.h"
#include "console/ckorvel.h"
#include "udp/cudpinterface.h"
#include "usb/cusbhid.h"
#include "usb/usbids.h"
#include "websocket/cwebsocketinterface.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

const QString style_closed = QStringLiteral("color: rgb(255, 0, 0);");
const QString style_open = QStringLiteral("color: rgb(20, 180, 0);");
// The counters change with every report, up to a thousand times a second; a person reads them a few times a
// second, and relaying out the labels on every report costs a shown window more than the reports themselves.
constexpr int counter_repaint_ms = 100;

// The inner group boxes and everything in them use a thin font. uic 6.4 drops the form's font weight, so it
// is applied here. The boxes' children already exist by now, and under the window's style sheet a font set
// on a parent no longer reaches existing children, so each gets it directly.
void apply_thin_fonts(Ui::MainWindow *ui)
{
    QFont thin;
    thin.setBold(false);
    thin.setWeight(QFont::Thin);
    for (QWidget *box :
         std::initializer_list<QWidget *>{ui->groupBox_4, ui->groupBox_7, ui->groupBox_8, ui->groupBox_6}) {
        box->setFont(thin);
        for (QWidget *child : box->findChildren<QWidget *>())
            child->setFont(thin);
    }
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : MainWindow(AppIdentity::korvel_control(), parent)
{}

MainWindow::MainWindow(const AppIdentity &identity, QWidget *parent)
    : QMainWindow(parent)
    , identity(identity)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    apply_thin_fonts(ui);

    adjustSize();
    setFixedSize(size());
    form_size = size();

    QCoreApplication::setOrganizationName(identity.organization);
    QCoreApplication::setOrganizationDomain(QStringLiteral("velmora.com"));
    QCoreApplication::setApplicationName(identity.application);

    // The build's own version, from the project's.
    setWindowTitle(identity.titled(
        tr("Korvel Control v%1.%2.%3").arg(KORVEL_VERSION_MAJOR).arg(KORVEL_VERSION_MINOR).arg(KORVEL_VERSION_PATCH)));
    // Task switchers and every dialog show it; the emulated application's carries its mark.
    setWindowIcon(korvel::app::link_icon(false, identity.on_emulator));
    QGuiApplication::setWindowIcon(windowIcon());

    closing = false;
    tx = 0;
    rx = 0;
    counter_repaint = new QTimer(this);
    counter_repaint->setSingleShot(true);
    counter_repaint->setInterval(counter_repaint_ms);
    connect(counter_repaint, &QTimer::timeout, this, &MainWindow::show_counts);

    // Creation order is the order in which the components' slots run on one signal of the link: the console
    // object decodes (and sends its start-up requests) first, then the bridge and the server, then the window.
    usb = new CUSBHID(this, korvel::usb::vendor_id, korvel::usb::product_id);
    korvel = new CKorvel(usb, this);
    udp = new CUDPInterface(usb, this);
    websocket = new CWebSocketInterface(korvel, this);
    watch_ports();

    connect(ui->lineEdit_METERING, &QLineEdit::editingFinished, this, &MainWindow::setUdpPorts);
    connect(ui->lineEdit_CONFIGURATION, &QLineEdit::editingFinished, this, &MainWindow::setUdpPorts);
    connect(ui->lineEdit_CUSTOM, &QLineEdit::editingFinished, this, &MainWindow::setUdpPorts);
    connect(ui->lineEdit_LISTEN, &QLineEdit::editingFinished, this, &MainWindow::setUdpPorts);
    connect(ui->lineEdit_websocket_port, &QLineEdit::editingFinished, this, &MainWindow::setWebSocketPort);
    connect(ui->START, &QPushButton::clicked, usb, qOverload<>(&CUSBHID::start));
    connect(ui->STOP, &QPushButton::clicked, usb, &CUSBHID::stop);
    connect(usb, &CUSBHID::connected, this, &MainWindow::on_connected);
    connect(usb, &CUSBHID::disconnected, this, &MainWindow::on_disconnected);
    connect(usb, &CUSBHID::RX, this, &MainWindow::on_RX);
    connect(usb, &CUSBHID::TX, this, &MainWindow::on_TX);
    connect(udp, &CUDPInterface::nClientsConnected, this, &MainWindow::on_clients_udp);
    connect(websocket, &CWebSocketInterface::connected_clients, this, &MainWindow::on_clients_ws);

    trayIconMenu = new QMenu(tr("MyMenu"), this);
    QAction *quit = trayIconMenu->addAction(tr("Quit"));
    connect(quit, &QAction::triggered, this, &MainWindow::close_exit);
    QAction *settings = trayIconMenu->addAction(tr("Settings"));
    connect(settings, &QAction::triggered, this, &QWidget::show);
    trayIconMenu->addSeparator();
    add_tray_actions();

    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setIcon(korvel::app::link_icon(false, identity.on_emulator));
    korvel::app::set_tray_title(trayIcon, identity.titled(tr("Korvel Control")));
    trayIcon->setToolTip(korvel::app::tray_title(trayIcon));
    trayIcon->setContextMenu(trayIconMenu);
    // A left click on the tray icon opens the window, as on most desktops.
    connect(trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            show_settings();
    });
    trayIcon->setVisible(true);
    add_window_actions();
    korvel::app::install_network_access(this, trayIconMenu, trayIcon, websocket, udp);
    mqtt = korvel::app::install_mqtt(this, trayIconMenu, trayIcon, *korvel, identity);
    hide_window_only_shortcuts();
    watch_link();

    setup_port_fields();
    readSettings();
}

MainWindow::~MainWindow()
{
    writeSettings();
    // The children outlive the form by a little while (the base destroys them) and may still signal: hiding a
    // shown window ends the editing of a focused port field, for one. None of that may reach a slot here.
    for (QObject *child : findChildren<QObject *>())
        disconnect(child, nullptr, this, nullptr);
    delete ui;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    writeSettings();
    if (closing) {
        event->accept();
    } else {
        // The application lives in the tray: the close button only hides the window. Without a tray to come
        // back from, it is minimised instead.
        event->ignore();
        if (tray_missing)
            showMinimized();
        else
            hide();
    }
}

void MainWindow::close_exit()
{
    closing = true;
    // Quit-on-last-window-closed only fires for a visible window; "Quit" usually comes while the window is
    // hidden in the tray, so end the loop here once the close went through.
    if (close() && QGuiApplication::quitOnLastWindowClosed())
        QCoreApplication::quit();
}

void MainWindow::on_clients_udp(int nClients)
{
    ui->clients_udp->setText(QString::number(nClients));
}

void MainWindow::on_clients_ws(int nClients)
{
    ui->clients_ws->setText(QString::number(nClients));
}

void MainWindow::on_connected()
{
    trayIcon->showMessage(korvel::app::tray_title(trayIcon), tr("Running"), QSystemTrayIcon::Information,
                          korvel::app::tray_message_ms);
    trayIcon->setIcon(korvel::app::link_icon(true, identity.on_emulator));
    ui->label_status_connection->setText(tr("running"));
    ui->label_status_connection->setStyleSheet(style_open);
    // The start-up requests went out before this: shown at once with the new state.
    show_counts();
}

void MainWindow::on_disconnected()
{
    trayIcon->showMessage(korvel::app::tray_title(trayIcon), tr("Stopped"), QSystemTrayIcon::Information,
                          korvel::app::tray_message_ms);
    trayIcon->setIcon(korvel::app::link_icon(false, identity.on_emulator));
    ui->label_status_connection->setText(tr("stopped"));
    ui->label_status_connection->setStyleSheet(style_closed);
    tx = 0;
    rx = 0;
    show_counts();
}

void MainWindow::on_RX()
{
    ++rx;
    schedule_counts();
}

void MainWindow::on_TX()
{
    ++tx;
    schedule_counts();
}

void MainWindow::schedule_counts()
{
    if (!counter_repaint->isActive())
        counter_repaint->start();
}

void MainWindow::show_counts()
{
    counter_repaint->stop();
    // setText relays the label out even when the text is the same; only a change is worth that.
    const QString rx_text = QString::number(rx);
    const QString tx_text = QString::number(tx);
    if (ui->rx->text() != rx_text)
        ui->rx->setText(rx_text);
    if (ui->tx->text() != tx_text)
        ui->tx->setText(tx_text);
}
