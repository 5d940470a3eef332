// The tray icon in a real system tray (Xvfb with the trayer tray host, started by run-under-xvfb.sh): it
// appears, shows gray while the link is closed and turns green when the link opens. On a desktop without a
// tray (run-under-xvfb.sh --no-tray) the window stands in for it until a tray host starts.
#include "app/mainwindow.h"
#include "emulator/emulateddevice.h"
#include "usb/cusbhid.h"

#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

namespace {
struct Tint {
    double red = 0, green = 0, blue = 0;
};

// Mean colour of the icon's area on screen.
Tint tray_tint(const QSystemTrayIcon &icon)
{
    const QRect area = icon.geometry();
    const QImage image = QGuiApplication::primaryScreen()
                             ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    Tint tint;
    const double pixels = double(image.width()) * image.height();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            tint.red += qRed(p) / pixels;
            tint.green += qGreen(p) / pixels;
            tint.blue += qBlue(p) / pixels;
        }
    }
    return tint;
}

bool looks_green(const Tint &t)
{
    return t.green > t.red + 40 && t.green > t.blue + 40;
}

bool looks_gray(const Tint &t)
{
    return qAbs(t.green - t.red) < 25 && qAbs(t.green - t.blue) < 25 && t.green > 60;
}

// Which desktop run-under-xvfb.sh made: "trayer" or "none".
bool desktop_has_tray()
{
    return qEnvironmentVariable("KORVEL_TRAY_HOST") != QLatin1String("none");
}
} // namespace

class TestTray : public QObject {
    Q_OBJECT

private slots:
    void iconAppearsGrayAndTurnsGreenWhenTheLinkOpens()
    {
        if (!desktop_has_tray())
            QSKIP("needs a tray host");
        emulator::EmulatedDevice::instance().reset();
        MainWindow window;
        CUSBHID *link = window.device_link();
        link->set_auto_connect(false);
        link->stop();

        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
        QSystemTrayIcon *icon = window.tray_icon();
        QVERIFY(icon->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(icon->geometry().width() > 0, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(looks_gray(tray_tint(*icon)), 10000);
        QVERIFY(!looks_green(tray_tint(*icon)));

        QCOMPARE(link->start(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(looks_green(tray_tint(*icon)), 10000);

        QCOMPARE(link->stop(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(looks_gray(tray_tint(*icon)), 10000);
    }

    void withATrayTheWindowStaysHiddenAndCloseHides()
    {
        if (!desktop_has_tray())
            QSKIP("needs a tray host");
        emulator::EmulatedDevice::instance().reset();
        MainWindow window;
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
        window.present();
        QVERIFY(window.isHidden());
        window.tray_menu()->actions().at(1)->trigger(); // "Settings"
        QVERIFY(window.isVisible());
        window.close();
        QVERIFY(window.isHidden());
    }

    void withoutATrayTheWindowStandsInUntilOneStarts()
    {
        if (desktop_has_tray())
            QSKIP("needs a desktop without a tray");
        emulator::EmulatedDevice::instance().reset();
        MainWindow window;
        window.device_link()->set_auto_connect(false);
        window.device_link()->stop(); // a gray icon
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        window.present();
        QVERIFY(window.isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        // Closing keeps it reachable.
        window.close();
        QVERIFY(window.isVisible());
        QTRY_VERIFY(window.isMinimized());

        // A tray host starts (at login, after the application): the application moves into it.
        QProcess tray;
        tray.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "32",
                              "--transparent", "false", "--tint", "0x202020", "--SetDockType", "true"});
        QVERIFY(tray.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(window.isHidden(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(window.tray_icon()->geometry().width() > 0, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(looks_gray(tray_tint(*window.tray_icon())), 10000);

        // The tray goes away again: the window comes back.
        tray.kill();
        tray.waitForFinished();
        QTRY_VERIFY_WITH_TIMEOUT(!QSystemTrayIcon::isSystemTrayAvailable(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(window.isVisible() && !window.isMinimized(), 10000);
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
