// The application's USB link and console object on the emulated console.
#include "console/ckorvel.h"
#include "emulator/consolemodel.h"
#include "emulator/emulateddevice.h"
#include "usb/cusbhid.h"
#include "usb/usbids.h"

#include <QSignalSpy>
#include <QTest>

#include <hidapi.h>

#include <algorithm>
#include <iterator>
#include <memory>

using emulator::ConsoleModel;
using emulator::EmulatedDevice;

class TestEmulatedConsoleLink : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ConsoleModel> model;
    std::unique_ptr<CUSBHID> link;
    std::unique_ptr<CKorvel> korvel;

    // Reads until the console has nothing more to say.
    void drain()
    {
        for (int i = 0; i < 1000 && EmulatedDevice::instance().pending_input() > 0; ++i)
            link->hid_read_timer();
        QCOMPARE(EmulatedDevice::instance().pending_input(), 0);
    }

private slots:
    void init()
    {
        EmulatedDevice::instance().reset();
        model = std::make_unique<ConsoleModel>();
        EmulatedDevice::instance().set_model(model.get());
        link = std::make_unique<CUSBHID>(nullptr, korvel::usb::vendor_id, korvel::usb::product_id);
        korvel = std::make_unique<CKorvel>(link.get(), nullptr);
    }

    void cleanup()
    {
        korvel.reset();
        link.reset();
        model.reset();
    }

    void startUpFillsTheCacheWithEveryItem()
    {
        QCOMPARE(link->start(), 0);
        drain();
        QList<unsigned char> expected = {0x01, 0x02, 0x03, 0x04, 0x0B, 0x0C, 0x0D, 0x2D, 0x2E, 0x31, 0x32, 0x33};
        for (unsigned char id = 0x11; id <= 0x1F; ++id)
            expected.append(id);
        for (unsigned char id = 0x20; id <= 0x2C; ++id)
            expected.append(id);
        QCOMPARE(expected.size(), 40);
        for (const unsigned char id : expected)
            QVERIFY2(!korvel->report_cache().value(id).isEmpty(), QByteArray::number(id, 16).constData());
        QCOMPARE(korvel->report_cache().value(0x01), QByteArray::fromHex("01040C"));
        QCOMPARE(korvel->report_cache().value(0x20).size(), 8);
    }

    void commandComesBackAsStateReport()
    {
        QCOMPARE(link->start(), 0);
        drain();
        korvel->on(2, 1);
        drain();
        QCOMPARE(korvel->report_cache().value(0x20), QByteArray::fromHex("0000010000000000"));
        QVERIFY(model->is_on(2));
    }

    void personOnTheConsoleReachesTheCache()
    {
        QCOMPARE(link->start(), 0);
        drain();
        model->move_fader(6, true);
        drain();
        QCOMPARE(korvel->report_cache().value(0x22), QByteArray::fromHex("0000000000000100"));
    }

    void unplugClosesAndReplugReconnects()
    {
        QSignalSpy connected(link.get(), &CUSBHID::connected);
        QSignalSpy disconnected(link.get(), &CUSBHID::disconnected);
        link->set_auto_connect(true);
        QTRY_COMPARE(connected.count(), 1);
        drain();
        model->unplug();
        QTRY_COMPARE(disconnected.count(), 1);
        QVERIFY(korvel->report_cache().isEmpty());
        model->replug();
        QTRY_COMPARE(connected.count(), 2);
        QTRY_VERIFY(!korvel->report_cache().value(0x33).isEmpty());
    }

    // A caller's buffer of maxlen characters receives at most maxlen - 1 of them and always a terminator.
    void deviceStringsFitTheBuffer_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<int>("maxlen");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("result");
        QTest::newRow("manufacturer") << 0 << 32 << "Velmora" << 0;
        QTest::newRow("manufacturer, exact fit") << 0 << 8 << "Velmora" << 0;
        QTest::newRow("manufacturer, one short") << 0 << 7 << "Velmor" << 0;
        QTest::newRow("product, cut") << 1 << 5 << "Korv" << 0;
        QTest::newRow("product, one character") << 1 << 1 << "" << 0;
        QTest::newRow("serial number") << 2 << 4 << "" << 0;
        QTest::newRow("no room") << 1 << 0 << "" << -1;
    }

    void deviceStringsFitTheBuffer()
    {
        QFETCH(int, which);
        QFETCH(int, maxlen);
        QFETCH(QString, expected);
        QFETCH(int, result);
        hid_device *device = hid_open(korvel::usb::vendor_id, korvel::usb::product_id, nullptr);
        QVERIFY(device);
        wchar_t buffer[40];
        std::fill(std::begin(buffer), std::end(buffer), L'#');
        const auto size = static_cast<size_t>(maxlen);
        const int got = which == 0   ? hid_get_manufacturer_string(device, buffer, size)
                        : which == 1 ? hid_get_product_string(device, buffer, size)
                                     : hid_get_serial_number_string(device, buffer, size);
        hid_close(device);
        QCOMPARE(got, result);
        if (maxlen == 0) {
            QCOMPARE(buffer[0], L'#');
            return;
        }
        const wchar_t *end = std::find(buffer, buffer + maxlen, L'\0');
        QVERIFY2(end != buffer + maxlen, "not terminated inside the buffer");
        QCOMPARE(QString::fromWCharArray(buffer, static_cast<int>(end - buffer)), expected);
        QCOMPARE(buffer[maxlen], L'#'); // nothing written past the buffer
    }
};

QTEST_GUILESS_MAIN(TestEmulatedConsoleLink)
#include "tst_emulatedconsole_link.moc"
