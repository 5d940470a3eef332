#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include "console/ckorvel.h"
#include "udp/cudpinterface.h"
#include "usb/cusbhid.h"
#include "usb/usbids.h"
#include "websocket/cwebsocketinterface.h"

#include <QCloseEvent>
#include <QMenu>
#include <QSystemTrayIcon>

// TODO(app): the full window.
MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    usb = new CUSBHID(this, korvel::usb::vendor_id, korvel::usb::product_id);
    korvel = new CKorvel(usb, this);
    udp = new CUDPInterface(usb, this);
    websocket = new CWebSocketInterface(korvel, this);
    setup_port_fields();
    readSettings();
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::closeEvent(QCloseEvent *event) { QMainWindow::closeEvent(event); }
void MainWindow::close_exit() { closing = true; close(); }
void MainWindow::on_clients_udp(int) {}
void MainWindow::on_clients_ws(int) {}
void MainWindow::on_connected() {}
void MainWindow::on_disconnected() {}
void MainWindow::on_RX() { ++rx; }
void MainWindow::on_TX() { ++tx; }
