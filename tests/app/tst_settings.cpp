#include "app/mainwindow.h"
#include "app/mqttservice.h"
#include "app/portmonitor.h"
#include "emulator/emulateddevice.h"
#include "privatestore.h"
#include "udp/cudpinterface.h"
#include "usb/cusbhid.h"
#include "websocket/cwebsocketinterface.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDataStream>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <QUdpSocket>
#include <optional>

#include <memory>

using emulator::EmulatedDevice;

namespace {

// Whether the bridge listens on port, or the port is held by another program on a shared machine (our own
// tests take the default ports in turn); then the bridge cannot bind it and that is not its fault.
bool bound_or_taken(const CUDPInterface &udp, int port)
{
    if (int(udp.bound_port()) == port)
        return true;
    QUdpSocket probe;
    return udp.bound_port() == 0 && !probe.bind(QHostAddress::AnyIPv4, quint16(port));
}

const QString organization = QStringLiteral("Velmora");
const QString application = QStringLiteral("Korvel Control");

// A store format that keeps each value's type, so the test can tell an int from a bool (the native format on
// Linux writes everything as text).
bool read_typed(QIODevice &device, QSettings::SettingsMap &map)
{
    if (device.atEnd())
        return true;
    QDataStream in(&device);
    in >> map;
    return in.status() == QDataStream::Ok;
}

bool write_typed(QIODevice &device, const QSettings::SettingsMap &map)
{
    QDataStream out(&device);
    out << map;
    return out.status() == QDataStream::Ok;
}

QSettings::Format typed_format = QSettings::InvalidFormat;
std::optional<PrivateStore> own_store;

const QStringList field_names{"lineEdit_METERING", "lineEdit_CONFIGURATION", "lineEdit_CUSTOM", "lineEdit_LISTEN",
                              "lineEdit_websocket_port"};
const QStringList default_texts{"19548", "19549", "19550", "19551", "19552"};

// The window's widgets, found by object name.
struct Form {
    explicit Form(MainWindow &window)
        : use_defaults(window.findChild<QCheckBox *>("checkBox_use_defaults"))
        , use_defaults_ws(window.findChild<QCheckBox *>("checkBox_use_defaults_ws"))
        , auto_connect(window.findChild<QCheckBox *>("checkBox_auto_connect"))
        , start(window.findChild<QPushButton *>("START"))
        , stop(window.findChild<QPushButton *>("STOP"))
    {
        for (const QString &name : field_names)
            fields.append(window.findChild<QLineEdit *>(name));
    }
    bool complete() const
    {
        return use_defaults && use_defaults_ws && auto_connect && start && stop && !fields.contains(nullptr);
    }
    QStringList texts() const
    {
        QStringList out;
        for (const QLineEdit *field : fields)
            out.append(field->text());
        return out;
    }
    QLineEdit *field(const QString &name) const { return fields.at(field_names.indexOf(name)); }

    QCheckBox *use_defaults;
    QCheckBox *use_defaults_ws;
    QCheckBox *auto_connect;
    QPushButton *start;
    QPushButton *stop;
    QList<QLineEdit *> fields;
};

// Replaces the store's content with `stored`, in the current default format.
void store(const QVariantMap &stored)
{
    QSettings settings;
    settings.clear();
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        settings.setValue(it.key(), it.value());
    settings.sync();
}

QVariantMap stored_values()
{
    QSettings settings;
    QVariantMap out;
    for (const QString &key : settings.allKeys())
        out.insert(key, settings.value(key));
    return out;
}

// Replaces a field's text by typing, as the user would, without ending the edit.
void type_only(QLineEdit *field, const QString &text)
{
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
}

// Types into a field and presses Return.
void type_into(QLineEdit *field, const QString &text)
{
    type_only(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

const QVariantMap own_ports{
    {"udp_default_ports", false}, {"udp_metering_port", 20001}, {"udp_config_port", 20002}, {"udp_custom_port", 20003},
    {"udp_listen_port", 20000},   {"auto_connect", false},      {"ws_default_port", false}, {"ws_port", 20004},
};

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startFromStore_data();
    void startFromStore();
    void storedPortOutOfRangeIsReplacedByDefault_data();
    void storedPortOutOfRangeIsReplacedByDefault();
    void uncheckingUseDefaultsKeepsNumbersAndRebinds();
    void uncheckingUseDefaultWsEnablesField();
    void autoConnectBoxSwitchesButtonsAndLink();
    void portFieldsTakeOnlyPorts_data();
    void portFieldsTakeOnlyPorts();
    void invalidTextFallsBackToLastAppliedPort();
    void closeRequestWritesAllKeys_data();
    void closeRequestWritesAllKeys();
    void everyCloseRequestAndDestructionWrites();
    void heldPortIsShownAndRetried_data();
    void heldPortIsShownAndRetried();
    void everyWriteKeepsTheStorePrivate_data();
    void everyWriteKeepsTheStorePrivate();
};

void TestSettings::initTestCase()
{
    // Never the user's own store, even when run outside ctest.
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(organization);
    QCoreApplication::setApplicationName(application);
    typed_format = QSettings::registerFormat("typed", read_typed, write_typed);
    QVERIFY(typed_format != QSettings::InvalidFormat);
    own_store.emplace(std::initializer_list<QSettings::Format>{typed_format});
    QVERIFY(own_store->ready());
}

void TestSettings::init()
{
    EmulatedDevice::instance().reset();
    QSettings::setDefaultFormat(QSettings::NativeFormat);
    store({});
}

void TestSettings::cleanup()
{
    QSettings::setDefaultFormat(QSettings::NativeFormat);
}

void TestSettings::startFromStore_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<bool>("use_defaults");
    QTest::addColumn<bool>("use_defaults_ws");
    QTest::addColumn<bool>("auto_connect");
    QTest::addColumn<QStringList>("texts");

    QTest::newRow("empty store: first start") << QVariantMap{} << true << true << true << default_texts;
    QTest::newRow("own UDP ports") << QVariantMap{{"udp_default_ports", false},
                                                  {"udp_listen_port", 20000},
                                                  {"udp_metering_port", 20001},
                                                  {"udp_config_port", 20002},
                                                  {"udp_custom_port", 20003}}
                                   << false << true << false
                                   << QStringList{"20001", "20002", "20003", "20000", "19552"};
    QTest::newRow("use_defaults without auto_connect")
        << QVariantMap{{"udp_default_ports", true}} << true << true << false << default_texts;
    QTest::newRow("auto_connect on") << QVariantMap{{"udp_default_ports", true}, {"auto_connect", true}} << true << true
                                     << true << default_texts;
    QTest::newRow("auto_connect alone is not a first start")
        << QVariantMap{{"auto_connect", true}} << true << true << true << default_texts;
    QTest::newRow("defaults override stored UDP ports")
        << QVariantMap{{"udp_default_ports", true}, {"udp_listen_port", 20000}, {"udp_metering_port", 20001}} << true
        << true << false << default_texts;
    QTest::newRow("own WebSocket port") << QVariantMap{{"ws_default_port", false}, {"ws_port", 20004}} << true << false
                                        << true << QStringList{"19548", "19549", "19550", "19551", "20004"};
    QTest::newRow("default WebSocket port overrides stored one")
        << QVariantMap{{"ws_default_port", true}, {"ws_port", 20004}} << true << true << true << default_texts;
    QTest::newRow("everything own") << own_ports << false << false << false
                                    << QStringList{"20001", "20002", "20003", "20000", "20004"};
}

void TestSettings::startFromStore()
{
    QFETCH(QVariantMap, stored);
    QFETCH(bool, use_defaults);
    QFETCH(bool, use_defaults_ws);
    QFETCH(bool, auto_connect);
    QFETCH(QStringList, texts);

    store(stored);
    MainWindow window;
    Form form(window);
    QVERIFY(form.complete());
    // Reading and applying the store is no change of the user's: nothing is written back.
    QCOMPARE(stored_values(), stored);

    QCOMPARE(form.use_defaults->isChecked(), use_defaults);
    QCOMPARE(form.use_defaults_ws->isChecked(), use_defaults_ws);
    QCOMPARE(form.auto_connect->isChecked(), auto_connect);
    QCOMPARE(form.texts(), texts);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(form.fields.at(i)->isEnabled(), !use_defaults);
    QCOMPARE(form.fields.at(4)->isEnabled(), !use_defaults_ws);
    QCOMPARE(form.start->isEnabled(), !auto_connect);
    QCOMPARE(form.stop->isEnabled(), !auto_connect);

    QVERIFY(bound_or_taken(*window.udp_interface(), texts.at(3).toInt()));
    // The default WebSocket port may be taken by another program on a shared machine; an own one is checked.
    if (!use_defaults_ws)
        QCOMPARE(int(window.websocket_interface()->listening_port()), texts.at(4).toInt());
    CUSBHID *link = window.device_link();
    QCOMPARE(link->is_auto_connect(), auto_connect);
    if (auto_connect)
        QTRY_VERIFY(link->is_connected());
    else
        QVERIFY(!link->is_connected());
}

void TestSettings::storedPortOutOfRangeIsReplacedByDefault_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");

    QTest::newRow("listen 0") << "udp_listen_port" << QVariant(0) << "lineEdit_LISTEN"
                              << "19551";
    QTest::newRow("listen 70000") << "udp_listen_port" << QVariant(70000) << "lineEdit_LISTEN"
                                  << "19551";
    QTest::newRow("listen -1") << "udp_listen_port" << QVariant(-1) << "lineEdit_LISTEN"
                               << "19551";
    QTest::newRow("listen letters") << "udp_listen_port" << QVariant("abc") << "lineEdit_LISTEN"
                                    << "19551";
    QTest::newRow("listen empty") << "udp_listen_port" << QVariant("") << "lineEdit_LISTEN"
                                  << "19551";
    QTest::newRow("listen missing") << "udp_listen_port" << QVariant() << "lineEdit_LISTEN"
                                    << "19551";
    QTest::newRow("listen 20000 kept") << "udp_listen_port" << QVariant(20000) << "lineEdit_LISTEN"
                                       << "20000";
    QTest::newRow("metering 65536") << "udp_metering_port" << QVariant(65536) << "lineEdit_METERING"
                                    << "19548";
    QTest::newRow("metering 65535 kept") << "udp_metering_port" << QVariant(65535) << "lineEdit_METERING"
                                         << "65535";
    QTest::newRow("config 4294967297") << "udp_config_port" << QVariant(Q_INT64_C(4294967297))
                                       << "lineEdit_CONFIGURATION"
                                       << "19549";
    QTest::newRow("config 1 kept") << "udp_config_port" << QVariant(1) << "lineEdit_CONFIGURATION"
                                   << "1";
    QTest::newRow("custom 0") << "udp_custom_port" << QVariant(0) << "lineEdit_CUSTOM"
                              << "19550";
    QTest::newRow("custom 12.5") << "udp_custom_port" << QVariant("12.5") << "lineEdit_CUSTOM"
                                 << "19550";
    QTest::newRow("websocket 0") << "ws_port" << QVariant(0) << "lineEdit_websocket_port"
                                 << "19552";
    QTest::newRow("websocket 70000") << "ws_port" << QVariant(70000) << "lineEdit_websocket_port"
                                     << "19552";
    QTest::newRow("websocket letters") << "ws_port" << QVariant("x1") << "lineEdit_websocket_port"
                                       << "19552";
}

void TestSettings::storedPortOutOfRangeIsReplacedByDefault()
{
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(QString, field);
    QFETCH(QString, text);

    QVariantMap stored{{"udp_default_ports", false}, {"ws_default_port", false}};
    if (value.isValid())
        stored.insert(key, value);
    store(stored);
    MainWindow window;
    Form form(window);
    QVERIFY(form.complete());
    QVERIFY(form.field(field)->isEnabled());
    QCOMPARE(form.field(field)->text(), text);
    if (field == "lineEdit_LISTEN")
        QVERIFY(bound_or_taken(*window.udp_interface(), text.toInt()));

    // The replacement is what is stored next.
    window.close();
    QCOMPARE(QSettings().value(key).toInt(), text.toInt());
}

void TestSettings::uncheckingUseDefaultsKeepsNumbersAndRebinds()
{
    MainWindow window;
    Form form(window);
    QVERIFY(form.complete());
    auto *socket = window.udp_interface()->findChild<QUdpSocket *>();
    QVERIFY(socket);
    QCOMPARE(window.udp_interface()->bound_port(), quint16(19551));
    QSignalSpy states(socket, &QAbstractSocket::stateChanged);

    form.use_defaults->click();
    QVERIFY(!form.use_defaults->isChecked());
    QCOMPARE(QSettings().value("udp_default_ports").toBool(), false);
    QCOMPARE(form.texts(), default_texts);
    for (int i = 0; i < 4; ++i)
        QVERIFY(form.fields.at(i)->isEnabled());
    QVERIFY(!form.fields.at(4)->isEnabled());
    // Closed and bound again, to the same port.
    QList<QAbstractSocket::SocketState> seen;
    for (const QList<QVariant> &args : states)
        seen.append(args.at(0).value<QAbstractSocket::SocketState>());
    QCOMPARE(seen, (QList<QAbstractSocket::SocketState>{
                       QAbstractSocket::ClosingState, QAbstractSocket::UnconnectedState, QAbstractSocket::BoundState}));
    QCOMPARE(window.udp_interface()->bound_port(), quint16(19551));

    // An own port, then back to the defaults: the fields are reset and disabled again.
    window.show();
    type_into(form.field("lineEdit_LISTEN"), "20005");
    QCOMPARE(window.udp_interface()->bound_port(), quint16(20005));
    form.use_defaults->click();
    QVERIFY(form.use_defaults->isChecked());
    QCOMPARE(form.texts(), default_texts);
    for (int i = 0; i < 4; ++i)
        QVERIFY(!form.fields.at(i)->isEnabled());
    QCOMPARE(window.udp_interface()->bound_port(), quint16(19551));
}

void TestSettings::uncheckingUseDefaultWsEnablesField()
{
    MainWindow window;
    Form form(window);
    QVERIFY(form.complete());
    QVERIFY(!form.field("lineEdit_websocket_port")->isEnabled());
    form.use_defaults_ws->click();
    QVERIFY(!form.use_defaults_ws->isChecked());
    QVERIFY(form.field("lineEdit_websocket_port")->isEnabled());
    QCOMPARE(form.field("lineEdit_websocket_port")->text(), "19552");

    window.show();
    type_into(form.field("lineEdit_websocket_port"), "20006");
    QCOMPARE(window.websocket_interface()->listening_port(), quint16(20006));
    form.use_defaults_ws->click();
    QVERIFY(!form.field("lineEdit_websocket_port")->isEnabled());
    QCOMPARE(form.field("lineEdit_websocket_port")->text(), "19552");
}

void TestSettings::autoConnectBoxSwitchesButtonsAndLink()
{
    store({{"udp_default_ports", true}});
    MainWindow window;
    Form form(window);
    QVERIFY(form.complete());
    CUSBHID *link = window.device_link();
    QVERIFY(form.start->isEnabled());
    QVERIFY(form.stop->isEnabled());

    form.start->click();
    QVERIFY(link->is_connected());
    form.stop->click();
    QVERIFY(!link->is_connected());

    form.auto_connect->click();
    QVERIFY(form.auto_connect->isChecked());
    QCOMPARE(QSettings().value("auto_connect").toBool(), true);
    QVERIFY(!form.start->isEnabled());
    QVERIFY(!form.stop->isEnabled());
    QVERIFY(link->is_auto_connect());
    QTRY_VERIFY(link->is_connected());

    // Switching it off leaves an open link open.
    form.auto_connect->click();
    QVERIFY(!form.auto_connect->isChecked());
    QVERIFY(form.start->isEnabled());
    QVERIFY(form.stop->isEnabled());
    QVERIFY(!link->is_auto_connect());
    QVERIFY(link->is_connected());
}

void TestSettings::portFieldsTakeOnlyPorts_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("typed");
    // What the validator lets into the field while typing, and the field's text once the edit ends.
    QTest::addColumn<QString>("while_typing");
    QTest::addColumn<QString>("text");

    QTest::newRow("listen: letters") << "lineEdit_LISTEN"
                                     << "udp_listen_port"
                                     << "abc"
                                     << ""
                                     << "20000";
    QTest::newRow("listen: 0") << "lineEdit_LISTEN"
                               << "udp_listen_port"
                               << "0"
                               << "0"
                               << "20000";
    QTest::newRow("listen: 00") << "lineEdit_LISTEN"
                                << "udp_listen_port"
                                << "00"
                                << "00"
                                << "20000";
    QTest::newRow("listen: 70000") << "lineEdit_LISTEN"
                                   << "udp_listen_port"
                                   << "70000"
                                   << "70000"
                                   << "20000";
    QTest::newRow("listen: 700000") << "lineEdit_LISTEN"
                                    << "udp_listen_port"
                                    << "700000"
                                    << "70000"
                                    << "20000";
    QTest::newRow("listen: minus") << "lineEdit_LISTEN"
                                   << "udp_listen_port"
                                   << "-"
                                   << ""
                                   << "20000";
    QTest::newRow("listen: empty") << "lineEdit_LISTEN"
                                   << "udp_listen_port"
                                   << ""
                                   << ""
                                   << "20000";
    QTest::newRow("listen: 20010") << "lineEdit_LISTEN"
                                   << "udp_listen_port"
                                   << "20010"
                                   << "20010"
                                   << "20010";
    QTest::newRow("metering: 65536") << "lineEdit_METERING"
                                     << "udp_metering_port"
                                     << "65536"
                                     << "65536"
                                     << "20001";
    QTest::newRow("metering: 65535") << "lineEdit_METERING"
                                     << "udp_metering_port"
                                     << "65535"
                                     << "65535"
                                     << "65535";
    QTest::newRow("config: 1") << "lineEdit_CONFIGURATION"
                               << "udp_config_port"
                               << "1"
                               << "1"
                               << "1";
    QTest::newRow("config: 1.5") << "lineEdit_CONFIGURATION"
                                 << "udp_config_port"
                                 << "1.5"
                                 << "15"
                                 << "15";
    QTest::newRow("config: 2,000") << "lineEdit_CONFIGURATION"
                                   << "udp_config_port"
                                   << "2,000"
                                   << "2000"
                                   << "2000";
    QTest::newRow("custom: 0") << "lineEdit_CUSTOM"
                               << "udp_custom_port"
                               << "0"
                               << "0"
                               << "20003";
    QTest::newRow("custom: space") << "lineEdit_CUSTOM"
                                   << "udp_custom_port"
                                   << " 80"
                                   << "80"
                                   << "80";
    QTest::newRow("websocket: letters") << "lineEdit_websocket_port"
                                        << "ws_port"
                                        << "port"
                                        << ""
                                        << "20004";
    QTest::newRow("websocket: 70000") << "lineEdit_websocket_port"
                                      << "ws_port"
                                      << "70000"
                                      << "70000"
                                      << "20004";
    QTest::newRow("websocket: 20020") << "lineEdit_websocket_port"
                                      << "ws_port"
                                      << "20020"
                                      << "20020"
                                      << "20020";
}

void TestSettings::portFieldsTakeOnlyPorts()
{
    QFETCH(QString, field);
    QFETCH(QString, key);
    QFETCH(QString, typed);
    QFETCH(QString, while_typing);
    QFETCH(QString, text);

    store(own_ports);
    MainWindow window;
    Form form(window);
    QVERIFY(form.complete());
    window.show();
    QLineEdit *edit = form.field(field);
    QSignalSpy finished(edit, &QLineEdit::editingFinished);

    type_only(edit, typed);
    QCOMPARE(edit->text(), while_typing);
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(edit->text(), text);
    // An invalid text is put back and the port applied again; it never reaches the bridge or the store.
    QCOMPARE(finished.count(), 1);
    if (field == "lineEdit_LISTEN")
        QVERIFY(bound_or_taken(*window.udp_interface(), text.toInt()));
    if (field == "lineEdit_websocket_port")
        QCOMPARE(int(window.websocket_interface()->listening_port()), text.toInt());
    // Applied, so stored: before any close request.
    QCOMPARE(QSettings().value(key).toInt(), text.toInt());
    window.close();
    QCOMPARE(QSettings().value(key).toInt(), text.toInt());
}

void TestSettings::invalidTextFallsBackToLastAppliedPort()
{
    store(own_ports);
    MainWindow window;
    Form form(window);
    QVERIFY(form.complete());
    window.show();
    QLineEdit *listen = form.field("lineEdit_LISTEN");

    type_into(listen, "20011");
    QCOMPARE(window.udp_interface()->bound_port(), quint16(20011));
    type_into(listen, "0");
    QCOMPARE(listen->text(), "20011");

    // A text put in without the validator is not applied either.
    listen->setText("abc");
    window.setUdpPorts();
    QCOMPARE(listen->text(), "20011");
    QCOMPARE(window.udp_interface()->bound_port(), quint16(20011));

    // A half-typed text left in the field is not stored; the last applied port is.
    type_only(listen, "70000");
    QCOMPARE(listen->text(), "70000");
    window.close();
    QCOMPARE(QSettings().value("udp_listen_port").toInt(), 20011);
}

void TestSettings::closeRequestWritesAllKeys_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QVariantMap>("written");

    QTest::newRow("first start") << QVariantMap{}
                                 << QVariantMap{{"udp_default_ports", true}, {"udp_metering_port", 19548},
                                                {"udp_config_port", 19549},  {"udp_custom_port", 19550},
                                                {"udp_listen_port", 19551},  {"auto_connect", true},
                                                {"ws_default_port", true},   {"ws_port", 19552}};
    QTest::newRow("own ports") << own_ports << own_ports;
    QTest::newRow("defaults over stored ports")
        << QVariantMap{{"udp_default_ports", true},
                       {"udp_listen_port", 20000},
                       {"ws_default_port", true},
                       {"ws_port", 20004}}
        << QVariantMap{{"udp_default_ports", true}, {"udp_metering_port", 19548},
                       {"udp_config_port", 19549},  {"udp_custom_port", 19550},
                       {"udp_listen_port", 19551},  {"auto_connect", false},
                       {"ws_default_port", true},   {"ws_port", 19552}};
}

void TestSettings::closeRequestWritesAllKeys()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QVariantMap, written);

    QSettings::setDefaultFormat(typed_format);
    store(stored);
    MainWindow window;
    store({});
    window.show();
    window.close();
    // The close button only hides the window.
    QVERIFY(!window.isVisible());

    const QVariantMap values = stored_values();
    QCOMPARE(values, written);
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const bool is_switch =
            it.key().endsWith("default_ports") || it.key().endsWith("default_port") || it.key() == "auto_connect";
        QCOMPARE(it.value().typeId(), is_switch ? QMetaType::Bool : QMetaType::Int);
    }
}

void TestSettings::everyCloseRequestAndDestructionWrites()
{
    auto window = std::make_unique<MainWindow>();
    window->show();
    window->close();
    QCOMPARE(stored_values().size(), 8);
    store({});
    window->show();
    window->close();
    QCOMPARE(stored_values().size(), 8);
    QCOMPARE(QSettings().value("udp_listen_port").toInt(), 19551);

    // A change made after the last close request reaches the store when the window goes.
    Form form(*window);
    QVERIFY(form.complete());
    form.use_defaults->click();
    window->show();
    type_into(form.field("lineEdit_LISTEN"), "20007");
    store({});
    window.reset();
    QCOMPARE(stored_values().size(), 8);
    QCOMPARE(QSettings().value("udp_listen_port").toInt(), 20007);
    QCOMPARE(QSettings().value("udp_default_ports").toBool(), false);
}

void TestSettings::heldPortIsShownAndRetried_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<QString>("name");
    // How the hold ends: "release" frees the port, "change" applies another one.
    QTest::addColumn<QString>("ending");

    const auto rows = [](const char *field, const char *key, bool tcp, const char *name, const char *what) {
        QTest::addRow("%s released", what) << field << key << tcp << name << "release";
        QTest::addRow("%s changed", what) << field << key << tcp << name << "change";
    };
    rows("lineEdit_websocket_port", "ws_port", true, "WebSocket server", "websocket port");
    rows("lineEdit_LISTEN", "udp_listen_port", false, "UDP bridge", "UDP listen port");
}

void TestSettings::heldPortIsShownAndRetried()
{
    QFETCH(QString, field);
    QFETCH(QString, key);
    QFETCH(bool, tcp);
    QFETCH(QString, name);
    QFETCH(QString, ending);

    // Another program on the port, the way such a program usually holds it.
    QTcpServer tcp_holder;
    QUdpSocket udp_holder;
    int port = 0;
    if (tcp) {
        QVERIFY(tcp_holder.listen(QHostAddress::AnyIPv4));
        port = tcp_holder.serverPort();
    } else {
        QVERIFY(udp_holder.bind(QHostAddress::AnyIPv4, 0, QAbstractSocket::DontShareAddress));
        port = udp_holder.localPort();
    }
    QVariantMap stored = own_ports;
    stored.insert(key, port);
    store(stored);

    const QString problem = QStringLiteral("port %1 is in use").arg(port);
    // One log line, however often it is tried again.
    QTest::ignoreMessage(QtWarningMsg, qPrintable(name + ": " + problem));
    MainWindow window;
    QTest::failOnWarning(QRegularExpression(problem)); // and no second line
    Form form(window);
    QVERIFY(form.complete());
    PortMonitor *monitor = window.port_monitor();
    QSignalSpy found(monitor, &PortMonitor::problem_found);
    QSignalSpy solved(monitor, &PortMonitor::problem_solved);
    monitor->set_retry_interval(50);

    QLineEdit *edit = form.field(field);
    QCOMPARE(edit->toolTip(), problem);
    QCOMPARE(edit->styleSheet(), QStringLiteral("color: rgb(255, 0, 0);"));
    QCOMPARE(edit->text(), QString::number(port)); // the port stays what the user chose
    QTest::qWait(300);                             // several tries
    QCOMPARE(found.count(), 0);                    // reported once, at the start
    QCOMPARE(solved.count(), 0);
    if (tcp)
        QVERIFY(!window.websocket_interface()->is_listening());
    else
        QCOMPARE(window.udp_interface()->bound_port(), quint16(0));

    int open_port = port;
    if (ending == "release") {
        tcp_holder.close();
        udp_holder.close();
        QTRY_COMPARE(solved.count(), 1);
    } else {
        window.show();
        open_port = port == 20009 ? 20010 : 20009;
        type_into(edit, QString::number(open_port));
        QCOMPARE(solved.count(), 1);
    }
    QCOMPARE(edit->toolTip(), QString());
    QCOMPARE(edit->styleSheet(), QString());
    QCOMPARE(monitor->problem(0) + monitor->problem(1), QString());
    if (tcp)
        QCOMPARE(int(window.websocket_interface()->listening_port()), open_port);
    else
        QCOMPARE(int(window.udp_interface()->bound_port()), open_port);
    QCOMPARE(found.count(), 0);
}

QTEST_MAIN(TestSettings)
// The store may hold the WebSocket secret and the MQTT password: whatever writes it leaves it readable by its
// user only, even when it was readable by others before (a store of an earlier version).
void TestSettings::everyWriteKeepsTheStorePrivate_data()
{
    QTest::addColumn<QString>("write");
    QTest::newRow("ports, on closing the window") << "ports";
    QTest::newRow("network access, from its dialog") << "network access";
    QTest::newRow("MQTT settings") << "mqtt";
}

void TestSettings::everyWriteKeepsTheStorePrivate()
{
    QFETCH(QString, write);
    const QString file = QSettings().fileName();
    constexpr QFile::Permissions user_only = QFile::ReadOwner | QFile::WriteOwner;
    constexpr QFile::Permissions readable = user_only | QFile::ReadGroup | QFile::ReadOther;
    // Qt reports the owner's permissions twice, as the owner's and (for the owner) the user's.
    const auto others = [&] { return QFile::permissions(file) & ~(QFile::ReadUser | QFile::WriteUser); };
    store({{"udp_default_ports", true}});
    QVERIFY(QFile::setPermissions(file, readable));
    // At start, and after each write.
    MainWindow window;
    QCOMPARE(others(), user_only);
    QVERIFY(QFile::setPermissions(file, readable));

    if (write == "ports") {
        window.show();
        window.close();
    } else if (write == "network access") {
        QAction *action = nullptr;
        for (QAction *candidate : window.findChildren<QAction *>()) {
            if (candidate->text() == "Network access")
                action = candidate;
        }
        QVERIFY(action);
        // The dialog is modal: accepted from within its own event loop.
        QTimer::singleShot(0, &window, [] {
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                dialog->accept();
        });
        action->trigger();
    } else {
        korvel::app::MqttService *mqtt = window.mqtt_service();
        QVERIFY(mqtt);
        mqtt->apply(mqtt->config(), std::nullopt);
    }
    QCOMPARE(others(), user_only);
}

#include "tst_settings.moc"
