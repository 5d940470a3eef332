// Frames written straight to the clients' TCP sockets: the frame bytes, and that a QWebSocket client receives
// exactly the texts, each as its own message, in order, whatever their size and path.
#include "emulator/emulateddevice.h"
#include "usb/cusbhid.h"
#include "websocket/cwebsocketinterface.h"
#include "websocket/framewriter.h"
#include "wstestclient.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using emulator::EmulatedDevice;
using korvel::websocket::text_frame;

namespace {
constexpr int wait_ms = 10000;

QJsonObject message_of_size(int filler)
{
    return QJsonObject{{"data", QString(filler, QLatin1Char('x'))}, {"msg", "size_test"}};
}

QString text_of(const QJsonObject &message)
{
    return QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Indented));
}
} // namespace

class TestFrameWriter : public QObject {
    Q_OBJECT

private slots:
    void init() { EmulatedDevice::instance().reset(); }

    void frameHeader_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("header");
        QTest::newRow("empty") << 0 << QByteArray::fromHex("8100");
        QTest::newRow("125, one length byte") << 125 << QByteArray::fromHex("817d");
        QTest::newRow("126, 16-bit length") << 126 << QByteArray::fromHex("817e007e");
        QTest::newRow("65535, 16-bit length") << 65535 << QByteArray::fromHex("817effff");
        QTest::newRow("65536, 64-bit length") << 65536 << QByteArray::fromHex("817f0000000000010000");
    }

    void frameHeader()
    {
        QFETCH(int, size);
        QFETCH(QByteArray, header);
        const QByteArray payload(size, 'p');
        const QByteArray frame = text_frame(payload);
        QCOMPARE(frame.left(header.size()), header);
        QCOMPARE(frame.mid(header.size()), payload);
    }

    void writeFrameQueuesBehindBufferedBytes()
    {
        // A frame written while earlier bytes still wait in the socket's buffer goes after them.
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        QTcpSocket sender;
        sender.connectToHost(QHostAddress::LocalHost, listener.serverPort());
        QVERIFY(sender.waitForConnected(wait_ms));
        QVERIFY(listener.waitForNewConnection(wait_ms));
        QTcpSocket *receiver = listener.nextPendingConnection();

        sender.write("first ");
        QVERIFY(sender.bytesToWrite() > 0);
        QVERIFY(korvel::websocket::write_frame(sender, "second"));
        QTRY_COMPARE_WITH_TIMEOUT(receiver->bytesAvailable(), qint64(12), wait_ms);
        QCOMPARE(receiver->readAll(), QByteArray("first second"));
    }

    void writeFrameRefusesAnUnconnectedSocket()
    {
        QTcpSocket socket;
        QVERIFY(!korvel::websocket::write_frame(socket, "frame"));
    }

    void clientsReceiveEveryTextInOrder()
    {
        WsRig rig;
        WsTestClient a;
        WsTestClient b;
        QVERIFY(a.open(rig.port()));
        QVERIFY(b.open(rig.port()));
        QTRY_COMPARE_WITH_TIMEOUT(rig.ws->client_count(), 2, wait_ms);

        // Sizes around the length encodings and one above the frame size QWebSocket sends in one piece, all
        // within one pass of the event loop.
        const int big = int(a.socket.outgoingFrameSize()) + 1000;
        QStringList expected;
        for (const int filler : {0, 60, 126, 70000, big, 10}) {
            const QJsonObject message = message_of_size(filler);
            expected.append(text_of(message));
            rig.ws->sendJSON(message, QString(), nullptr);
        }
        QVERIFY(sync_clients(*rig.ws, {&a, &b}));
        QCOMPARE(a.take(), expected);
        QCOMPARE(b.take(), expected);
    }

    void aReplyFollowsTheNotificationsBeforeIt()
    {
        WsRig rig;
        rig.link->start();
        WsTestClient a;
        QVERIFY(a.open(rig.port()));
        QTRY_COMPARE_WITH_TIMEOUT(rig.ws->client_count(), 1, wait_ms);
        a.take();

        const QJsonObject notice{{"data", "first"}, {"msg", "order_test"}};
        rig.ws->sendJSON(notice, QString(), nullptr);
        a.send(QStringLiteral("{\"msg\":\"get_topics\"}"));
        QTRY_COMPARE_WITH_TIMEOUT(a.texts.size(), 2, wait_ms);
        QCOMPARE(a.texts.at(0), text_of(notice));
        QCOMPARE(a.texts.at(1),
                 QStringLiteral("{\n    \"data\": [\n        \"metering\"\n    ],\n    \"msg\": \"topics\"\n}\n"));
    }

    void aClientGoneBeforeItsFramesLeaveIsSkipped()
    {
        WsRig rig;
        WsTestClient a;
        WsTestClient b;
        QVERIFY(a.open(rig.port()));
        QVERIFY(b.open(rig.port()));
        QTRY_COMPARE_WITH_TIMEOUT(rig.ws->client_count(), 2, wait_ms);

        const QJsonObject message{{"data", 1}, {"msg", "gone_test"}};
        rig.ws->sendJSON(message, QString(), nullptr);
        // a's connection object is released before the frames leave.
        a.socket.abort();
        QTRY_COMPARE_WITH_TIMEOUT(rig.ws->client_count(), 1, wait_ms);
        QVERIFY(sync_clients(*rig.ws, {&b}));
        QCOMPARE(b.take(), QStringList{text_of(message)});
    }
};

QTEST_MAIN(TestFrameWriter)
#include "tst_framewriter.moc"
