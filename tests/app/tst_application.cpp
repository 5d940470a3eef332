#include "app/application.h"
#include "app/mainwindow.h"
#include "emulator/emulateddevice.h"
#include "mqtt/broker.h"
#include "mqtt/probe.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QMenu>
#include <QProcess>
#include <QSettings>
#include <QSysInfo>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include <signal.h>

namespace {

// One start of the application as a process (tests/app/appchild.cpp), in a session of the test's own: its
// own settings directory and runtime directory.
class Child {
public:
    Child(const QTemporaryDir &session, const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_CONFIG_HOME", session.filePath("config"));
        environment.insert("XDG_RUNTIME_DIR", session.filePath("runtime"));
        process.setProcessEnvironment(environment);
        process.start(APPCHILD, arguments);
    }
    ~Child()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    // Waits for the line on standard output; false after the timeout or when the process ended first.
    bool says(const QByteArray &line, int timeout_ms = 20000)
    {
        QDeadlineTimer deadline(timeout_ms);
        while (!deadline.hasExpired()) {
            while (process.canReadLine()) {
                if (process.readLine().trimmed() == line)
                    return true;
            }
            if (process.state() == QProcess::NotRunning)
                return false;
            process.waitForReadyRead(100);
        }
        return false;
    }
    void kill()
    {
        process.kill();
        process.waitForFinished();
    }
    QProcess process;
};

// The store of one identity in the session's settings directory, read as the application reads it.
QVariant stored(const QTemporaryDir &session, const QString &application, const QString &key)
{
    const QSettings settings(session.filePath("config/Velmora/" + application + ".conf"), QSettings::NativeFormat);
    return settings.value(key);
}

} // namespace

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
        return run_korvel_control(argc, argv, AppIdentity::korvel_control(), [&](MainWindow &window) {
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
            QVERIFY(!window.parent());
            // Offscreen there is no system tray: the window is the way in, and the only one shown.
            QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
            QVERIFY(window.isVisible());
            for (QWidget *top : QApplication::topLevelWidgets())
                QVERIFY2(top == &window || !top->isVisible(), qPrintable(top->objectName()));
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
                window.close(); // only hides, or without a tray minimises
                QVERIFY(window.isHidden() || window.isMinimized());
                // Still running after the close button: quit from the tray.
                QTimer::singleShot(0, &window, [&window] { window.tray_menu()->actions().at(0)->trigger(); });
            });
        });
        QCOMPARE(code, 0);
    }

    void quitFromTheWindowWithoutATray_data()
    {
        QTest::addColumn<bool>("by_shortcut");
        QTest::newRow("context menu") << false;
        QTest::newRow("shortcut") << true;
    }

    void quitFromTheWindowWithoutATray()
    {
        QFETCH(bool, by_shortcut);
        const int code = run([by_shortcut](MainWindow &window) {
            QTimer::singleShot(0, &window, [&window, by_shortcut] {
                // Closing minimises: with no tray the window must stay reachable.
                window.close();
                QVERIFY(window.isVisible());
                QVERIFY(window.isMinimized());
                window.show_settings();
                QVERIFY(!window.isMinimized());
                QAction *quit = nullptr;
                for (QAction *action : window.actions()) {
                    if (action->text() == "Quit")
                        quit = action;
                }
                QVERIFY(quit);
                QCOMPARE(window.contextMenuPolicy(), Qt::ActionsContextMenu);
                QCOMPARE(quit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
                if (by_shortcut) {
                    window.activateWindow();
                    QVERIFY(QTest::qWaitForWindowActive(&window));
                    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
                } else
                    quit->trigger();
            });
        });
        QCOMPARE(code, 0);
    }

    void killRightAfterAChangeKeepsIt_data()
    {
        QTest::addColumn<QString>("identity");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");

        const QString real = "Korvel Control";
        const QString emulated = "Korvel Control Emulated";
        QTest::newRow("listen port") << real << QStringList{"click:checkBox_use_defaults", "type:lineEdit_LISTEN=20123"}
                                     << "udp_listen_port" << QVariant(20123);
        QTest::newRow("use defaults off")
            << real << QStringList{"click:checkBox_use_defaults"} << "udp_default_ports" << QVariant(false);
        QTest::newRow("auto connect off")
            << real << QStringList{"click:checkBox_auto_connect"} << "auto_connect" << QVariant(false);
        QTest::newRow("websocket port") << real
                                        << QStringList{"click:checkBox_use_defaults_ws",
                                                       "type:lineEdit_websocket_port=20125"}
                                        << "ws_port" << QVariant(20125);
        QTest::newRow("emulated: own store")
            << emulated << QStringList{"click:checkBox_use_defaults_ws", "type:lineEdit_websocket_port=20126"}
            << "ws_port" << QVariant(20126);
    }

    void killRightAfterAChangeKeepsIt()
    {
        QFETCH(QString, identity);
        QFETCH(QStringList, steps);
        QFETCH(QString, key);
        QFETCH(QVariant, value);

        QTemporaryDir session;
        QVERIFY(session.isValid());
        Child child(session, QStringList{identity == "Korvel Control" ? "real" : "emulated"} + steps);
        QVERIFY(child.says("ready"));
        child.kill(); // SIGKILL: no close event, no destructor
        QCOMPARE(child.process.exitStatus(), QProcess::CrashExit);

        QCOMPARE(stored(session, identity, key).toString(), value.toString());
        // The other program's store is never touched.
        const QString other = identity == "Korvel Control" ? "Korvel Control Emulated" : "Korvel Control";
        QVERIFY(!QFileInfo::exists(session.filePath("config/Velmora/" + other + ".conf")));
    }

    void secondStartShowsTheFirst_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("steps_back");
        QTest::addColumn<QByteArray>("line");

        QTest::newRow("application twice")
            << "real"
            << "real" << true << QByteArray("Korvel Control is already running: its window is shown.\n");
        QTest::newRow("emulated twice") << "emulated"
                                        << "emulated" << true
                                        << QByteArray(
                                               "Korvel Control Emulated is already running: its window is shown.\n");
        QTest::newRow("one of each") << "real"
                                     << "emulated" << false << QByteArray();
    }

    void secondStartShowsTheFirst()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, steps_back);
        QFETCH(QByteArray, line);

        QTemporaryDir session;
        QVERIFY(session.isValid());
        // Own ports for the first, so the second (when it runs) does not find them taken.
        Child running(session, {first, "click:checkBox_use_defaults_ws", "type:lineEdit_websocket_port=20127",
                                "click:checkBox_use_defaults", "type:lineEdit_LISTEN=20128", "hide"});
        QVERIFY(running.says("ready"));

        Child again(session, {second});
        if (steps_back) {
            QVERIFY(again.process.waitForFinished(20000));
            QCOMPARE(again.process.exitStatus(), QProcess::NormalExit);
            QCOMPARE(again.process.exitCode(), 0);
            QCOMPARE(again.process.readAllStandardError(), line);
            QVERIFY(running.says("shown"));
        } else {
            QVERIFY(again.says("ready"));
            QVERIFY(!running.says("shown", 1000));
        }
    }

    void staleSocketDoesNotBlockTheNextStart()
    {
        QTemporaryDir session;
        QVERIFY(session.isValid());
        {
            Child crashed(session, {"real", "hide"});
            QVERIFY(crashed.says("ready"));
            crashed.kill();
        }
        QVERIFY(QFileInfo::exists(session.filePath("runtime/korvel-control.socket")));
        Child next(session, {"real"});
        QVERIFY(next.says("ready"));
        QCOMPARE(next.process.state(), QProcess::Running);
    }

    void stopSignalQuitsAsQuitDoes_data()
    {
        QTest::addColumn<int>("signal_number");
        QTest::addColumn<QByteArray>("logged");
        QTest::newRow("SIGTERM") << int(SIGTERM) << QByteArray("Quitting on SIGTERM");
        QTest::newRow("SIGINT") << int(SIGINT) << QByteArray("Quitting on SIGINT");
    }

    // A logout, `systemctl --user stop` or Ctrl+C quits as "Quit" does: a port still being typed is stored, the
    // application itself says "offline" on the broker (a clean disconnect, so not the broker's last will), and
    // the exit status is 0.
    void stopSignalQuitsAsQuitDoes()
    {
        QFETCH(int, signal_number);
        QFETCH(QByteArray, logged);

        Broker broker("allow_anonymous true\nlog_type all\n");
        QVERIFY(broker.start());
        QTemporaryDir session;
        QVERIFY(session.isValid());
        const QString application = "Korvel Control Emulated";
        const QString status = "house/stop-test/status";
        {
            QSettings settings(session.filePath("config/Velmora/" + application + ".conf"), QSettings::NativeFormat);
            settings.setValue("mqtt_enabled", true);
            settings.setValue("mqtt_host", "127.0.0.1");
            settings.setValue("mqtt_port", broker.port());
            settings.setValue("mqtt_prefix", "house/stop-test");
        }
        Probe watcher(broker.port(), status);
        QVERIFY(watcher.ready());
        Child child(session, {"emulated", "click:checkBox_use_defaults", "edit:lineEdit_LISTEN=20131"});
        QVERIFY(child.says("ready"));
        QVERIFY(watcher.wait_for([&] { return watcher.last.value(status) == "\"connected\""; }, 20000));

        QCOMPARE(::kill(pid_t(child.process.processId()), signal_number), 0);
        QVERIFY(child.process.waitForFinished(20000));
        QCOMPARE(child.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.process.exitCode(), 0);
        QVERIFY(child.process.readAllStandardError().contains(logged));
        QVERIFY(watcher.wait_for([&] { return watcher.last.value(status) == "\"offline\""; }));
        QString log;
        const QString client = "korvel-emulated-" + QSysInfo::machineHostName();
        QTRY_VERIFY2((log += broker.log()).contains("Received DISCONNECT from " + client), qPrintable(log.right(900)));
        // The "offline" was the application's own last message, not the will sent for a vanished client.
        const qsizetype goodbye = log.lastIndexOf("Received PUBLISH from " + client);
        QVERIFY2(goodbye >= 0 && log.indexOf("'" + status + "', ... (9 bytes)", goodbye) >= 0, qPrintable(log));
        QVERIFY2(!log.contains("Client " + client + " closed its connection"), qPrintable(log));
        QCOMPARE(stored(session, application, "udp_listen_port").toString(), "20131");
    }

    void returnsTheLoopsExitCode()
    {
        const int code = run([](MainWindow &) { QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(7); }); });
        QCOMPARE(code, 7);
    }
};

QTEST_APPLESS_MAIN(TestApplication)
#include "tst_application.moc"
