// Saves the pictures of docs/images/ that show what a person meets in the first hour: the settings window with
// each reason the console does not open, a port shared with the other application, the tray menu, the dialogs
// and the emulated application's icons. tools/screenshots.sh runs it under Xvfb at 100 % and 200 % scale.
// Usage: korvel-scenes OUTPUT_DIR SUFFIX   (SUFFIX names the scale, for example "" or "@2x")
#include "emulatedapp.h"

#include "app/mainwindow.h"
#include "app/mqttdialog.h"
#include "app/networkaccessdialog.h"
#include "app/trayicons.h"
#include "emulator/emulateddevice.h"
#include "usb/cusbhid.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QHostAddress>
#include <QMenu>
#include <QPainter>
#include <QTcpServer>
#include <QTest>
#include <QUdpSocket>

#include <cstdio>
#include <functional>

using emulator::EmulatedDevice;

namespace {

QString out_dir;
QString suffix;
int failures = 0;

void save(const QPixmap &picture, const QString &name)
{
    const QString path = QDir(out_dir).filePath(name + suffix + QStringLiteral(".png"));
    if (picture.isNull() || !picture.save(path, "PNG")) {
        std::fprintf(stderr, "korvel-scenes: cannot save %s\n", qPrintable(path));
        ++failures;
        return;
    }
    std::printf("%s: %dx%d\n", qPrintable(path), picture.width(), picture.height());
}

bool shown(QWidget &widget)
{
    widget.show();
    return QTest::qWaitForWindowExposed(&widget);
}

// The window of an application whose console is absent, refused or busy: the line under the form.
void window_with_problem(const QString &name, bool present, EmulatedDevice::Refusal refusal)
{
    EmulatedDevice::instance().reset();
    EmulatedDevice::instance().set_present(present);
    EmulatedDevice::instance().set_refusal(refusal);
    e2e::Ports ports{e2e::free_tcp_port(), e2e::free_udp_port()};
    e2e::write_settings(ports);
    MainWindow window;
    window.device_link()->start();
    if (shown(window))
        save(window.grab(), name);
}

// A dialog as it opens, grabbed once it is on screen and then closed.
void dialog_picture(QWidget *parent, const std::function<QDialog *()> &make, const QString &name)
{
    QDialog *dialog = make();
    if (shown(*dialog)) {
        save(dialog->grab(), name);
    }
    delete dialog;
    Q_UNUSED(parent);
}

} // namespace

int main(int argc, char *argv[])
{
    const auto settings_dir = e2e::isolate_settings();
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments().mid(1);
    if (args.isEmpty())
        return 2;
    out_dir = args.at(0);
    suffix = args.value(1);
    QDir().mkpath(out_dir);

    window_with_problem(QStringLiteral("window-no-console"), false, EmulatedDevice::Refusal::none);
    window_with_problem(QStringLiteral("window-not-permitted"), true, EmulatedDevice::Refusal::not_permitted);
    window_with_problem(QStringLiteral("window-busy"), true, EmulatedDevice::Refusal::busy);

    // The emulated application started with its default settings while the other one holds the default ports.
    {
        EmulatedDevice::instance().reset();
        QTcpServer websocket_holder;
        QUdpSocket udp_holder;
        if (!websocket_holder.listen(QHostAddress::AnyIPv4, 19552) ||
            !udp_holder.bind(QHostAddress::AnyIPv4, 19551, QAbstractSocket::DontShareAddress)) {
            std::fprintf(stderr, "korvel-scenes: the default ports are taken already\n");
            ++failures;
        }
        MainWindow window(AppIdentity::emulated());
        if (shown(window))
            save(window.grab(), QStringLiteral("window-emulated-port-shared"));
        QCoreApplication::setApplicationName(AppIdentity::korvel_control().application);
    }

    // The tray menu and the dialogs of a running application.
    {
        EmulatedDevice::instance().reset();
        e2e::Ports ports{e2e::free_tcp_port(), e2e::free_udp_port()};
        e2e::write_settings(ports);
        MainWindow window;
        QMenu *menu = window.tray_menu();
        menu->popup(QPoint(20, 20));
        if (QTest::qWaitForWindowExposed(menu))
            save(menu->grab(), QStringLiteral("tray-menu"));
        menu->hide();
        dialog_picture(
            &window, [&window] { return new korvel::app::NetworkAccessDialog(window.websocket_interface(), &window); },
            QStringLiteral("dialog-network-access"));
        dialog_picture(
            &window, [&window] { return new korvel::app::MqttDialog(window.mqtt_service(), &window); },
            QStringLiteral("dialog-mqtt"));
    }

    // The four tray icons at the size of a tray and larger: the application's and the emulated one's.
    {
        const int sizes[] = {22, 48};
        const int gap = 12;
        QPixmap sheet(4 * (48 + gap) + gap, 22 + 48 + 3 * gap);
        sheet.fill(QColor(60, 60, 60));
        QPainter painter(&sheet);
        int x = gap;
        for (bool emulated : {false, true}) {
            for (bool open : {false, true}) {
                int y = gap;
                for (int size : sizes) {
                    painter.drawPixmap(x, y, korvel::app::link_icon(open, emulated).pixmap(size, size));
                    y += size + gap;
                }
                x += 48 + gap;
            }
        }
        painter.end();
        save(sheet, QStringLiteral("tray-icons"));
    }
    return failures == 0 ? 0 : 1;
}
