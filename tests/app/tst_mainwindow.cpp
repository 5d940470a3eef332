#include "app/autostart.h"
#include "app/mainwindow.h"
#include "app/traytitle.h"
#include "console/ckorvel.h"
#include "emulator/emulateddevice.h"
#include "udp/cudpinterface.h"
#include "usb/cusbhid.h"
#include "usb/usbids.h"
#include "websocket/cwebsocketinterface.h"

#include "ui_mainwindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUdpSocket>

#include <memory>
#include <type_traits>

using emulator::EmulatedDevice;

namespace {

EmulatedDevice &dev()
{
    return EmulatedDevice::instance();
}

const QString window_style = QStringLiteral("QGroupBox {\n"
                                            "    border: 1px solid gray;\n"
                                            "    border-radius: 6px;\n"
                                            "    margin-top: 0.5em;\n"
                                            "}\n"
                                            "\n"
                                            "QGroupBox::title {\n"
                                            "    subcontrol-origin: margin;\n"
                                            "    left: 10px;\n"
                                            "    padding: 0 3px 0 3px;\n"
                                            "}");
const QString red = QStringLiteral("color: rgb(255, 0, 0);");
const QString green = QStringLiteral("color: rgb(20, 180, 0);");
constexpr int right_vcenter = 0x82;
constexpr int left_vcenter = 0x81;

// What a widget shows: a group box's title, a button's or label's text.
QString shown_text(const QWidget *w)
{
    if (auto *box = qobject_cast<const QGroupBox *>(w))
        return box->title();
    if (auto *button = qobject_cast<const QAbstractButton *>(w))
        return button->text();
    if (auto *label = qobject_cast<const QLabel *>(w))
        return label->text();
    return {};
}

QImage resource_image(const QString &path)
{
    return QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage icon_image(const QIcon &icon)
{
    return icon.pixmap(QSize(256, 256)).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// Widgets that take keyboard focus, in the window's focus chain, starting at the given one.
QStringList focus_chain(QWidget *window, QWidget *first)
{
    QStringList names;
    QWidget *w = first;
    do {
        if (w->window() == window && (w->focusPolicy() & Qt::TabFocus))
            names << w->objectName();
        w = w->nextInFocusChain();
    } while (w && w != first && names.size() < 100);
    return names;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<MainWindow> window;

    template <typename T = QWidget>
    T *widget(const char *name)
    {
        return window->findChild<T *>(QString::fromLatin1(name));
    }

    QLabel *label(const char *name) { return widget<QLabel>(name); }

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Velmora"));
        QCoreApplication::setApplicationName(QStringLiteral("Korvel Control"));
        // Two slots' names start like connect-by-name slots (on_clients_udp, on_clients_ws) and draw one warning
        // each per window; they are connected explicitly.
        QLoggingCategory::setFilterRules(QStringLiteral("qt.core.qmetaobject.connectslotsbyname.warning=false"));
    }

    void init()
    {
        dev().reset();
        // A store that binds no fixed port (tests run in parallel) and leaves the link to the test.
        QSettings settings;
        settings.clear();
        settings.setValue("udp_default_ports", false);
        settings.setValue("udp_metering_port", 0);
        settings.setValue("udp_config_port", 0);
        settings.setValue("udp_custom_port", 0);
        settings.setValue("udp_listen_port", 0);
        settings.setValue("auto_connect", false);
        settings.setValue("ws_default_port", false);
        settings.setValue("ws_port", 0);
        settings.sync();

        window = std::make_unique<MainWindow>();
        window->device_link()->set_auto_connect(false);
    }

    void cleanup() { window.reset(); }

    void titleAndIdentity()
    {
        QCOMPARE(window->windowTitle(), QStringLiteral("Korvel Control v1.1.1"));
        QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Velmora"));
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Korvel Control"));
        QVERIFY(!QCoreApplication::organizationDomain().isEmpty());
    }

    void startsHidden() { QVERIFY(!window->isVisible()); }

    void sizeIsFixed()
    {
        const QSize fixed(412, 340);
        QCOMPARE(window->size(), fixed);
        QCOMPARE(window->minimumSize(), fixed);
        QCOMPARE(window->maximumSize(), fixed);
        QCOMPARE(window->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
        QCOMPARE(window->sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
        QCOMPARE(window->sizePolicy().horizontalStretch(), 0);
        QCOMPARE(window->sizePolicy().verticalStretch(), 0);

        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCOMPARE(window->size(), fixed);
        window->resize(600, 500);
        QCOMPARE(window->size(), fixed);
    }

    void centralWidgetOnly()
    {
        QWidget *central = window->centralWidget();
        QVERIFY(central);
        QCOMPARE(central->objectName(), QStringLiteral("centralWidget"));
        QCOMPARE(central->metaObject()->className(), "QWidget");
        QCOMPARE(central->layout()->objectName(), QStringLiteral("gridLayout_8"));
        QVERIFY(!window->findChild<QMenuBar *>());
        QVERIFY(!window->findChild<QToolBar *>());
        QVERIFY(!window->findChild<QStatusBar *>());
        QCOMPARE(window->styleSheet(), window_style);
        QCOMPARE(window->styleSheet().size(), 183);
    }

    void widgets_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");  // null: not checked (filled from the settings)
        QTest::addColumn<int>("alignment"); // -1: not a label or line edit

        auto row = [](const char *name, const char *kind, const QString &text, int alignment) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(kind) << text << alignment;
        };
        row("groupBox_2", "QGroupBox", "UDP/IP Interface", -1);
        row("groupBox_7", "QGroupBox", "Status", -1);
        row("label_8", "QLabel", "#Clients", left_vcenter);
        row("clients_udp", "QLabel", "0", right_vcenter);
        row("groupBox_4", "QGroupBox", "Ports", -1);
        row("checkBox_use_defaults", "QCheckBox", "Use defaults", -1);
        row("label_7", "QLabel", "METERING:", left_vcenter);
        row("lineEdit_METERING", "QLineEdit", QString(), right_vcenter);
        row("label_9", "QLabel", "CONFIG:", left_vcenter);
        row("lineEdit_CONFIGURATION", "QLineEdit", QString(), right_vcenter);
        row("label_10", "QLabel", "CUSTOM:", left_vcenter);
        row("lineEdit_CUSTOM", "QLineEdit", QString(), right_vcenter);
        row("label_6", "QLabel", "LISTEN:", left_vcenter);
        row("lineEdit_LISTEN", "QLineEdit", QString(), right_vcenter);
        row("groupBox_5", "QGroupBox", "WebSocket Interface", -1);
        row("groupBox_8", "QGroupBox", "Status", -1);
        row("label_11", "QLabel", "#Clients", left_vcenter);
        row("clients_ws", "QLabel", "0", right_vcenter);
        row("groupBox_6", "QGroupBox", "Port", -1);
        row("checkBox_use_defaults_ws", "QCheckBox", "Use default", -1);
        row("lineEdit_websocket_port", "QLineEdit", QString(), right_vcenter);
        row("groupBox_3", "QGroupBox", "USB Interface", -1);
        row("START", "QPushButton", "Start", -1);
        row("STOP", "QPushButton", "Stop", -1);
        row("label_status_connection", "QLabel", "stopped", right_vcenter);
        row("checkBox_auto_connect", "QCheckBox", "Auto Connect", -1);
        row("label_16", "QLabel", "RX:", right_vcenter);
        row("rx", "QLabel", "0", right_vcenter);
        row("label_17", "QLabel", "TX:", right_vcenter);
        row("tx", "QLabel", "0", right_vcenter);
    }

    void widgets()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QFETCH(int, alignment);

        const auto found = window->findChildren<QWidget *>(name);
        QCOMPARE(found.size(), 1);
        QWidget *w = found.first();
        QCOMPARE(QString::fromLatin1(w->metaObject()->className()), kind);
        if (!text.isNull())
            QCOMPARE(shown_text(w), text);
        if (alignment >= 0)
            QCOMPARE(int(w->property("alignment").value<Qt::Alignment>()), alignment);
    }

    void gridCells_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("rowSpan");
        QTest::addColumn<int>("columnSpan");

        auto row = [](const char *name, const char *layout, int r, int c, int rs, int cs) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(layout) << r << c << rs << cs;
        };
        row("groupBox_2", "gridLayout_8", 0, 0, 2, 1);
        row("groupBox_7", "gridLayout_2", 0, 0, 1, 1);
        row("label_8", "gridLayout_3", 0, 0, 1, 1);
        row("clients_udp", "gridLayout_3", 0, 1, 1, 1);
        row("groupBox_4", "gridLayout_2", 1, 0, 2, 1);
        row("checkBox_use_defaults", "gridLayout", 0, 0, 1, 2);
        row("label_7", "gridLayout", 1, 0, 1, 1);
        row("lineEdit_METERING", "gridLayout", 1, 1, 1, 1);
        row("label_9", "gridLayout", 2, 0, 1, 1);
        row("lineEdit_CONFIGURATION", "gridLayout", 2, 1, 1, 1);
        row("label_10", "gridLayout", 3, 0, 1, 1);
        row("lineEdit_CUSTOM", "gridLayout", 3, 1, 1, 1);
        row("label_6", "gridLayout", 4, 0, 1, 1);
        row("lineEdit_LISTEN", "gridLayout", 4, 1, 1, 1);
        row("groupBox_5", "gridLayout_8", 0, 1, 1, 1);
        row("groupBox_8", "gridLayout_5", 0, 0, 1, 1);
        row("label_11", "gridLayout_4", 0, 0, 1, 1);
        row("clients_ws", "gridLayout_4", 0, 1, 1, 1);
        row("groupBox_6", "gridLayout_5", 1, 0, 1, 1);
        row("checkBox_use_defaults_ws", "gridLayout_6", 0, 0, 1, 2);
        row("lineEdit_websocket_port", "gridLayout_6", 1, 1, 1, 1);
        row("groupBox_3", "gridLayout_8", 3, 0, 1, 2);
        row("START", "gridLayout_7", 0, 0, 1, 1);
        row("STOP", "gridLayout_7", 0, 1, 1, 3);
        row("label_status_connection", "gridLayout_7", 0, 5, 1, 1);
        row("checkBox_auto_connect", "gridLayout_7", 1, 0, 1, 1);
        row("label_16", "gridLayout_7", 1, 2, 1, 1);
        row("rx", "gridLayout_7", 1, 3, 1, 1);
        row("label_17", "gridLayout_7", 1, 4, 1, 1);
        row("tx", "gridLayout_7", 1, 5, 1, 1);
    }

    void gridCells()
    {
        QFETCH(QString, name);
        QFETCH(QString, layout);
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(int, rowSpan);
        QFETCH(int, columnSpan);

        auto *grid = window->findChild<QGridLayout *>(layout);
        QVERIFY(grid);
        QWidget *w = window->findChild<QWidget *>(name);
        QVERIFY(w);
        QCOMPARE(w->parentWidget(), grid->parentWidget());
        const int index = grid->indexOf(w);
        QVERIFY(index >= 0);
        int r = -1, c = -1, rs = -1, cs = -1;
        grid->getItemPosition(index, &r, &c, &rs, &cs);
        QCOMPARE(r, row);
        QCOMPARE(c, column);
        QCOMPARE(rs, rowSpan);
        QCOMPARE(cs, columnSpan);
    }

    void layouts_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("owner");
        QTest::addColumn<int>("items");
        QTest::newRow("gridLayout_8") << "gridLayout_8"
                                      << "centralWidget" << 5;
        QTest::newRow("gridLayout_2") << "gridLayout_2"
                                      << "groupBox_2" << 2;
        QTest::newRow("gridLayout_3") << "gridLayout_3"
                                      << "groupBox_7" << 2;
        QTest::newRow("gridLayout") << "gridLayout"
                                    << "groupBox_4" << 9;
        QTest::newRow("gridLayout_5") << "gridLayout_5"
                                      << "groupBox_5" << 2;
        QTest::newRow("gridLayout_4") << "gridLayout_4"
                                      << "groupBox_8" << 2;
        QTest::newRow("gridLayout_6") << "gridLayout_6"
                                      << "groupBox_6" << 2;
        QTest::newRow("gridLayout_7") << "gridLayout_7"
                                      << "groupBox_3" << 9;
    }

    void layouts()
    {
        QFETCH(QString, layout);
        QFETCH(QString, owner);
        QFETCH(int, items);
        auto *grid = window->findChild<QGridLayout *>(layout);
        QVERIFY(grid);
        QCOMPARE(grid->parentWidget()->objectName(), owner);
        QCOMPARE(grid->parentWidget()->layout(), grid);
        QCOMPARE(grid->count(), items);
        QCOMPARE(grid->spacing(), 6);
        QCOMPARE(grid->contentsMargins(), QMargins(11, 11, 11, 11));
    }

    void everyLayoutIsAGrid()
    {
        // The eight grids above are the only layouts in the tree.
        const auto grids = window->centralWidget()->findChildren<QGridLayout *>();
        const auto all = window->centralWidget()->findChildren<QLayout *>();
        QCOMPARE(grids.size(), 8);
        QCOMPARE(all.size(), 8);
    }

    void spacers_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QSize>("hint");
        QTest::addColumn<int>("horizontal");
        QTest::addColumn<int>("vertical");
        QTest::newRow("right of the UDP box")
            << "gridLayout_8" << 1 << 1 << QSize(20, 40) << int(QSizePolicy::Minimum) << int(QSizePolicy::Expanding);
        QTest::newRow("above the USB box")
            << "gridLayout_8" << 2 << 0 << QSize(20, 11) << int(QSizePolicy::Minimum) << int(QSizePolicy::Expanding);
        QTest::newRow("after Auto Connect")
            << "gridLayout_7" << 1 << 1 << QSize(88, 20) << int(QSizePolicy::Expanding) << int(QSizePolicy::Minimum);
    }

    void spacers()
    {
        QFETCH(QString, layout);
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QSize, hint);
        QFETCH(int, horizontal);
        QFETCH(int, vertical);
        auto *grid = window->findChild<QGridLayout *>(layout);
        QVERIFY(grid);
        QLayoutItem *item = grid->itemAtPosition(row, column);
        QVERIFY(item);
        QSpacerItem *spacer = item->spacerItem();
        QVERIFY(spacer);
        QCOMPARE(spacer->sizeHint(), hint);
        QCOMPARE(int(spacer->sizePolicy().horizontalPolicy()), horizontal);
        QCOMPARE(int(spacer->sizePolicy().verticalPolicy()), vertical);
    }

    void stopLeavesColumnFourEmpty()
    {
        auto *grid = widget<QGroupBox>("groupBox_3")->findChild<QGridLayout *>("gridLayout_7");
        QVERIFY(grid);
        QCOMPARE(grid->itemAtPosition(0, 3)->widget(), widget("STOP"));
        QVERIFY(!grid->itemAtPosition(0, 4));
    }

    void widths_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("minimum");
        QTest::addColumn<QSize>("maximum");
        QTest::newRow("START") << "START" << QSize(100, 0) << QSize(100, QWIDGETSIZE_MAX);
        QTest::newRow("STOP") << "STOP" << QSize(100, 0) << QSize(100, QWIDGETSIZE_MAX);
        QTest::newRow("label_status_connection")
            << "label_status_connection" << QSize(0, 0) << QSize(80, QWIDGETSIZE_MAX);
        QTest::newRow("rx") << "rx" << QSize(60, 0) << QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        QTest::newRow("tx") << "tx" << QSize(60, 0) << QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }

    void widths()
    {
        QFETCH(QString, name);
        QFETCH(QSize, minimum);
        QFETCH(QSize, maximum);
        QWidget *w = window->findChild<QWidget *>(name);
        QVERIFY(w);
        QCOMPARE(w->minimumSize(), minimum);
        QCOMPARE(w->maximumSize(), maximum);
    }

    void styleSheets_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("style");
        for (const char *name : {"groupBox_4", "groupBox_7", "groupBox_8", "groupBox_6", "clients_udp", "clients_ws",
                                 "tx", "groupBox_2", "START"})
            QTest::newRow(name) << QString::fromLatin1(name) << QString();
        QTest::newRow("rx") << "rx"
                            << "border-color: rgb(0, 0, 0);\n";
        QTest::newRow("label_status_connection") << "label_status_connection" << red;
    }

    void styleSheets()
    {
        QFETCH(QString, name);
        QFETCH(QString, style);
        QWidget *w = window->findChild<QWidget *>(name);
        QVERIFY(w);
        QCOMPARE(w->styleSheet(), style);
    }

    void thinFonts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("weight");
        for (const char *name : {"groupBox_4", "groupBox_7", "groupBox_8", "groupBox_6"})
            QTest::newRow(name) << QString::fromLatin1(name) << int(QFont::Thin);
        // Children inherit the thin font.
        for (const char *name : {"label_8", "clients_udp", "checkBox_use_defaults", "lineEdit_LISTEN", "clients_ws",
                                 "lineEdit_websocket_port"})
            QTest::newRow(name) << QString::fromLatin1(name) << int(QFont::Thin);
        // The outer boxes and the USB box keep the default weight.
        for (const char *name : {"groupBox_2", "groupBox_5", "groupBox_3", "START", "rx"})
            QTest::newRow(name) << QString::fromLatin1(name) << int(QApplication::font().weight());
    }

    void thinFonts()
    {
        QFETCH(QString, name);
        QFETCH(int, weight);
        QWidget *w = window->findChild<QWidget *>(name);
        QVERIFY(w);
        QCOMPARE(int(w->font().weight()), weight);
        QVERIFY(!w->font().bold());
    }

    void focusOrder()
    {
        const QStringList expected{"lineEdit_METERING",        "lineEdit_CUSTOM", "checkBox_use_defaults",
                                   "lineEdit_CONFIGURATION",   "lineEdit_LISTEN", "lineEdit_websocket_port",
                                   "checkBox_use_defaults_ws", "START",           "STOP",
                                   "checkBox_auto_connect"};
        QCOMPARE(focus_chain(window.get(), widget("lineEdit_METERING")), expected);
    }

    void componentsAreChildrenInCreationOrder()
    {
        const QObjectList children = window->children();
        const QList<QObject *> parts{window->device_link(),         window->console(),   window->udp_interface(),
                                     window->websocket_interface(), window->tray_menu(), window->tray_icon()};
        qsizetype previous = -1;
        for (QObject *part : parts) {
            QVERIFY(part);
            QCOMPARE(part->parent(), window.get());
            const qsizetype index = children.indexOf(part);
            QVERIFY(index > previous);
            previous = index;
        }
        QCOMPARE(window->console()->device_link(), window->device_link());
    }

    void trayIconAndMenu()
    {
        QSystemTrayIcon *tray = window->tray_icon();
        QCOMPARE(tray->toolTip(), QStringLiteral("Korvel Control"));
        QCOMPARE(tray->contextMenu(), window->tray_menu());
        QCOMPARE(icon_image(tray->icon()), resource_image(":/resources/png/icon_gray.png"));

        QMenu *menu = window->tray_menu();
        QCOMPARE(menu->title(), QStringLiteral("MyMenu"));
        QStringList entries;
        for (QAction *action : menu->actions())
            entries << action->text();
        QCOMPARE(entries, (QStringList{"Quit", "Settings", "", "Start at login", "Network access", "MQTT…"}));
        QVERIFY(menu->actions().at(2)->isSeparator());
        QCOMPARE(menu->actions().at(3), window->start_at_login_action());
        QVERIFY(menu->actions().at(3)->isCheckable());
        QVERIFY(!menu->actions().at(3)->isChecked()); // off by default
        // Their shortcuts work only in the settings window, so no menu shows them.
        for (QAction *action : menu->actions()) {
            if (!action->shortcut().isEmpty())
                QVERIFY2(!action->isShortcutVisibleInContextMenu(), qPrintable(action->text()));
        }
        QVERIFY(!menu->actions().at(0)->isCheckable());
        QVERIFY(!menu->actions().at(1)->isCheckable());
    }

    // The manual page names every entry of both menus, every shortcut, the files the window writes and every
    // interface, as the running window has them.
    void manualPage()
    {
        QFile file(QStringLiteral(KORVEL_MANUAL_PAGE));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString page = QString::fromUtf8(file.readAll());
        QStringList required;
        for (QAction *action : window->tray_menu()->actions() + window->actions()) {
            if (action->isSeparator())
                continue;
            QString text = action->text();
            text.remove(QChar(0x2026));
            required << QStringLiteral("\n.B ") + text + QLatin1Char('\n');
            if (!action->shortcut().isEmpty())
                required << QStringLiteral("\n.B ") + action->shortcut().toString(QKeySequence::PortableText) +
                                QLatin1Char('\n');
        }
        required << QStringLiteral("~/.config/") + QCoreApplication::organizationName() + QLatin1Char('/') +
                        QFileInfo(QSettings().fileName()).fileName();
        required << QStringLiteral("autostart/") +
                        QFileInfo(Autostart(QStringLiteral("korvel-control.desktop")).path()).fileName();
        QVERIFY(window->websocket_interface() && window->udp_interface() && window->mqtt_service());
        for (const char *interface : {"WebSocket", "UDP", "MQTT"})
            required << QStringLiteral("\n.B ") + QLatin1String(interface) + QLatin1Char('\n');
        for (const QString &text : required)
            QVERIFY2(page.contains(text), qPrintable(QStringLiteral("not in the manual page: ") + text.trimmed()));
    }

    void startAtLogin_data()
    {
        QTest::addColumn<bool>("blocked"); // the autostart directory cannot be made
        QTest::newRow("written and removed") << false;
        QTest::newRow("directory blocked") << true;
    }

    void startAtLogin()
    {
        QFETCH(bool, blocked);
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        QVERIFY(!config.isEmpty());
        const QString directory = config + "/autostart";
        const QString path = directory + "/korvel-control.desktop";
        QDir(directory).removeRecursively();
        QFile::remove(directory);
        if (blocked) {
            QFile file(directory); // a file where the directory should be
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const auto cleanup = qScopeGuard([&] {
            QDir(directory).removeRecursively();
            QFile::remove(directory);
        });

        QAction *action = window->start_at_login_action();
        QVERIFY(!action->isChecked());
        if (blocked)
            QTest::ignoreMessage(QtWarningMsg, qPrintable("Cannot write " + path));
        action->trigger();
        QCOMPARE(action->isChecked(), !blocked);
        QCOMPARE(QFileInfo::exists(path), !blocked);
        if (blocked)
            return;

        QFile entry(path);
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QByteArray text = entry.readAll();
        QVERIFY(text.startsWith("[Desktop Entry]\nType=Application\nName=Korvel Control\n"));
        QVERIFY(text.contains("\nExec=" + Autostart::exec_argument(QCoreApplication::applicationFilePath()).toUtf8() +
                              "\n"));
        entry.close();

        // A new window sees the entry, and unchecking removes it.
        window.reset();
        window = std::make_unique<MainWindow>();
        QVERIFY(window->start_at_login_action()->isChecked());
        window->start_at_login_action()->trigger();
        QVERIFY(!window->start_at_login_action()->isChecked());
        QVERIFY(!QFileInfo::exists(path));
    }

    void autostartExecArgument_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("argument"); // as it stands in the file
        QTest::newRow("plain") << "/usr/bin/korvel-control"
                               << "/usr/bin/korvel-control";
        QTest::newRow("space") << "/home/a b/korvel-control"
                               << "\"/home/a b/korvel-control\"";
        QTest::newRow("dollar") << "/opt/$x/k"
                                << "\"/opt/\\\\$x/k\"";
        QTest::newRow("double quote") << "/opt/a\"b"
                                      << "\"/opt/a\\\\\"b\"";
        QTest::newRow("backslash") << "/opt/a\\b"
                                   << "\"/opt/a\\\\\\\\b\"";
        QTest::newRow("percent") << "/opt/100%/k"
                                 << "/opt/100%%/k";
        QTest::newRow("newline") << "/opt/a\nb"
                                 << "\"/opt/a\\nb\"";
    }

    void autostartExecArgument()
    {
        QFETCH(QString, program);
        QFETCH(QString, argument);
        QCOMPARE(Autostart::exec_argument(program), argument);
        // One line of the entry, whatever the path holds.
        const QStringList lines = Autostart::desktop_entry("Korvel\nControl", program).split('\n');
        QCOMPARE(lines.filter(QRegularExpression("^Exec=")), QStringList{"Exec=" + argument});
        QCOMPARE(lines.filter(QRegularExpression("^Name=")), QStringList{"Name=Korvel Control"});
    }

    void settingsEntryShowsTheWindow()
    {
        QVERIFY(!window->isVisible());
        window->tray_menu()->actions().at(1)->trigger();
        QVERIFY(window->isVisible());
    }

    void trayClickShowsTheWindow_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("shown");
        QTest::newRow("left click") << int(QSystemTrayIcon::Trigger) << true;
        QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << true;
        QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
        QTest::newRow("menu") << int(QSystemTrayIcon::Context) << false;
    }

    void trayClickShowsTheWindow()
    {
        QFETCH(int, reason);
        QFETCH(bool, shown);
        emit window->tray_icon()->activated(static_cast<QSystemTrayIcon::ActivationReason>(reason));
        QCOMPARE(window->isVisible(), shown);
    }

    // Without a tray the window's context menu is the only way to them; every window carries the icon.
    void windowMenuAndIcon()
    {
        QStringList entries;
        for (QAction *action : window->actions())
            entries << action->text();
        QCOMPARE(entries, (QStringList{"Quit", "Start at login", "Network access", "MQTT…"}));
        QCOMPARE(window->actions().at(1), window->start_at_login_action());
        QCOMPARE(window->contextMenuPolicy(), Qt::ActionsContextMenu);
        QCOMPARE(icon_image(window->windowIcon()), resource_image(":/resources/png/icon_gray.png"));
        QCOMPARE(icon_image(QApplication::windowIcon()), resource_image(":/resources/png/icon_gray.png"));
    }

    // The emulated application names itself in every title and marks its tray icon.
    void emulatedIsToldApart()
    {
        const auto restore =
            qScopeGuard([] { QCoreApplication::setApplicationName(QStringLiteral("Korvel Control")); });
        // The other application holds the default ports (or this test does, where the window above does not).
        QTcpServer websocket_holder;
        websocket_holder.listen(QHostAddress::AnyIPv4, 19552);
        QUdpSocket udp_holder;
        udp_holder.bind(QHostAddress::AnyIPv4, 19551, QAbstractSocket::DontShareAddress);
        MainWindow emulated(AppIdentity::emulated());
        QCOMPARE(emulated.windowTitle(), QStringLiteral("Korvel Control v1.1.1 (emulated console)"));
        // The shared ports are said in the window, not only in a passing tray message.
        const QString ports =
            QStringLiteral("WebSocket server: port 19552 is in use\nUDP bridge: port 19551 is in use");
        QVERIFY(emulated.problem_label());
        QCOMPARE(emulated.problem_label()->text(), ports);
        QCOMPARE(emulated.tray_icon()->toolTip(), "Korvel Control (emulated console)\n" + ports);
        QCOMPARE(korvel::app::tray_title(emulated.tray_icon()), QStringLiteral("Korvel Control (emulated console)"));
        QVERIFY(icon_image(emulated.tray_icon()->icon()) != resource_image(":/resources/png/icon_gray.png"));
        QCOMPARE(korvel::app::tray_title(window->tray_icon()), QStringLiteral("Korvel Control"));
        // The mark stays when the link opens.
        QCOMPARE(emulated.device_link()->start(), 0);
        QVERIFY(icon_image(emulated.tray_icon()->icon()) != resource_image(":/resources/png/icon_green.png"));
        QVERIFY(icon_image(emulated.tray_icon()->icon()) != icon_image(emulated.windowIcon()));
    }

    void statusAtStart()
    {
        QCOMPARE(label("label_status_connection")->text(), QStringLiteral("stopped"));
        QCOMPARE(label("label_status_connection")->styleSheet(), red);
        QCOMPARE(window->rx_count(), quint64(0));
        QCOMPARE(window->tx_count(), quint64(0));
        QVERIFY(!window->device_link()->is_connected());
    }

    void openAndClose_data()
    {
        QTest::addColumn<QString>("closed_by");
        QTest::newRow("STOP button") << "button";
        QTest::newRow("read error") << "read error";
        QTest::newRow("stop()") << "stop";
    }

    void openAndClose()
    {
        QFETCH(QString, closed_by);
        QSystemTrayIcon *tray = window->tray_icon();
        QCOMPARE(widget<QPushButton>("START")->isEnabled(), true);

        widget<QPushButton>("START")->click();
        QVERIFY(window->device_link()->is_connected());
        QCOMPARE(label("label_status_connection")->text(), QStringLiteral("running"));
        QCOMPARE(label("label_status_connection")->styleSheet(), green);
        QCOMPARE(icon_image(tray->icon()), resource_image(":/resources/png/icon_green.png"));

        window->on_RX();
        window->on_RX();
        QTRY_COMPARE(label("rx")->text(), QStringLiteral("2"));
        QCOMPARE(label("tx")->text(), QStringLiteral("38"));

        if (closed_by == "button") {
            widget<QPushButton>("STOP")->click();
        } else if (closed_by == "read error") {
            dev().fail_next_read();
            QTRY_VERIFY(!window->device_link()->is_connected());
        } else {
            QCOMPARE(window->device_link()->stop(), 0);
        }

        QVERIFY(!window->device_link()->is_connected());
        QCOMPARE(label("label_status_connection")->text(), QStringLiteral("stopped"));
        QCOMPARE(label("label_status_connection")->styleSheet(), red);
        QCOMPARE(icon_image(tray->icon()), resource_image(":/resources/png/icon_gray.png"));
        QCOMPARE(label("rx")->text(), QStringLiteral("0"));
        QCOMPARE(label("tx")->text(), QStringLiteral("0"));
        QCOMPARE(window->rx_count(), quint64(0));
        QCOMPARE(window->tx_count(), quint64(0));

        // Counting starts again from zero on the next open.
        QCOMPARE(window->device_link()->start(), 0);
        QCOMPARE(label("tx")->text(), QStringLiteral("38"));
        QCOMPARE(label("rx")->text(), QStringLiteral("0"));
    }

    // Why the console is not open, in the window (a line that is there only then), the tray's tooltip and the
    // log, once for each change however often auto-connect tries again.
    void linkProblemIsSaid_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<int>("refusal");
        QTest::addColumn<QString>("text");
        const QString id = QStringLiteral("%1:%2")
                               .arg(korvel::usb::vendor_id, 4, 16, QLatin1Char('0'))
                               .arg(korvel::usb::product_id, 4, 16, QLatin1Char('0'));
        QTest::newRow("absent") << false << int(EmulatedDevice::Refusal::none)
                                << "No console found: no USB device with the id " + id + " is plugged in.";
        QTest::newRow("not permitted")
            << true << int(EmulatedDevice::Refusal::not_permitted)
            << "The console (USB id " + id +
                   ") is there, but this user may not open it. Install the package's udev rule "
                   "70-korvel-control.rules and plug the console in again; for a build with other USB ids, see "
                   "\"The console's USB ids\" in the README.";
        QTest::newRow("busy") << true << int(EmulatedDevice::Refusal::busy)
                              << "The console (USB id " + id +
                                     ") is there, but it cannot be opened; another program may hold it: Failed to "
                                     "open a device with path '/dev/hidraw-emulated': Device or resource busy";
    }

    void linkProblemIsSaid()
    {
        QFETCH(bool, present);
        QFETCH(int, refusal);
        QFETCH(QString, text);
        static QStringList usb_log;
        usb_log.clear();
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &message) {
                if (message.startsWith(QStringLiteral("USB:")))
                    usb_log << message;
            });
        const auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });

        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCOMPARE(window->problem_label(), nullptr);
        QCOMPARE(window->size(), QSize(412, 340));

        dev().set_present(present);
        dev().set_refusal(static_cast<EmulatedDevice::Refusal>(refusal));
        window->device_link()->set_auto_connect(true);
        widget<QPushButton>("START")->click();
        QVERIFY(window->problem_label());
        QCOMPARE(window->problem_label()->text(), text);
        QVERIFY(window->problem_label()->isVisible());
        QCOMPARE(window->tray_icon()->toolTip(), "Korvel Control\n" + text);
        QCOMPARE(label("label_status_connection")->text(), QStringLiteral("stopped"));
        // The form keeps its size; the window grows by the line, wide enough to read it whole.
        QCOMPARE(window->centralWidget()->size(), QSize(412, 340));
        QVERIFY(window->height() > 340);
        QVERIFY(window->problem_label()->height() >=
                window->problem_label()->heightForWidth(window->problem_label()->width()));
        QTRY_VERIFY(dev().failed_open_count() >= 3);
        QCOMPARE(usb_log, QStringList{"USB: " + text});

        dev().set_present(true);
        dev().set_refusal(EmulatedDevice::Refusal::none);
        QTRY_VERIFY(window->device_link()->is_connected());
        QVERIFY(!window->problem_label()->isVisible());
        QCOMPARE(window->tray_icon()->toolTip(), QStringLiteral("Korvel Control"));
        QCOMPARE(window->size(), QSize(412, 340));
        QCOMPARE(usb_log, (QStringList{"USB: " + text, "USB: the console is open"}));
    }

    void startUpRequestsAreCountedBeforeTheWindowHearsOfTheOpen()
    {
        QString tx_at_connected;
        quint64 count_at_connected = 0;
        QString status_at_connected;
        // Connected after the window's own connection, so this runs right after on_connected().
        connect(window->device_link(), &CUSBHID::connected, this, [&] {
            tx_at_connected = label("tx")->text();
            count_at_connected = window->tx_count();
            status_at_connected = label("label_status_connection")->text();
        });
        QCOMPARE(window->device_link()->start(), 0);
        QCOMPARE(status_at_connected, QStringLiteral("running"));
        QCOMPARE(tx_at_connected, QStringLiteral("38"));
        QCOMPARE(count_at_connected, quint64(38));
        QCOMPARE(dev().writes().size(), 38);
    }

    void failedWritesAreCountedToo()
    {
        dev().set_write_fails(true);
        QCOMPARE(window->device_link()->start(), 0);
        QCOMPARE(window->tx_count(), quint64(38));
        QCOMPARE(window->device_link()->write(QByteArray::fromHex("0a")), -1);
        QTRY_COMPARE(label("tx")->text(), QStringLiteral("39"));
    }

    void readReportsAreCounted()
    {
        QCOMPARE(window->device_link()->start(), 0);
        dev().queue_input(QByteArray::fromHex("02ff"));
        dev().queue_input(QByteArray::fromHex("02ff"));
        dev().queue_input(QByteArray::fromHex("02ff"));
        QTRY_COMPARE(label("rx")->text(), QStringLiteral("3"));
        QCOMPARE(window->rx_count(), quint64(3));
    }

    void countsAreSixtyFourBitAndShownInFull()
    {
        static_assert(std::is_same_v<decltype(window->rx_count()), quint64>);
        static_assert(std::is_same_v<decltype(window->tx_count()), quint64>);
        const int n = 70000; // past 16 bits; the label shows every digit
        for (int i = 0; i < n; ++i)
            emit window->device_link()->RX();
        QCOMPARE(window->rx_count(), quint64(n));
        QTRY_COMPARE(label("rx")->text(), QStringLiteral("70000"));
        for (int i = 0; i < 1234; ++i)
            window->on_TX();
        QTRY_COMPARE(label("tx")->text(), QStringLiteral("1234"));
    }

    // A burst of reports is not shown report by report: the labels catch up once, with the exact counts.
    void countersRepaintAfterABurst()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCOMPARE(window->device_link()->start(), 0);
        for (int i = 0; i < 1000; ++i)
            emit window->device_link()->RX();
        window->on_TX();
        QCOMPARE(label("rx")->text(), QStringLiteral("0"));
        QCOMPARE(label("tx")->text(), QStringLiteral("38"));
        QTRY_COMPARE(label("rx")->text(), QStringLiteral("1000"));
        QCOMPARE(label("tx")->text(), QStringLiteral("39"));
        // Closing the link shows the reset at once, and no late repaint brings the old counts back.
        emit window->device_link()->RX();
        QCOMPARE(window->device_link()->stop(), 0);
        QCOMPARE(label("rx")->text(), QStringLiteral("0"));
        QCOMPARE(label("tx")->text(), QStringLiteral("0"));
    }

    void clientCounts_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("clients");
        QTest::addColumn<QString>("udp_text");
        QTest::addColumn<QString>("ws_text");
        QTest::newRow("udp 3") << "udp" << 3 << "3"
                               << "0";
        QTest::newRow("udp 0") << "udp" << 0 << "0"
                               << "0";
        QTest::newRow("udp 1000") << "udp" << 1000 << "1000"
                                  << "0";
        QTest::newRow("ws 2") << "ws" << 2 << "0"
                              << "2";
        QTest::newRow("ws 17") << "ws" << 17 << "0"
                               << "17";
    }

    void clientCounts()
    {
        QFETCH(QString, source);
        QFETCH(int, clients);
        QFETCH(QString, udp_text);
        QFETCH(QString, ws_text);
        if (source == "udp")
            emit window->udp_interface()->nClientsConnected(clients);
        else
            emit window->websocket_interface()->connected_clients(clients);
        QCOMPARE(label("clients_udp")->text(), udp_text);
        QCOMPARE(label("clients_ws")->text(), ws_text);
    }

    void closeButtonHidesAndEverythingKeepsRunning()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCOMPARE(window->device_link()->start(), 0);

        QVERIFY(!window->close()); // refused: the window only hides
        QVERIFY(!window->isVisible());
        QVERIFY(window->device_link()->is_connected());
        QCOMPARE(label("label_status_connection")->text(), QStringLiteral("running"));

        // Reports still arrive and are counted while hidden.
        dev().queue_input(QByteArray::fromHex("02ff"));
        QTRY_COMPARE(label("rx")->text(), QStringLiteral("1"));

        window->tray_menu()->actions().at(1)->trigger();
        QVERIFY(window->isVisible());
    }

    void quitClosesForGood()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        // "Quit" ends the event loop through the toolkit's quit-on-last-window-closed; the loop here stands in
        // for the application's. The fallback exit only keeps a broken build from hanging the test.
        QTimer::singleShot(0, window.get(), [this] { window->tray_menu()->actions().at(0)->trigger(); });
        QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(99); });
        QSignalSpy last_closed(qApp, &QGuiApplication::lastWindowClosed);
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(!window->isVisible());
        QCOMPARE(last_closed.count(), 1);
    }

    void quitWhileHidden()
    {
        QTimer::singleShot(0, window.get(), [this] { window->close_exit(); });
        QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(99); });
        QCOMPARE(QCoreApplication::exec(), 0);
    }

    void destroyingAShownWindowWithAFocusedPortField()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        auto *field = widget<QLineEdit>("lineEdit_LISTEN");
        field->setEnabled(true);
        field->setFocus();
        QVERIFY(field->hasFocus());
        QTest::keyClicks(field, "1");
        QSignalSpy finished(field, &QLineEdit::editingFinished);
        // Hiding during destruction ends the edit; the window must not act on it once its form is gone (a slot
        // call on the half-destroyed window trips Qt's object-type assertion in debug builds).
        window.reset();
        QCOMPARE(finished.count(), 1);
    }

    void slotOrderOfTheMetaObject()
    {
        const QMetaObject &mo = MainWindow::staticMetaObject;
        QStringList slot_list;
        for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
            const QMetaMethod method = mo.method(i);
            QCOMPARE(method.methodType(), QMetaMethod::Slot);
            slot_list << QString::fromLatin1(method.methodSignature());
        }
        QCOMPARE(slot_list,
                 (QStringList{"on_checkBox_use_defaults_clicked()", "on_checkBox_auto_connect_clicked()",
                              "closeEvent(QCloseEvent*)", "close_exit()", "on_checkBox_use_defaults_ws_clicked()",
                              "setUdpPorts()", "setWebSocketPort()", "on_clients_udp(int)", "on_clients_ws(int)",
                              "on_connected()", "on_disconnected()", "on_RX()", "on_TX()"}));
    }

    // The form alone, before the window's constructor and the settings touch it.
    void formAsBuilt()
    {
        QMainWindow bare;
        Ui::MainWindow form;
        form.setupUi(&bare);
        QCOMPARE(bare.objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(bare.windowTitle(), QStringLiteral("MainWindow"));
        QCOMPARE(bare.size(), QSize(412, 340));
        QVERIFY(form.checkBox_use_defaults->isChecked());
        QVERIFY(form.checkBox_use_defaults_ws->isChecked());
        QVERIFY(!form.checkBox_auto_connect->isChecked());
        for (QLineEdit *edit : {form.lineEdit_METERING, form.lineEdit_CONFIGURATION, form.lineEdit_CUSTOM,
                                form.lineEdit_LISTEN, form.lineEdit_websocket_port})
            QVERIFY(edit->text().isEmpty());
        QCOMPARE(form.label_status_connection->text(), QStringLiteral("stopped"));
        QCOMPARE(form.label_status_connection->styleSheet(), red);
    }

    void formKeepsAGivenObjectName()
    {
        QMainWindow bare;
        bare.setObjectName("named");
        Ui::MainWindow form;
        form.setupUi(&bare);
        QCOMPARE(bare.objectName(), QStringLiteral("named"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
