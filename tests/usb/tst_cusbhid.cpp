#include "emulator/emulateddevice.h"
#include "usb/cusbhid.h"
#include "usb/usbids.h"

#include <QSignalSpy>
#include <QTest>

using emulator::EmulatedDevice;

class TestCUSBHID : public QObject {
    Q_OBJECT

private slots:
    void init() { EmulatedDevice::instance().reset(); }

    void startOpensAndStopCloses()
    {
        CUSBHID link(nullptr, korvel::usb::vendor_id, korvel::usb::product_id);
        QSignalSpy connected(&link, &CUSBHID::connected);
        QSignalSpy disconnected(&link, &CUSBHID::disconnected);
        QCOMPARE(link.start(), 0);
        QCOMPARE(connected.count(), 1);
        QVERIFY(link.is_connected());
        QCOMPARE(link.start(), -1);
        QCOMPARE(connected.count(), 1);
        QCOMPARE(link.stop(), 0);
        QCOMPARE(disconnected.count(), 1);
        QCOMPARE(link.stop(), -1);
        QCOMPARE(EmulatedDevice::instance().exit_count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestCUSBHID)
#include "tst_cusbhid.moc"
