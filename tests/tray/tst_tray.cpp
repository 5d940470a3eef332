// The tray icon in a real system tray (Xvfb with the trayer tray host, started by run-under-xvfb.sh): it
// appears, shows gray while the link is closed and turns green when the link opens.
#include "app/mainwindow.h"
#include "emulator/emulateddevice.h"
#include "usb/cusbhid.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
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
} // namespace

class TestTray : public QObject {
    Q_OBJECT

private slots:
    void iconAppearsGrayAndTurnsGreenWhenTheLinkOpens()
    {
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
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
