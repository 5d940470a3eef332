#include "udp/cudpinterface.h"

#include "usb/cusbhid.h"

#include <QUdpSocket>

// TODO(udp): implement.
CUDPInterface::CUDPInterface(CUSBHID *usb, QObject *parent)
    : QObject(parent)
    , usb(usb)
    , socket(new QUdpSocket(this))
{
}

void CUDPInterface::setRxPort(int port) { listen_port = port; }
void CUDPInterface::setTxPorts(int metering, int configuration, int custom)
{
    metering_port = metering;
    configuration_port = configuration;
    custom_port = custom;
}
quint16 CUDPInterface::bound_port() const { return socket->localPort(); }
void CUDPInterface::on_usb_data_ready(QByteArray) {}
void CUDPInterface::on_udp_data_ready() {}
