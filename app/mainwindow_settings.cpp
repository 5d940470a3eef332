// Settings: the ports, the use-default switches and auto-connect, kept across runs and applied at once.
#include "app/mainwindow.h"

#include "usb/cusbhid.h"

// TODO(settings): implement.
void MainWindow::setup_port_fields() {}
void MainWindow::readSettings() { usb->set_auto_connect(true); }
void MainWindow::writeSettings() {}
void MainWindow::on_checkBox_use_defaults_clicked() {}
void MainWindow::on_checkBox_auto_connect_clicked() {}
void MainWindow::on_checkBox_use_defaults_ws_clicked() {}
void MainWindow::setUdpPorts() {}
void MainWindow::setWebSocketPort() {}
