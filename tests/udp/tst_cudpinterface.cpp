#include "emulator/emulateddevice.h"
#include "udp/cudpinterface.h"
#include "usb/cusbhid.h"
#include "usb/usbids.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <memory>
#include <optional>
#include <vector>

using emulator::EmulatedDevice;
using Subnets = QList<QPair<QHostAddress, int>>;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

const QByteArray keep_alive = bytes({0xA0, 0xA0, 0x4B, 0x41});
// A state report (type byte 0x41) and a level-meter report (type byte 0xF0), as the console sends them.
const QByteArray state_report = bytes({0x05, 0x41, 0x01, 0x02, 0x03});
const QByteArray metering_report = bytes({0x04, 0xF0, 0x10, 0x20});

QByteArray marked(const QByteArray &report)
{
    return bytes({0xA0, 0xA0}) + report;
}

// A UDP socket on a loopback address that keeps every datagram it receives, in arrival order.
class Peer {
public:
    explicit Peer(const QHostAddress &address = QHostAddress(QHostAddress::LocalHost))
    {
        socket.bind(address, 0);
        QObject::connect(&socket, &QUdpSocket::readyRead, [this] {
            while (socket.hasPendingDatagrams())
                received.append(socket.receiveDatagram());
        });
    }
    quint16 port() const { return socket.localPort(); }
    void send(const QByteArray &datagram, quint16 to, const QHostAddress &at = QHostAddress(QHostAddress::LocalHost))
    {
        socket.writeDatagram(datagram, at, to);
    }
    QList<QByteArray> payloads() const
    {
        QList<QByteArray> out;
        for (const QNetworkDatagram &d : received)
            out.append(d.data());
        return out;
    }

    QUdpSocket socket;
    QList<QNetworkDatagram> received;
};

} // namespace

class TestCUDPInterface : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void nothingIsSentBeforeAnyClient();
    void firstKeepAliveRegistersWithoutWriting();
    void reportsReachThePortsByType_data();
    void reportsReachThePortsByType();
    void reportsReadByTheLinkAreForwarded();
    void forwardedReportIsCopied();
    void sourcePortsOfOneAddressAreOneClient();
    void clientsAreServedInAddressOrder();
    void silentClientExpiresAtTheNextReport();
    void datagramRestartsTheClientTimer();
    void expiredClientRegistersAgain();
    void clientReportReachesTheConsole_data();
    void clientReportReachesTheConsole();
    void keepAliveWithTrailingBytesIsOnlyKeepAlive();
    void reportWhileLinkClosedRegistersOnly();
    void datagramWithoutMarkerIsIgnored_data();
    void datagramWithoutMarkerIsIgnored();
    void shortDatagramDoesNotHoldUpTheNext_data();
    void shortDatagramDoesNotHoldUpTheNext();
    void setRxPortRebindsAndKeepsClients();
    void setTxPortsDoesNotRebind();
    void portsUseTheirLow16Bits();
    void fullTableIgnoresNewAddresses_data();
    void fullTableIgnoresNewAddresses();
    void fullTableIsLoggedOncePerAddress();
    void ownReportsComingBackAreIgnored_data();
    void ownReportsComingBackAreIgnored();
    void datagramsAcceptedOrIgnored_data();
    void datagramsAcceptedOrIgnored();
    void parseSenderList_data();
    void parseSenderList();
    void listenAddress_data();
    void listenAddress();

private:
    // Registers the loopback client `peer` by a keep-alive and waits until the bridge has it.
    void register_client(Peer &peer);
    // Peers on 127.0.1.1 onwards, each registered by a keep-alive, until the table is full; none when those
    // addresses are not usable.
    void fill_table(std::vector<std::unique_ptr<Peer>> &peers);

    std::unique_ptr<CUSBHID> link;
    std::unique_ptr<CUDPInterface> bridge;
    std::unique_ptr<Peer> metering, configuration, custom;
    quint16 listen = 0;
};

void TestCUDPInterface::init()
{
    EmulatedDevice::instance().reset();
    link = std::make_unique<CUSBHID>(nullptr, korvel::usb::vendor_id, korvel::usb::product_id);
    bridge = std::make_unique<CUDPInterface>(link.get(), nullptr);
    bridge->setRxPort(0);
    listen = bridge->bound_port();
    QVERIFY(listen != 0);
    metering = std::make_unique<Peer>();
    configuration = std::make_unique<Peer>();
    custom = std::make_unique<Peer>();
    bridge->setTxPorts(metering->port(), configuration->port(), custom->port());
}

void TestCUDPInterface::cleanup()
{
    bridge.reset();
    link.reset();
    metering.reset();
    configuration.reset();
    custom.reset();
}

void TestCUDPInterface::register_client(Peer &peer)
{
    const int before = bridge->client_count();
    peer.send(keep_alive, listen);
    QTRY_COMPARE(bridge->client_count(), before + 1);
}

void TestCUDPInterface::nothingIsSentBeforeAnyClient()
{
    bridge->on_usb_data_ready(state_report);
    bridge->on_usb_data_ready(metering_report);

    // Loopback keeps the order, so a report sent after registering shows that nothing came before it.
    Peer client;
    register_client(client);
    const QByteArray later = bytes({0x03, 0x42, 0x07});
    bridge->on_usb_data_ready(later);
    QTRY_COMPARE(custom->received.size(), 1);
    QCOMPARE(metering->payloads(), QList<QByteArray>{marked(later)});
    QCOMPARE(configuration->payloads(), QList<QByteArray>{marked(later)});
    QCOMPARE(custom->payloads(), QList<QByteArray>{marked(later)});
}

void TestCUDPInterface::firstKeepAliveRegistersWithoutWriting()
{
    QCOMPARE(link->start(), 0);
    QSignalSpy clients(bridge.get(), &CUDPInterface::nClientsConnected);
    QSignalSpy tx(link.get(), &CUSBHID::TX);
    Peer client;

    client.send(keep_alive, listen);
    QTRY_COMPARE(clients.count(), 1);
    QCOMPARE(clients.at(0).at(0).toInt(), 1);

    client.send(keep_alive, listen);
    client.send(keep_alive, listen);
    // A report from the same client marks the point where both keep-alives have been handled.
    const QByteArray report = bytes({0x0A, 0x02, 0x01});
    client.send(marked(report), listen);
    QTRY_COMPARE(EmulatedDevice::instance().writes().size(), 1);
    QCOMPARE(EmulatedDevice::instance().writes().at(0), bytes({0x00}) + report);
    QCOMPARE(tx.count(), 1);
    QCOMPARE(clients.count(), 1);
    QCOMPARE(bridge->client_count(), 1);
}

void TestCUDPInterface::reportsReachThePortsByType_data()
{
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<bool>("to_all_ports");

    QTest::newRow("state report") << state_report << true;
    QTest::newRow("metering report") << metering_report << false;
    QTest::newRow("one byte") << bytes({0xF0}) << true;
    QTest::newRow("type 0xF1") << bytes({0x02, 0xF1}) << true;
    QTest::newRow("type 0xF0 with no payload") << bytes({0x02, 0xF0}) << false;
    QTest::newRow("128 bytes") << QByteArray(128, '\x41') << true;
}

void TestCUDPInterface::reportsReachThePortsByType()
{
    QFETCH(QByteArray, report);
    QFETCH(bool, to_all_ports);

    Peer client;
    register_client(client);
    bridge->on_usb_data_ready(report);
    // A state report afterwards: whatever the first report produced has arrived once this has.
    bridge->on_usb_data_ready(state_report);
    QTRY_COMPARE(metering->received.size(), 2);
    QTRY_VERIFY(!custom->received.isEmpty() && custom->received.last().data() == marked(state_report));
    QTRY_VERIFY(!configuration->received.isEmpty() && configuration->received.last().data() == marked(state_report));

    const QList<QByteArray> both{marked(report), marked(state_report)};
    const QList<QByteArray> last_only{marked(state_report)};
    QCOMPARE(metering->payloads(), both);
    QCOMPARE(configuration->payloads(), to_all_ports ? both : last_only);
    QCOMPARE(custom->payloads(), to_all_ports ? both : last_only);
    for (const QNetworkDatagram &d : metering->received + configuration->received + custom->received) {
        QCOMPARE(QHostAddress(d.senderAddress().toIPv4Address()), QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(d.senderPort(), int(listen));
    }
}

void TestCUDPInterface::reportsReadByTheLinkAreForwarded()
{
    // With one port for all three destinations the three copies of a report arrive in sending order.
    Peer all;
    bridge->setTxPorts(all.port(), all.port(), all.port());
    Peer client;
    register_client(client);
    QCOMPARE(link->start(), 0);

    EmulatedDevice::instance().queue_input(metering_report);
    EmulatedDevice::instance().queue_input(state_report);
    QTRY_COMPARE(all.received.size(), 4);
    const QList<QByteArray> expected{marked(metering_report), marked(state_report), marked(state_report),
                                     marked(state_report)};
    QCOMPARE(all.payloads(), expected);
}

void TestCUDPInterface::forwardedReportIsCopied()
{
    Peer client;
    register_client(client);
    QByteArray report = state_report;
    report.detach();
    bridge->on_usb_data_ready(report);
    QCOMPARE(report, state_report);
    QTRY_COMPARE(metering->payloads(), QList<QByteArray>{marked(state_report)});
}

void TestCUDPInterface::sourcePortsOfOneAddressAreOneClient()
{
    QSignalSpy clients(bridge.get(), &CUDPInterface::nClientsConnected);
    Peer first;
    Peer second;
    QVERIFY(first.port() != second.port());
    register_client(first);
    second.send(keep_alive, listen);
    // Loopback keeps the order: once a report from the first socket was handled, so was the second's keep-alive.
    QCOMPARE(link->start(), 0);
    first.send(marked(bytes({0x0A, 0x02})), listen);
    QTRY_COMPARE(EmulatedDevice::instance().writes().size(), 1);
    QCOMPARE(clients.count(), 1);
    QCOMPARE(bridge->client_count(), 1);

    // Reports go to the address at the destination ports, never to a source port.
    bridge->on_usb_data_ready(metering_report);
    QTRY_COMPARE(metering->received.size(), 1);
    QVERIFY(first.received.isEmpty());
    QVERIFY(second.received.isEmpty());
}

void TestCUDPInterface::clientsAreServedInAddressOrder()
{
    // All of 127.0.0.0/8 is loopback on Linux; three addresses give three clients. The destination sockets
    // listen on every address so that each client's copy arrives.
    Peer all(QHostAddress(QHostAddress::AnyIPv4));
    bridge->setTxPorts(all.port(), all.port(), all.port());
    QSignalSpy clients(bridge.get(), &CUDPInterface::nClientsConnected);

    Peer c3(QHostAddress(QStringLiteral("127.0.0.3")));
    Peer c10(QHostAddress(QStringLiteral("127.0.0.10")));
    Peer c2(QHostAddress(QStringLiteral("127.0.0.2")));
    if (c3.port() == 0 || c10.port() == 0 || c2.port() == 0)
        QSKIP("127.0.0.2, .3 and .10 are not usable loopback addresses here");
    register_client(c3);
    register_client(c10);
    register_client(c2);
    QCOMPARE(clients.count(), 3);
    QCOMPARE(clients.at(2).at(0).toInt(), 3);

    bridge->on_usb_data_ready(metering_report);
    QTRY_COMPARE(all.received.size(), 3);
    QStringList order;
    for (const QNetworkDatagram &d : all.received)
        order.append(QHostAddress(d.destinationAddress().toIPv4Address()).toString());
    // Ascending text order: "127.0.0.10" sorts before "127.0.0.2".
    QCOMPARE(order, (QStringList{"127.0.0.10", "127.0.0.2", "127.0.0.3"}));
}

void TestCUDPInterface::silentClientExpiresAtTheNextReport()
{
    QSignalSpy clients(bridge.get(), &CUDPInterface::nClientsConnected);
    Peer client;
    register_client(client);
    bridge->on_usb_data_ready(metering_report);
    QTRY_COMPARE(metering->received.size(), 1);

    // Make sure the client has been silent for longer than the timeout.
    QElapsedTimer silent;
    silent.start();
    bridge->set_client_timeout(20);
    QTRY_VERIFY(silent.elapsed() > 40);

    // Time alone does not drop the client; the next report does, and the client gets nothing of it.
    QCOMPARE(bridge->client_count(), 1);
    QCOMPARE(clients.count(), 1);
    bridge->on_usb_data_ready(state_report);
    QCOMPARE(bridge->client_count(), 0);
    QCOMPARE(clients.count(), 2);
    QCOMPARE(clients.at(1).at(0).toInt(), 0);

    // Nothing more is sent: a fresh client's report is the next datagram on each port.
    Peer other(QHostAddress(QHostAddress::LocalHost));
    bridge->set_client_timeout(CUDPInterface::default_client_timeout_ms);
    register_client(other);
    const QByteArray later = bytes({0x03, 0x42, 0x07});
    bridge->on_usb_data_ready(later);
    QTRY_COMPARE(custom->received.size(), 1);
    QCOMPARE(metering->payloads(), (QList<QByteArray>{marked(metering_report), marked(later)}));
    QCOMPARE(configuration->payloads(), QList<QByteArray>{marked(later)});
    QCOMPARE(custom->payloads(), QList<QByteArray>{marked(later)});
}

void TestCUDPInterface::datagramRestartsTheClientTimer()
{
    constexpr qint64 timeout = 250;
    bridge->set_client_timeout(timeout);
    QCOMPARE(link->start(), 0);
    Peer client;
    register_client(client);
    QElapsedTimer since_register;
    since_register.start();
    QTRY_VERIFY(since_register.elapsed() > timeout + 50);

    // A report from the client refreshes it like a keep-alive; its write shows when it was handled.
    client.send(marked(bytes({0x0A, 0x02})), listen);
    QTRY_COMPARE(EmulatedDevice::instance().writes().size(), 1);
    QElapsedTimer since_refresh;
    since_refresh.start();
    bridge->on_usb_data_ready(metering_report);
    if (since_refresh.elapsed() >= timeout)
        QSKIP("the machine stalled for longer than the timeout");
    QCOMPARE(bridge->client_count(), 1);
    QTRY_COMPARE(metering->payloads(), QList<QByteArray>{marked(metering_report)});
}

void TestCUDPInterface::expiredClientRegistersAgain()
{
    QSignalSpy clients(bridge.get(), &CUDPInterface::nClientsConnected);
    Peer client;
    register_client(client);
    bridge->set_client_timeout(0);
    QElapsedTimer wait;
    wait.start();
    QTRY_VERIFY(wait.elapsed() > 5);
    bridge->on_usb_data_ready(state_report);
    QCOMPARE(bridge->client_count(), 0);

    bridge->set_client_timeout(CUDPInterface::default_client_timeout_ms);
    register_client(client);
    QCOMPARE(clients.count(), 3);
    QCOMPARE(clients.at(0).at(0).toInt(), 1);
    QCOMPARE(clients.at(1).at(0).toInt(), 0);
    QCOMPARE(clients.at(2).at(0).toInt(), 1);
    bridge->on_usb_data_ready(metering_report);
    QTRY_COMPARE(metering->payloads(), QList<QByteArray>{marked(metering_report)});
}

void TestCUDPInterface::clientReportReachesTheConsole_data()
{
    QTest::addColumn<QByteArray>("report");

    QTest::newRow("10-byte output report") << bytes({0x0A, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    QTest::newRow("two bytes") << bytes({0x02, 0x03});
    QTest::newRow("marker-like payload") << bytes({0xA0, 0xA0, 0xA0});
    QTest::newRow("K then another letter") << bytes({0x4B, 0x42, 0x01});
}

void TestCUDPInterface::clientReportReachesTheConsole()
{
    QFETCH(QByteArray, report);

    QCOMPARE(link->start(), 0);
    QSignalSpy clients(bridge.get(), &CUDPInterface::nClientsConnected);
    QSignalSpy tx(link.get(), &CUSBHID::TX);
    Peer client;
    client.send(marked(report), listen);
    QTRY_COMPARE(EmulatedDevice::instance().writes().size(), 1);
    QCOMPARE(EmulatedDevice::instance().writes().at(0), bytes({0x00}) + report);
    QCOMPARE(EmulatedDevice::instance().writes().at(0).size(), report.size() + 1);
    QCOMPARE(tx.count(), 1);
    // Any valid datagram registers its sender.
    QCOMPARE(clients.count(), 1);
    QCOMPARE(bridge->client_count(), 1);
}

void TestCUDPInterface::keepAliveWithTrailingBytesIsOnlyKeepAlive()
{
    QCOMPARE(link->start(), 0);
    QSignalSpy clients(bridge.get(), &CUDPInterface::nClientsConnected);
    Peer client;
    client.send(keep_alive + bytes({0x01, 0x02, 0x03, 0x04, 0x05, 0x06}), listen);
    QTRY_COMPARE(clients.count(), 1);
    const QByteArray report = bytes({0x0A, 0x02});
    client.send(marked(report), listen);
    QTRY_COMPARE(EmulatedDevice::instance().writes().size(), 1);
    QCOMPARE(EmulatedDevice::instance().writes().at(0), bytes({0x00}) + report);
}

void TestCUDPInterface::reportWhileLinkClosedRegistersOnly()
{
    QSignalSpy clients(bridge.get(), &CUDPInterface::nClientsConnected);
    QSignalSpy tx(link.get(), &CUSBHID::TX);
    Peer client;
    client.send(marked(bytes({0x0A, 0x02, 0x01})), listen);
    QTRY_COMPARE(clients.count(), 1);
    QVERIFY(EmulatedDevice::instance().writes().isEmpty());
    QCOMPARE(tx.count(), 0);
}

void TestCUDPInterface::datagramWithoutMarkerIsIgnored_data()
{
    QTest::addColumn<QByteArray>("datagram");

    QTest::newRow("no marker") << bytes({0x0A, 0x02, 0x01, 0x00});
    QTest::newRow("first byte wrong") << bytes({0xA1, 0xA0, 0x4B, 0x41});
    QTest::newRow("second byte wrong") << bytes({0xA0, 0x0A, 0x0A, 0x02, 0x01});
}

void TestCUDPInterface::datagramWithoutMarkerIsIgnored()
{
    QFETCH(QByteArray, datagram);

    QCOMPARE(link->start(), 0);
    QSignalSpy clients(bridge.get(), &CUDPInterface::nClientsConnected);
    Peer stranger;
    Peer client(QHostAddress(QStringLiteral("127.0.0.2")));
    if (client.port() == 0)
        QSKIP("127.0.0.2 is not a usable loopback address here");
    stranger.send(datagram, listen);
    const QByteArray report = bytes({0x0A, 0x02});
    client.send(marked(report), listen);
    QTRY_COMPARE(EmulatedDevice::instance().writes().size(), 1);
    QCOMPARE(EmulatedDevice::instance().writes().at(0), bytes({0x00}) + report);
    QCOMPARE(clients.count(), 1);
    QCOMPARE(bridge->client_count(), 1);

    // Only the registered client receives reports.
    Peer all(QHostAddress(QHostAddress::AnyIPv4));
    bridge->setTxPorts(all.port(), all.port(), all.port());
    bridge->on_usb_data_ready(metering_report);
    QTRY_COMPARE(all.received.size(), 1);
    QCOMPARE(QHostAddress(all.received.at(0).destinationAddress().toIPv4Address()).toString(),
             QStringLiteral("127.0.0.2"));
}

void TestCUDPInterface::shortDatagramDoesNotHoldUpTheNext_data()
{
    QTest::addColumn<QByteArray>("datagram");

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one byte") << bytes({0xA0});
    QTest::newRow("marker only") << bytes({0xA0, 0xA0});
    QTest::newRow("marker and K") << bytes({0xA0, 0xA0, 0x4B});
}

void TestCUDPInterface::shortDatagramDoesNotHoldUpTheNext()
{
    QFETCH(QByteArray, datagram);

    QCOMPARE(link->start(), 0);
    QSignalSpy clients(bridge.get(), &CUDPInterface::nClientsConnected);
    Peer stranger(QHostAddress(QStringLiteral("127.0.0.2")));
    if (stranger.port() == 0)
        QSKIP("127.0.0.2 is not a usable loopback address here");
    Peer client;
    const QByteArray report = bytes({0x0A, 0x02, 0x05});
    stranger.send(datagram, listen);
    client.send(marked(report), listen);
    // Both datagrams wait in the bridge's socket (loopback delivers at once; the pause is only a margin).
    // One reading pass, with no event processed in between, must handle the valid one behind the short one.
    QTest::qSleep(20);
    bridge->on_udp_data_ready();
    QCOMPARE(clients.count(), 1);
    QCOMPARE(bridge->client_count(), 1);
    QCOMPARE(EmulatedDevice::instance().writes(), QList<QByteArray>{bytes({0x00}) + report});

    // The short datagram did not register its sender: only the client gets reports.
    Peer all(QHostAddress(QHostAddress::AnyIPv4));
    bridge->setTxPorts(all.port(), all.port(), all.port());
    bridge->on_usb_data_ready(metering_report);
    QTRY_COMPARE(all.received.size(), 1);
    QCOMPARE(QHostAddress(all.received.at(0).destinationAddress().toIPv4Address()).toString(),
             QStringLiteral("127.0.0.1"));
}

void TestCUDPInterface::setRxPortRebindsAndKeepsClients()
{
    Peer client;
    register_client(client);
    bridge->setRxPort(listen);
    QCOMPARE(bridge->bound_port(), listen);

    // A new port: the old one no longer receives, the client table stays.
    bridge->setRxPort(0);
    const quint16 moved = bridge->bound_port();
    QVERIFY(moved != 0);
    QCOMPARE(bridge->client_count(), 1);

    QCOMPARE(link->start(), 0);
    const QByteArray report = bytes({0x0A, 0x02, 0x09});
    client.send(marked(report), moved);
    QTRY_COMPARE(EmulatedDevice::instance().writes().size(), 1);
    QCOMPARE(EmulatedDevice::instance().writes().at(0), bytes({0x00}) + report);
    QCOMPARE(bridge->client_count(), 1);
}

void TestCUDPInterface::setTxPortsDoesNotRebind()
{
    bridge->setTxPorts(1, 2, 3);
    QCOMPARE(bridge->bound_port(), listen);
    QSignalSpy clients(bridge.get(), &CUDPInterface::nClientsConnected);
    Peer client;
    client.send(keep_alive, listen);
    QTRY_COMPARE(clients.count(), 1);
}

void TestCUDPInterface::portsUseTheirLow16Bits()
{
    bridge->setTxPorts(metering->port() + 0x10000, configuration->port() + 0x30000, custom->port() - 0x10000);
    Peer client;
    register_client(client);
    bridge->on_usb_data_ready(state_report);
    QTRY_COMPARE(custom->payloads(), QList<QByteArray>{marked(state_report)});
    QTRY_COMPARE(configuration->payloads(), QList<QByteArray>{marked(state_report)});
    QTRY_COMPARE(metering->payloads(), QList<QByteArray>{marked(state_report)});

    // The listen port too: find a free port, then bind it given with a high bit set.
    quint16 free_port = 0;
    {
        QUdpSocket probe;
        QVERIFY(probe.bind(QHostAddress::AnyIPv4, 0));
        free_port = probe.localPort();
    }
    bridge->setRxPort(free_port + 0x20000);
    QCOMPARE(bridge->bound_port(), free_port);
}

void TestCUDPInterface::fill_table(std::vector<std::unique_ptr<Peer>> &peers)
{
    for (int i = 1; i <= CUDPInterface::max_clients; ++i) {
        peers.push_back(std::make_unique<Peer>(QHostAddress(QStringLiteral("127.0.1.%1").arg(i))));
        if (peers.back()->port() == 0) {
            peers.clear();
            return;
        }
        peers.back()->send(keep_alive, listen);
    }
    QTRY_COMPARE(bridge->client_count(), CUDPInterface::max_clients);
}

void TestCUDPInterface::fullTableIgnoresNewAddresses_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<bool>("expire_first");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("new address") << "127.0.2.1" << false << false;
    QTest::newRow("registered address") << "127.0.1.7" << false << true;
    QTest::newRow("new address, the others expired") << "127.0.2.1" << true << true;
}

void TestCUDPInterface::fullTableIgnoresNewAddresses()
{
    QFETCH(QString, sender);
    QFETCH(bool, expire_first);
    QFETCH(bool, accepted);

    std::vector<std::unique_ptr<Peer>> peers;
    fill_table(peers);
    if (QTest::currentTestFailed())
        return;
    if (peers.empty())
        QSKIP("127.0.1.x is not usable loopback here");
    QCOMPARE(link->start(), 0);
    QSignalSpy clients(bridge.get(), &CUDPInterface::nClientsConnected);
    if (expire_first) {
        bridge->set_client_timeout(0);
        QTest::qSleep(5);
    }
    if (!accepted)
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable("UDP client table full (64 clients): ignoring datagrams from " + sender));

    Peer peer{QHostAddress(sender)};
    const QByteArray report = bytes({0x04, 0x05, 0x02, 0x01});
    peer.send(marked(report), listen);
    QTest::qSleep(20);
    bridge->on_udp_data_ready();
    const QList<QByteArray> written{bytes({0x00}) + report};
    QCOMPARE(EmulatedDevice::instance().writes(), accepted ? written : QList<QByteArray>{});
    // The expired clients go when the table is full and a new one asks, one signal each.
    QCOMPARE(bridge->client_count(), expire_first ? 1 : CUDPInterface::max_clients);
    QCOMPARE(clients.count(), expire_first ? CUDPInterface::max_clients + 1 : 0);
}

void TestCUDPInterface::fullTableIsLoggedOncePerAddress()
{
    std::vector<std::unique_ptr<Peer>> peers;
    fill_table(peers);
    if (QTest::currentTestFailed())
        return;
    if (peers.empty())
        QSKIP("127.0.1.x is not usable loopback here");
    QTest::ignoreMessage(QtWarningMsg, "UDP client table full (64 clients): ignoring datagrams from 127.0.2.1");
    QTest::failOnWarning(QRegularExpression("UDP client table full"));
    // The second address within the same second is not logged; the first address never again.
    for (const char *sender : {"127.0.2.1", "127.0.2.1", "127.0.2.2", "127.0.2.1"})
        bridge->handle_datagram(keep_alive, QHostAddress(QString::fromLatin1(sender)), 40000);
    QCOMPARE(bridge->client_count(), CUDPInterface::max_clients);

    QTest::ignoreMessage(QtWarningMsg, "UDP client table full (64 clients): ignoring datagrams from 127.0.2.2");
    QTest::qSleep(CUDPInterface::full_log_interval_ms + 10);
    bridge->handle_datagram(keep_alive, QHostAddress(QStringLiteral("127.0.2.1")), 40000);
    bridge->handle_datagram(keep_alive, QHostAddress(QStringLiteral("127.0.2.2")), 40000);
}

void TestCUDPInterface::ownReportsComingBackAreIgnored_data()
{
    QTest::addColumn<int>("port_of_listen");
    QTest::addColumn<QByteArray>("report");

    QTest::newRow("metering port") << 0 << metering_report;
    QTest::newRow("configuration port") << 1 << state_report;
    QTest::newRow("custom port") << 2 << state_report;
}

void TestCUDPInterface::ownReportsComingBackAreIgnored()
{
    QFETCH(int, port_of_listen);
    QFETCH(QByteArray, report);

    QList<int> ports{metering->port(), configuration->port(), custom->port()};
    ports[port_of_listen] = listen;
    bridge->setTxPorts(ports[0], ports[1], ports[2]);
    QCOMPARE(link->start(), 0);
    Peer client;
    register_client(client);

    // The report goes to 127.0.0.1 at the listen port, that is back to the bridge itself.
    bridge->on_usb_data_ready(report);
    const QByteArray command = bytes({0x04, 0x05, 0x00, 0x01});
    client.send(marked(command), listen);
    QTRY_COMPARE(EmulatedDevice::instance().writes().size(), 1);
    QTest::qSleep(20);
    bridge->on_udp_data_ready();
    QCOMPARE(EmulatedDevice::instance().writes(), QList<QByteArray>{bytes({0x00}) + command});
}

void TestCUDPInterface::datagramsAcceptedOrIgnored_data()
{
    QTest::addColumn<QString>("allowed");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("registers");
    QTest::addColumn<bool>("writes");

    const QByteArray report = marked(bytes({0x04, 0x05, 0x03, 0x01}));
    QTest::newRow("anyone") << ""
                            << "127.0.0.3" << report << true << true;
    QTest::newRow("the address") << "127.0.0.3"
                                 << "127.0.0.3" << report << true << true;
    QTest::newRow("another address") << "127.0.0.2"
                                     << "127.0.0.3" << report << false << false;
    QTest::newRow("in the subnet") << "127.0.0.0/30"
                                   << "127.0.0.3" << report << true << true;
    QTest::newRow("past the subnet") << "127.0.0.0/30"
                                     << "127.0.0.4" << keep_alive << false << false;
    QTest::newRow("second entry") << "10.0.0.5, 127.0.0.0/24"
                                  << "127.0.0.3" << keep_alive << true << false;
    // A stored list none of whose entries is valid lets nobody in (the application refuses every sender then).
    QTest::newRow("only invalid entries") << "studio-pc"
                                          << "127.0.0.3" << report << false << false;
    QTest::newRow("10-byte report") << ""
                                    << "127.0.0.3" << marked(QByteArray(10, '\x02')) << true << true;
    QTest::newRow("11-byte report") << ""
                                    << "127.0.0.3" << marked(QByteArray(11, '\x02')) << false << false;
    QTest::newRow("1400-byte report") << ""
                                      << "127.0.0.3" << marked(QByteArray(1400, '\x04')) << false << false;
    QTest::newRow("keep-alive and 200 bytes") << ""
                                              << "127.0.0.3" << keep_alive + QByteArray(200, '\x01') << true << false;
}

void TestCUDPInterface::datagramsAcceptedOrIgnored()
{
    QFETCH(QString, allowed);
    QFETCH(QString, sender);
    QFETCH(QByteArray, datagram);
    QFETCH(bool, registers);
    QFETCH(bool, writes);

    if (const std::optional<Subnets> subnets = CUDPInterface::parseSenderList(allowed))
        bridge->set_allowed_senders(*subnets);
    else
        bridge->refuse_all_senders();
    QCOMPARE(link->start(), 0);
    Peer peer{QHostAddress(sender)};
    if (peer.port() == 0)
        QSKIP("the sender's address is not usable loopback here");
    peer.send(datagram, listen);
    QTest::qSleep(20);
    bridge->on_udp_data_ready();
    QCOMPARE(bridge->client_count(), registers ? 1 : 0);
    const QList<QByteArray> written{bytes({0x00}) + datagram.mid(2)};
    QCOMPARE(EmulatedDevice::instance().writes(), writes ? written : QList<QByteArray>{});
}

void TestCUDPInterface::parseSenderList_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Subnets>("expected");
    QTest::addColumn<QString>("bad_entry");

    const QHostAddress a5(QStringLiteral("10.0.0.5"));
    const QHostAddress net(QStringLiteral("192.168.1.0"));
    QTest::newRow("address and subnet") << "10.0.0.5, 192.168.1.0/24" << Subnets{{a5, 32}, {net, 24}} << "";
    QTest::newRow("empty") << "" << Subnets{} << "";
    QTest::newRow("blanks only") << " \n " << Subnets{} << "";
    QTest::newRow("blanks and lines") << "10.0.0.5\n192.168.1.0/24 ," << Subnets{{a5, 32}, {net, 24}} << "";
    QTest::newRow("netmask") << "192.168.1.0/255.255.255.0" << Subnets{{net, 24}} << "";
    QTest::newRow("host bits set") << "192.168.1.77/24" << Subnets{{net, 24}} << "";
    QTest::newRow("every address") << "0.0.0.0/0" << Subnets{{QHostAddress(QStringLiteral("0.0.0.0")), 0}} << "";
    QTest::newRow("prefix too long") << "10.0.0.5/33" << Subnets{} << "10.0.0.5/33";
    QTest::newRow("number too large") << "10.0.0.5, 10.0.0.256" << Subnets{} << "10.0.0.256";
    QTest::newRow("short form") << "127.1" << Subnets{} << "127.1";
    QTest::newRow("hexadecimal") << "0x7f.0.0.1" << Subnets{} << "0x7f.0.0.1";
    QTest::newRow("other digits") << QStringLiteral("\u0661.0.0.5") << Subnets{} << QStringLiteral("\u0661.0.0.5");
    QTest::newRow("IPv6") << "::1" << Subnets{} << "::1";
    QTest::newRow("host name") << "localhost" << Subnets{} << "localhost";
    QTest::newRow("gaps in the netmask") << "192.168.1.0/255.0.255.0" << Subnets{} << "192.168.1.0/255.0.255.0";
    QTest::newRow("semicolon") << "10.0.0.5;10.0.0.6" << Subnets{} << "10.0.0.5;10.0.0.6";
    QTest::newRow("slash alone") << "10.0.0.5/" << Subnets{} << "10.0.0.5/";
}

void TestCUDPInterface::parseSenderList()
{
    QFETCH(QString, text);
    QFETCH(Subnets, expected);
    QFETCH(QString, bad_entry);

    QString error = QStringLiteral("stale");
    const std::optional<Subnets> parsed = CUDPInterface::parseSenderList(text, &error);
    QCOMPARE(parsed.has_value(), bad_entry.isEmpty());
    if (parsed)
        QCOMPARE(*parsed, expected);
    QCOMPARE(error, bad_entry.isEmpty() ? QString()
                                        : QStringLiteral("\"%1\" is not an IPv4 address or subnet (for example "
                                                         "192.168.1.20 or 192.168.1.0/24)")
                                              .arg(bad_entry));
}

void TestCUDPInterface::listenAddress_data()
{
    QTest::addColumn<QString>("listen_address");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<bool>("received");

    QTest::newRow("every interface, 127.0.0.1") << "0.0.0.0"
                                                << "127.0.0.1" << true;
    QTest::newRow("every interface, 127.0.0.2") << "0.0.0.0"
                                                << "127.0.0.2" << true;
    QTest::newRow("127.0.0.1 only, 127.0.0.1") << "127.0.0.1"
                                               << "127.0.0.1" << true;
    QTest::newRow("127.0.0.1 only, 127.0.0.2") << "127.0.0.1"
                                               << "127.0.0.2" << false;
    QTest::newRow("127.0.0.2 only, 127.0.0.1") << "127.0.0.2"
                                               << "127.0.0.1" << false;
}

void TestCUDPInterface::listenAddress()
{
    QFETCH(QString, listen_address);
    QFETCH(QString, destination);
    QFETCH(bool, received);

    // Not bound before the first setRxPort.
    CUDPInterface fresh(link.get(), nullptr);
    fresh.set_listen_address(QHostAddress(listen_address));
    QCOMPARE(fresh.bound_port(), quint16(0));

    // Bound: the address applies at once, at the same port (given, rather than the system's choice for 0).
    bridge->setRxPort(listen);
    bridge->set_listen_address(QHostAddress(listen_address));
    QCOMPARE(bridge->bound_port(), listen);
    Peer client;
    client.send(keep_alive, listen, QHostAddress(destination));
    QTest::qSleep(20);
    bridge->on_udp_data_ready();
    QCOMPARE(bridge->client_count(), received ? 1 : 0);
}

QTEST_GUILESS_MAIN(TestCUDPInterface)
#include "tst_cudpinterface.moc"
