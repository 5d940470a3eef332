#include "emulator/emulateddevice.h"
#include "usb/cusbhid.h"
#include "usb/openproblem.h"
#include "usb/usbids.h"

#include <QSignalSpy>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <algorithm>

using emulator::EmulatedDevice;

namespace {

constexpr int vid = korvel::usb::vendor_id;
constexpr int pid = korvel::usb::product_id;

EmulatedDevice &dev()
{
    return EmulatedDevice::instance();
}

QByteArray report(int length, char seed)
{
    QByteArray bytes(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        bytes[i] = static_cast<char>(seed + i);
    return bytes;
}

// Records every signal of a link as one line each, in the order they were emitted.
class SignalLog : public QObject {
public:
    explicit SignalLog(CUSBHID *link)
    {
        connect(link, &CUSBHID::connected, this, [this] { lines << "connected"; });
        connect(link, &CUSBHID::disconnected, this, [this] { lines << "disconnected"; });
        connect(link, &CUSBHID::data_ready, this, [this](const QByteArray &d) { lines << "data " + d.toHex(); });
        connect(link, &CUSBHID::RX, this, [this] { lines << "RX"; });
        connect(link, &CUSBHID::TX, this, [this] { lines << "TX"; });
    }
    QStringList lines;
};

// Makes the read after a given number of reads fail, as if the console were unplugged mid-burst.
class FailAfterReads : public emulator::DeviceModel {
public:
    explicit FailAfterReads(int reads)
        : good_reads(reads)
    {}
    void output_report(const QByteArray &, EmulatedDevice &) override {}
    void before_read(EmulatedDevice &device) override
    {
        if (++seen == good_reads)
            device.fail_next_read();
    }

private:
    int good_reads;
    int seen = 0;
};

// The link's two timers are told apart by their period, which they only have once started.
bool read_timer_running(CUSBHID &link)
{
    const auto timers = link.findChildren<QTimer *>();
    return std::any_of(timers.begin(), timers.end(), [](QTimer *t) {
        return t->isActive() && !t->isSingleShot() && t->interval() == CUSBHID::poll_interval_ms;
    });
}

bool auto_connect_timer_running(CUSBHID &link)
{
    const auto timers = link.findChildren<QTimer *>();
    return std::any_of(timers.begin(), timers.end(), [](QTimer *t) {
        return t->isActive() && !t->isSingleShot() && t->interval() == CUSBHID::auto_connect_interval_ms;
    });
}

} // namespace

class TestCUSBHID : public QObject {
    Q_OBJECT

private slots:
    void init() { dev().reset(); }

    void constructedClosedWithIdleTimers()
    {
        CUSBHID link(nullptr, vid, pid);
        QVERIFY(!link.is_connected());
        QVERIFY(!link.is_auto_connect());
        const auto timers = link.findChildren<QTimer *>();
        QCOMPARE(timers.size(), 2);
        for (QTimer *timer : timers)
            QVERIFY(!timer->isActive());
        QCOMPARE(dev().open_count() + dev().failed_open_count(), 0);
    }

    // start() and stop() in each state: result, signals, and the state afterwards.
    void startStop_data()
    {
        QTest::addColumn<bool>("open_before");
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("signals_emitted");
        QTest::addColumn<bool>("open_after");

        QTest::newRow("start closed, present") << false << true << "start" << 0 << QStringList{"connected"} << true;
        QTest::newRow("start closed, absent") << false << false << "start" << -1 << QStringList{} << false;
        QTest::newRow("start open") << true << true << "start" << -1 << QStringList{} << true;
        QTest::newRow("start(ids) closed, present")
            << false << true << "start_ids" << 0 << QStringList{"connected"} << true;
        QTest::newRow("start(ids) closed, absent") << false << false << "start_ids" << -1 << QStringList{} << false;
        QTest::newRow("start(ids) open") << true << true << "start_ids" << -1 << QStringList{} << true;
        QTest::newRow("stop open") << true << true << "stop" << 0 << QStringList{"disconnected"} << false;
        QTest::newRow("stop closed") << false << true << "stop" << -1 << QStringList{} << false;
    }

    void startStop()
    {
        QFETCH(bool, open_before);
        QFETCH(bool, present);
        QFETCH(QString, operation);
        QFETCH(int, result);
        QFETCH(QStringList, signals_emitted);
        QFETCH(bool, open_after);

        CUSBHID link(nullptr, vid, pid);
        if (open_before)
            QCOMPARE(link.start(), 0);
        dev().set_present(present);
        SignalLog log(&link);

        int actual = 0;
        if (operation == "start")
            actual = link.start();
        else if (operation == "start_ids")
            actual = link.start(vid, pid);
        else
            actual = link.stop();

        QCOMPARE(actual, result);
        QCOMPARE(log.lines, signals_emitted);
        QCOMPARE(link.is_connected(), open_after);
        QCOMPARE(dev().is_open(), open_after);
        QCOMPARE(read_timer_running(link), open_after);
    }

    void openSwitchesToNonBlockingReads()
    {
        CUSBHID link(nullptr, vid, pid);
        QVERIFY(!dev().nonblocking());
        QCOMPARE(link.start(), 0);
        QVERIFY(dev().nonblocking());
        QCOMPARE(dev().last_vendor_id(), vid);
        QCOMPARE(dev().last_product_id(), pid);
        QCOMPARE(dev().init_count(), 0);
    }

    void readTimerRunsExactlyWhileOpen()
    {
        CUSBHID link(nullptr, vid, pid);
        bool running_at_connected = false;
        bool running_at_disconnected = true;
        connect(&link, &CUSBHID::connected, this, [&] { running_at_connected = read_timer_running(link); });
        connect(&link, &CUSBHID::disconnected, this, [&] { running_at_disconnected = read_timer_running(link); });
        QVERIFY(!read_timer_running(link));
        QCOMPARE(link.start(), 0);
        QVERIFY(running_at_connected);
        QCOMPARE(link.stop(), 0);
        QVERIFY(!running_at_disconnected);
        QVERIFY(!read_timer_running(link));
    }

    void stopClosesAndReleasesTheLibrary()
    {
        CUSBHID link(nullptr, vid, pid);
        QCOMPARE(link.start(), 0);
        QCOMPARE(link.stop(), 0);
        QCOMPARE(dev().close_count(), 1);
        QCOMPARE(dev().exit_count(), 1);
        QVERIFY(!dev().is_open());
        // A second stop has nothing to release.
        QCOMPARE(link.stop(), -1);
        QCOMPARE(dev().close_count(), 1);
        QCOMPARE(dev().exit_count(), 1);
    }

    void zeroIdNeverReachesTheLibrary_data()
    {
        QTest::addColumn<int>("vendor");
        QTest::addColumn<int>("product");
        QTest::addColumn<bool>("via_ids");
        QTest::newRow("vendor 0, constructor") << 0 << pid << false;
        QTest::newRow("product 0, constructor") << vid << 0 << false;
        QTest::newRow("both 0, constructor") << 0 << 0 << false;
        QTest::newRow("vendor 0, start(ids)") << 0 << pid << true;
        QTest::newRow("product 0, start(ids)") << vid << 0 << true;
    }

    void zeroIdNeverReachesTheLibrary()
    {
        QFETCH(int, vendor);
        QFETCH(int, product);
        QFETCH(bool, via_ids);

        CUSBHID link(nullptr, via_ids ? vid : vendor, via_ids ? pid : product);
        QSignalSpy connected(&link, &CUSBHID::connected);
        const int result = via_ids ? link.start(vendor, product) : link.start();
        QCOMPARE(result, -1);
        QCOMPARE(connected.count(), 0);
        QCOMPARE(dev().open_count(), 0);
        QCOMPARE(dev().failed_open_count(), 0);
        QVERIFY(!link.is_connected());
    }

    void startWithIdsReplacesThemEvenWhenItFails()
    {
        CUSBHID link(nullptr, vid, pid);
        QCOMPARE(link.start(vid, 0), -1);
        // The stored product id is now 0, so the plain start fails without calling the library.
        QCOMPARE(link.start(), -1);
        QCOMPARE(dev().open_count() + dev().failed_open_count(), 0);
        QCOMPARE(link.start(vid, pid), 0);
        QVERIFY(link.is_connected());
    }

    void startWithIdsOnAnOpenLinkStillStoresThem()
    {
        CUSBHID link(nullptr, vid, pid);
        QCOMPARE(link.start(), 0);
        QCOMPARE(link.start(0x1234, 0x5678), -1);
        QCOMPARE(link.stop(), 0);
        // The next open asks for the new ids, which the emulated console does not answer to.
        QCOMPARE(link.start(), -1);
        QCOMPARE(dev().failed_open_count(), 1);
        QCOMPARE(dev().last_vendor_id(), 0x1234);
        QCOMPARE(dev().last_product_id(), 0x5678);
    }

    void idsAreCutToSixteenBits()
    {
        CUSBHID link(nullptr, vid | 0x10000, pid | 0x70000);
        QCOMPARE(link.start(), 0);
        QCOMPARE(dev().last_vendor_id(), vid);
        QCOMPARE(dev().last_product_id(), pid);
    }

    void writePrependsReportNumber_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("one byte") << QByteArray::fromHex("ff");
        QTest::newRow("command") << QByteArray::fromHex("0902010300000000a5");
        QTest::newRow("ten bytes") << QByteArray::fromHex("0a4102ff0000000000ff");
        QTest::newRow("leading zero") << QByteArray::fromHex("000000");
        QTest::newRow("100 bytes") << report(100, 7);
    }

    void writePrependsReportNumber()
    {
        QFETCH(QByteArray, data);
        CUSBHID link(nullptr, vid, pid);
        QCOMPARE(link.start(), 0);
        QSignalSpy tx(&link, &CUSBHID::TX);
        const QByteArray original = data;

        const int result = link.write(data);

        QCOMPARE(result, data.size() + 1);
        QCOMPARE(tx.count(), 1);
        QCOMPARE(dev().writes().size(), 1);
        QCOMPARE(dev().writes().first(), QByteArray(1, '\0') + original);
        QCOMPARE(data, original);
    }

    void writeWhileClosedSendsNothing()
    {
        CUSBHID link(nullptr, vid, pid);
        QSignalSpy tx(&link, &CUSBHID::TX);
        QCOMPARE(link.write(QByteArray::fromHex("0a41")), 0);
        QCOMPARE(link.start(), 0);
        QCOMPARE(link.stop(), 0);
        QCOMPARE(link.write(QByteArray::fromHex("0a41")), 0);
        QCOMPARE(tx.count(), 0);
        QVERIFY(dev().writes().isEmpty());
    }

    void failedWriteIsCountedAndKeepsTheLinkOpen()
    {
        CUSBHID link(nullptr, vid, pid);
        QCOMPARE(link.start(), 0);
        SignalLog log(&link);
        dev().set_write_fails(true);
        QCOMPARE(link.write(QByteArray::fromHex("0102")), -1);
        QCOMPARE(link.write(QByteArray::fromHex("0304")), -1);
        dev().set_write_fails(false);
        QCOMPARE(link.write(QByteArray::fromHex("0506")), 3);
        QCOMPARE(log.lines, (QStringList{"TX", "TX", "TX"}));
        QVERIFY(link.is_connected());
        QCOMPARE(dev().writes().size(), 3);
    }

    void reportsKeepTheirLength_data()
    {
        QTest::addColumn<QByteArray>("queued");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("1 byte") << report(1, 1) << report(1, 1);
        QTest::newRow("10 bytes") << report(10, 2) << report(10, 2);
        QTest::newRow("64 bytes") << report(64, 3) << report(64, 3);
        QTest::newRow("trailing zeros") << QByteArray::fromHex("0542000000") << QByteArray::fromHex("0542000000");
        QTest::newRow("128 bytes") << report(128, 4) << report(128, 4);
        // One read never returns more than the buffer holds.
        QTest::newRow("200 bytes") << report(200, 5) << report(128, 5);
    }

    void reportsKeepTheirLength()
    {
        QFETCH(QByteArray, queued);
        QFETCH(QByteArray, expected);
        CUSBHID link(nullptr, vid, pid);
        QCOMPARE(link.start(), 0);
        QSignalSpy data(&link, &CUSBHID::data_ready);
        dev().queue_input(queued);
        link.hid_read_timer();
        QCOMPARE(data.count(), 1);
        QCOMPARE(data.first().first().toByteArray(), expected);
    }

    void nothingWaitingEmitsNothing()
    {
        CUSBHID link(nullptr, vid, pid);
        QCOMPARE(link.start(), 0);
        SignalLog log(&link);
        link.hid_read_timer();
        QVERIFY(log.lines.isEmpty());
        QCOMPARE(dev().read_count(), 1);
        QVERIFY(link.is_connected());
    }

    void waitingReportsAllPassedOnInOneTick()
    {
        CUSBHID link(nullptr, vid, pid);
        QCOMPARE(link.start(), 0);
        SignalLog log(&link);
        dev().queue_input(QByteArray::fromHex("03c1aa"));
        dev().queue_input(QByteArray::fromHex("04c2bbcc"));
        dev().queue_input(QByteArray::fromHex("02c3"));

        link.hid_read_timer();

        // Each report alone, data_ready before its RX, in arrival order.
        QCOMPARE(log.lines, (QStringList{"data 03c1aa", "RX", "data 04c2bbcc", "RX", "data 02c3", "RX"}));
        QCOMPARE(dev().pending_input(), 0);
        // The read that found nothing ended the tick.
        QCOMPARE(dev().read_count(), 4);
    }

    void oneTickPassesOnAtMostTheBound()
    {
        CUSBHID link(nullptr, vid, pid);
        QCOMPARE(link.start(), 0);
        QSignalSpy data(&link, &CUSBHID::data_ready);
        QSignalSpy rx(&link, &CUSBHID::RX);
        const int queued = CUSBHID::max_reports_per_tick + 36;
        for (int i = 0; i < queued; ++i)
            dev().queue_input(QByteArray::fromHex("02") + QByteArray(1, static_cast<char>(i)));

        link.hid_read_timer();
        QCOMPARE(data.count(), 64);
        QCOMPARE(rx.count(), 64);
        QCOMPARE(dev().pending_input(), 36);
        QCOMPARE(data.last().first().toByteArray(), QByteArray::fromHex("023f"));

        // The rest comes with the next tick, still in order.
        link.hid_read_timer();
        QCOMPARE(data.count(), queued);
        QCOMPARE(data.at(64).first().toByteArray(), QByteArray::fromHex("0240"));
        QCOMPARE(dev().pending_input(), 0);
    }

    void readErrorAmongReportsEndsTheTickAfterThem()
    {
        CUSBHID link(nullptr, vid, pid);
        QCOMPARE(link.start(), 0);
        FailAfterReads model(2);
        dev().set_model(&model);
        SignalLog log(&link);
        dev().queue_input(QByteArray::fromHex("02a1"));
        dev().queue_input(QByteArray::fromHex("02a2"));
        dev().queue_input(QByteArray::fromHex("02a3"));

        link.hid_read_timer();

        QCOMPARE(log.lines, (QStringList{"data 02a1", "RX", "data 02a2", "RX", "disconnected"}));
        QCOMPARE(dev().read_count(), 3);
        QVERIFY(!link.is_connected());
        QCOMPARE(dev().close_count(), 1);
        QCOMPARE(dev().exit_count(), 1);
        dev().set_model(nullptr);
    }

    void readErrorClosesOnce()
    {
        CUSBHID link(nullptr, vid, pid);
        QCOMPARE(link.start(), 0);
        SignalLog log(&link);
        dev().fail_next_read();

        link.hid_read_timer();
        QCOMPARE(log.lines, QStringList{"disconnected"});
        QVERIFY(!link.is_connected());
        QVERIFY(!dev().is_open());
        QCOMPARE(dev().close_count(), 1);
        QCOMPARE(dev().exit_count(), 1);
        QVERIFY(!read_timer_running(link));

        // Nothing more happens on later ticks or calls.
        link.hid_read_timer();
        QCOMPARE(link.stop(), -1);
        QCOMPARE(log.lines, QStringList{"disconnected"});
        QCOMPARE(dev().close_count(), 1);
        QCOMPARE(dev().exit_count(), 1);
    }

    void readTimerPassesReportsOn()
    {
        CUSBHID link(nullptr, vid, pid);
        QSignalSpy data(&link, &CUSBHID::data_ready);
        QCOMPARE(link.start(), 0);
        dev().queue_input(QByteArray::fromHex("0a4b"));
        QTRY_COMPARE(data.count(), 1);
        QCOMPARE(data.first().first().toByteArray(), QByteArray::fromHex("0a4b"));
    }

    void unplugDisconnectsOnceByTheTimer()
    {
        CUSBHID link(nullptr, vid, pid);
        QCOMPARE(link.start(), 0);
        QSignalSpy disconnected(&link, &CUSBHID::disconnected);
        dev().unplug();
        QTRY_COMPARE(disconnected.count(), 1);
        QVERIFY(!link.is_connected());
        // Let further ticks pass: the closed link must not report again.
        QTest::qWait(20);
        QCOMPARE(disconnected.count(), 1);
    }

    void autoConnectTimer()
    {
        CUSBHID link(nullptr, vid, pid);
        link.set_auto_connect(true);
        QVERIFY(link.is_auto_connect());
        QVERIFY(auto_connect_timer_running(link));
        QVERIFY(!read_timer_running(link));
        link.set_auto_connect(false);
        QVERIFY(!link.is_auto_connect());
        QVERIFY(!auto_connect_timer_running(link));
    }

    void autoConnectOpensByItself()
    {
        CUSBHID link(nullptr, vid, pid);
        QSignalSpy connected(&link, &CUSBHID::connected);
        link.set_auto_connect(true);
        QVERIFY(!link.is_connected()); // not at once: on the timer's tick
        QTRY_COMPARE(connected.count(), 1);
        QVERIFY(link.is_connected());
        // The timer keeps running while open; its ticks change nothing.
        QVERIFY(auto_connect_timer_running(link));
    }

    void autoConnectRetriesWhileAbsent()
    {
        dev().set_present(false);
        CUSBHID link(nullptr, vid, pid);
        QSignalSpy connected(&link, &CUSBHID::connected);
        link.set_auto_connect(true);
        QTRY_VERIFY(dev().failed_open_count() >= 2);
        QCOMPARE(connected.count(), 0);
        dev().set_present(true);
        QTRY_COMPARE(connected.count(), 1);
    }

    void autoConnectReopensAfterReadError()
    {
        CUSBHID link(nullptr, vid, pid);
        QCOMPARE(link.start(), 0);
        link.set_auto_connect(true);
        SignalLog log(&link);
        dev().unplug();
        QTRY_COMPARE(log.lines, QStringList{"disconnected"});
        dev().set_present(true);
        QTRY_COMPARE(log.lines, (QStringList{"disconnected", "connected"}));
        QVERIFY(link.is_connected());
        QCOMPARE(dev().open_count(), 2);
    }

    void autoConnectReopensAfterStop()
    {
        CUSBHID link(nullptr, vid, pid);
        QCOMPARE(link.start(), 0);
        link.set_auto_connect(true);
        QSignalSpy connected(&link, &CUSBHID::connected);
        QCOMPARE(link.stop(), 0);
        QVERIFY(!link.is_connected());
        QTRY_COMPARE(connected.count(), 1);
    }

    void switchingAutoConnectOffKeepsTheLinkOpen()
    {
        CUSBHID link(nullptr, vid, pid);
        link.set_auto_connect(true);
        QTRY_VERIFY(link.is_connected());
        QSignalSpy disconnected(&link, &CUSBHID::disconnected);
        link.set_auto_connect(false);
        QVERIFY(link.is_connected());
        QCOMPARE(disconnected.count(), 0);
    }

    void destroyingTheLinkEmitsNothing()
    {
        auto *link = new CUSBHID(nullptr, vid, pid);
        QCOMPARE(link->start(), 0);
        QSignalSpy disconnected(link, &CUSBHID::disconnected);
        delete link;
        QCOMPARE(disconnected.count(), 0);
        QCOMPARE(dev().exit_count(), 0);
    }

    // Each reason an open fails, through the library's own calls (hid_open, hid_error, hid_enumerate): told once
    // however often auto-connect retries, and cleared by the open that succeeds.
    void openProblems_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<int>("refusal");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("detail");
        using Refusal = EmulatedDevice::Refusal;
        using Kind = OpenProblem::Kind;
        QTest::newRow("absent") << false << int(Refusal::none) << int(Kind::absent)
                                << "Device with requested VID/PID/(SerialNumber) not found";
        QTest::newRow("not permitted") << true << int(Refusal::not_permitted) << int(Kind::not_permitted)
                                       << "Failed to open a device with path '/dev/hidraw-emulated': Permission denied";
        QTest::newRow("busy") << true << int(Refusal::busy) << int(Kind::failing)
                              << "Failed to open a device with path '/dev/hidraw-emulated': Device or resource busy";
    }

    void openProblems()
    {
        QFETCH(bool, present);
        QFETCH(int, refusal);
        QFETCH(int, kind);
        QFETCH(QString, detail);

        CUSBHID link(nullptr, vid, pid);
        QCOMPARE(link.open_problem()->current().kind, OpenProblem::Kind::none);
        QList<OpenProblem> told;
        connect(link.open_problem(), &OpenProblemReport::changed, this,
                [&told](const OpenProblem &problem) { told << problem; });
        dev().set_present(present);
        dev().set_refusal(static_cast<EmulatedDevice::Refusal>(refusal));
        QSignalSpy connected(&link, &CUSBHID::connected);

        link.set_auto_connect(true);
        QCOMPARE(link.start(), -1);
        QTRY_VERIFY(dev().failed_open_count() >= 3);
        QCOMPARE(told.size(), 1);
        QCOMPARE(int(told.at(0).kind), kind);
        QCOMPARE(told.at(0).detail, detail);
        QCOMPARE(link.open_problem()->current(), told.at(0));
        QCOMPARE(connected.count(), 0);

        // Plugged in, or allowed, or let go by the other program: the next retry opens it.
        dev().set_present(true);
        dev().set_refusal(EmulatedDevice::Refusal::none);
        QTRY_COMPARE(connected.count(), 1);
        QCOMPARE(told.size(), 2);
        QCOMPARE(told.at(1).kind, OpenProblem::Kind::none);
        QVERIFY(told.at(1).detail.isEmpty());
    }

    // What the system library says on a real machine, classified without a device.
    void classify_data()
    {
        QTest::addColumn<bool>("listed");
        QTest::addColumn<bool>("node_refused");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("kind");
        using Kind = OpenProblem::Kind;
        QTest::newRow("nothing with the ids")
            << false << false << "No HID devices with requested VID/PID found" << int(Kind::absent);
        QTest::newRow("hidraw node not ours")
            << true << false << "Failed to open a device with path '/dev/hidraw3': Permission denied"
            << int(Kind::not_permitted);
        QTest::newRow("operation not permitted")
            << true << false << "Failed to open a device with path '/dev/hidraw3': Operation not permitted"
            << int(Kind::not_permitted);
        QTest::newRow("node refused, other words") << true << true << "hid_open failed" << int(Kind::not_permitted);
        QTest::newRow("busy") << true << false
                              << "Failed to open a device with path '/dev/hidraw3': Device or resource busy"
                              << int(Kind::failing);
        QTest::newRow("gone between the calls") << false << false
                                                << "Failed to open a device with path '/dev/hidraw3': "
                                                   "No such file or directory"
                                                << int(Kind::absent);
    }

    void classify()
    {
        QFETCH(bool, listed);
        QFETCH(bool, node_refused);
        QFETCH(QString, error);
        QFETCH(int, kind);
        const OpenProblem problem = OpenProblem::classify(listed, node_refused, error);
        QCOMPARE(int(problem.kind), kind);
        QCOMPARE(problem.detail, error);
    }

    void signalOrderOfTheMetaObject()
    {
        const QMetaObject &mo = CUSBHID::staticMetaObject;
        QStringList methods;
        for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
            methods << QString::fromLatin1(mo.method(i).methodSignature());
        QCOMPARE(methods, (QStringList{"connected()", "disconnected()", "data_ready(QByteArray)", "RX()", "TX()",
                                       "hid_read_timer()", "start(int,int)", "start()", "stop()"}));
    }
};

QTEST_GUILESS_MAIN(TestCUSBHID)
#include "tst_cusbhid.moc"
