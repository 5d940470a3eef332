#include "app/application.h"
#include "app/mainwindow.h"
#include "emulator/emulateddevice.h"

#include <QApplication>
#include <QMenu>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

// The process entry, run for real: each test creates its own application object through it.
class TestApplication : public QObject {
    Q_OBJECT

    int argc = 1;
    char name[16] = "tst_application";
    char *argv[2] = {name, nullptr};

    // Runs the entry point; check() sees the window before the event loop starts and schedules what ends it.
    // A fallback exit code of 99 ends a loop that would otherwise never stop.
    int run(const std::function<void(MainWindow &)> &check)
    {
        return run_korvel_control(argc, argv, [&](MainWindow &window) {
            QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(99); });
            check(window);
        });
    }

private slots:
    void init()
    {
        emulator::EmulatedDevice::instance().reset();
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Velmora", "Korvel Control");
        settings.clear();
        settings.setValue("udp_default_ports", false);
        settings.setValue("udp_listen_port", 0);
        settings.setValue("auto_connect", false);
        settings.setValue("ws_default_port", false);
        settings.setValue("ws_port", 0);
    }

    void startsInTheTrayAndQuitEndsTheLoop()
    {
        bool checked = false;
        const int code = run([&](MainWindow &window) {
            QVERIFY(QCoreApplication::testAttribute(Qt::AA_Use96Dpi));
            QVERIFY(QCoreApplication::testAttribute(static_cast<Qt::ApplicationAttribute>(20)));
            QVERIFY(!window.isVisible());
            QVERIFY(!window.parent());
            for (QWidget *top : QApplication::topLevelWidgets())
                QVERIFY2(!top->isVisible(), qPrintable(top->objectName()));
            QCOMPARE(window.tray_icon()->toolTip(), QStringLiteral("Korvel Control"));
            QVERIFY(QGuiApplication::quitOnLastWindowClosed());
            checked = true;
            // "Quit" from the tray menu while the window is hidden.
            QTimer::singleShot(0, &window, [&window] { window.tray_menu()->actions().at(0)->trigger(); });
        });
        QVERIFY(checked);
        QCOMPARE(code, 0);
        QVERIFY(!QApplication::instance());
    }

    void quitAfterTheWindowWasShownAndClosed()
    {
        const int code = run([](MainWindow &window) {
            QTimer::singleShot(0, &window, [&window] {
                window.tray_menu()->actions().at(1)->trigger(); // "Settings"
                QVERIFY(window.isVisible());
                window.close(); // only hides
                QVERIFY(!window.isVisible());
                // Still running after the close button: quit from the tray.
                QTimer::singleShot(0, &window, [&window] { window.tray_menu()->actions().at(0)->trigger(); });
            });
        });
        QCOMPARE(code, 0);
    }

    void returnsTheLoopsExitCode()
    {
        const int code = run([](MainWindow &) { QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(7); }); });
        QCOMPARE(code, 7);
    }
};

QTEST_APPLESS_MAIN(TestApplication)
#include "tst_application.moc"
