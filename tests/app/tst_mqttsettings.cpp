// The MQTT client's settings: the stored keys and their types, the dialog's checks, the password kept where no
// keyring answers, and the application connecting to a real broker from its store.
#include "app/mainwindow.h"
#include "app/mqttconfig.h"
#include "app/mqttdialog.h"
#include "app/mqttpassword.h"
#include "app/mqttservice.h"
#include "console/ckorvel.h"
#include "emulator/emulateddevice.h"
#include "mqtt/bridge.h"
#include "mqtt/broker.h"
#include "mqtt/probe.h"
#include "privatestore.h"
#include "usb/cusbhid.h"
#include "usb/usbids.h"
#include "websocket/cwebsocketinterface.h"

#include <QCheckBox>
#include <QDataStream>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using korvel::app::MqttConfig;
using korvel::app::MqttDialog;
using korvel::app::MqttPassword;
using korvel::app::MqttService;

namespace {

// A store format that keeps each value's type, so the test can tell an int from a bool or a text.
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

template <class W>
W *child(QWidget &parent, const char *name)
{
    return parent.findChild<W *>(QString::fromLatin1(name));
}

QString problem_shown(MqttDialog &dialog, const char *name)
{
    QLabel *label = child<QLabel>(dialog, name);
    return label && !label->isHidden() ? label->text() : QString();
}

// Counts the log lines that begin with a text, passing every message on to the test's own handler.
QtMessageHandler previous_handler = nullptr;
QStringList log_lines;
void record_log(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    log_lines.append(message);
    previous_handler(type, context, message);
}
int logged(const QString &line)
{
    return int(log_lines.count(line));
}

// What the application's MQTT client serves, made as the window makes them.
struct Served {
    CUSBHID usb{nullptr, korvel::usb::vendor_id, korvel::usb::product_id};
    CKorvel korvel{&usb, nullptr};
    CWebSocketInterface websocket{&korvel, nullptr};
};

const QString no_keyring_note =
    QStringLiteral("No keyring available: the password is kept in the settings file, readable by you only.");

} // namespace

class TestMqttSettings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("Velmora"));
        QCoreApplication::setApplicationName(QStringLiteral("Korvel Control"));
        typed_format = QSettings::registerFormat("typed", read_typed, write_typed);
        QVERIFY(typed_format != QSettings::InvalidFormat);
        own_store.emplace(std::initializer_list<QSettings::Format>{typed_format});
        QVERIFY(own_store->ready());
        previous_handler = qInstallMessageHandler(record_log);
    }

    void init()
    {
        emulator::EmulatedDevice::instance().reset();
        QSettings::setDefaultFormat(QSettings::NativeFormat);
        store({});
        log_lines.clear();
    }

    void cleanup() { QSettings::setDefaultFormat(QSettings::NativeFormat); }

    void storedKeys_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<QVariantMap>("read");

        const QVariantMap defaults{{"mqtt_enabled", false},    {"mqtt_host", ""},      {"mqtt_port", 0},
                                   {"mqtt_tls", false},        {"mqtt_user", ""},      {"mqtt_prefix", ""},
                                   {"mqtt_metering_rate", 20}, {"mqtt_client_id", ""}, {"mqtt_ca_file", ""},
                                   {"mqtt_client_cert", ""},   {"mqtt_client_key", ""}};
        const QVariantMap own{{"mqtt_enabled", true},
                              {"mqtt_host", "broker.example"},
                              {"mqtt_port", 8884},
                              {"mqtt_tls", true},
                              {"mqtt_user", "studio1"},
                              {"mqtt_prefix", "house/a"},
                              {"mqtt_metering_rate", 0},
                              {"mqtt_client_id", "desk-a"},
                              {"mqtt_ca_file", "/etc/korvel/facility-ca.pem"},
                              {"mqtt_client_cert", "/etc/korvel/studio-a.crt"},
                              {"mqtt_client_key", "/etc/korvel/studio-a.key"}};
        QTest::newRow("nothing stored: off, defaults") << QVariantMap{} << defaults;
        QTest::newRow("everything own") << own << own;
        QVariantMap highest = own;
        highest.insert("mqtt_port", 65535);
        highest.insert("mqtt_metering_rate", 1000);
        QTest::newRow("highest port and rate") << highest << highest;

        const auto replaced = [&](const char *key, const QVariant &bad) {
            QVariantMap stored = own;
            stored.insert(key, bad);
            QVariantMap read = own;
            read.insert(key, defaults.value(key));
            QTest::addRow("%s %s: default", key, qPrintable(bad.toString())) << stored << read;
        };
        replaced("mqtt_port", 65536);
        replaced("mqtt_port", -1);
        replaced("mqtt_port", "x1");
        replaced("mqtt_port", Q_INT64_C(4294969184)); // 1888 once wrapped to 32 bits
        replaced("mqtt_metering_rate", 1001);
        replaced("mqtt_metering_rate", -5);
        replaced("mqtt_metering_rate", "fast");
        replaced("mqtt_enabled", "yes");
        replaced("mqtt_tls", 7);
    }

    // Read back exactly, each key with its own type; a bad stored value reads as the default.
    void storedKeys()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(QVariantMap, read);

        QSettings::setDefaultFormat(typed_format);
        store(stored);
        const MqttConfig config = MqttConfig::load(QSettings());
        store({});
        {
            QSettings settings;
            config.save(settings);
        }
        const QVariantMap written = stored_values();
        QCOMPARE(written, read);
        for (auto it = written.cbegin(); it != written.cend(); ++it) {
            const QString key = it.key();
            const bool is_switch = key == "mqtt_enabled" || key == "mqtt_tls";
            const bool is_number = key == "mqtt_port" || key == "mqtt_metering_rate";
            QCOMPARE(it.value().typeId(),
                     is_switch ? QMetaType::Bool : (is_number ? QMetaType::Int : QMetaType::QString));
        }
        // The native store keeps text; the same values come back from it.
        QSettings::setDefaultFormat(QSettings::NativeFormat);
        store(read);
        QVERIFY(MqttConfig::load(QSettings()) == config);
    }

    void dialogChecks_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("prefix");
        // The refusal shown at its field, "field: text", or empty when the choice is taken.
        QTest::addColumn<QString>("refusal");
        // The port stored when taken.
        QTest::addColumn<int>("stored_port");

        const QString bad_port =
            "mqtt_port_problem: A port is a number from 1 to 65535; empty or 0 takes the usual port.";
        const QString wildcard = "mqtt_prefix_problem: A topic prefix cannot contain + or #: they are wildcards.";
        const QString pair = "A client certificate and its key are given together.";
        // Only refused rows are enabled: a taken one stays off, so no test row connects anywhere.
        const auto row = [](const char *name, const QString &host, const QString &port, const QString &prefix,
                            const QString &refusal, int stored_port = 0, bool enabled = false) {
            QTest::newRow(name) << enabled << host << port << prefix << refusal << stored_port;
        };
        row("all given", "broker.example", "1884", "house/a", "", 1884);
        row("enabled without host", " ", "", "", "mqtt_host_problem: Enter the broker's name or address.", 0, true);
        row("off without host", "", "", "", "");
        row("host with a space", "broker example", "", "", "mqtt_host_problem: A host name has no spaces.");
        row("port empty: usual", "b", "", "", "");
        row("port 0: usual", "b", "0", "", "");
        row("port 65535", "b", " 65535 ", "", "", 65535);
        row("port 65536", "b", "65536", "", bad_port);
        row("port -1", "b", "-1", "", bad_port);
        row("port letters", "b", "18a3", "", bad_port);
        row("prefix with +", "b", "", "house/+", wildcard);
        row("prefix with #", "b", "", "house/#", wildcard);
        row("prefix with a leading /", "b", "", "/house", "mqtt_prefix_problem: A topic prefix cannot start with /.");
        row("prefix with an empty level", "b", "", "house//a",
            "mqtt_prefix_problem: A topic prefix cannot have an empty level (//).");
        row("prefix with a trailing /", "b", "", "house/a/", "");
        row("two refusals at once", "", "x", "#",
            "mqtt_host_problem: Enter the broker's name or address.\n" + bad_port + "\n" + wildcard, 0, true);
        // The client key field is emptied in this row.
        row("client certificate without its key", "b", "", "", "mqtt_client_key_problem: " + pair, 0, true);
    }

    // A refused choice is explained at its field and neither stored nor applied; a taken one is both.
    void dialogChecks()
    {
        QFETCH(bool, enabled);
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(QString, prefix);
        QFETCH(QString, refusal);
        QFETCH(int, stored_port);

        Served served;
        MqttService service(served.korvel, QStringLiteral("korvel-test"), QStringLiteral("korvel-test"), nullptr);
        MqttDialog dialog(&service, nullptr);
        child<QCheckBox>(dialog, "mqtt_enabled")->setChecked(enabled);
        child<QLineEdit>(dialog, "mqtt_host")->setText(host);
        child<QLineEdit>(dialog, "mqtt_port")->setText(port);
        child<QLineEdit>(dialog, "mqtt_prefix")->setText(prefix);
        // Empty: the program's own id and prefix, shown in the fields.
        QCOMPARE(child<QLineEdit>(dialog, "mqtt_client_id")->placeholderText(),
                 "korvel-test-" + QSysInfo::machineHostName());
        QCOMPARE(child<QLineEdit>(dialog, "mqtt_prefix")->placeholderText(),
                 "korvel-test/" + QSysInfo::machineHostName());
        QCOMPARE(child<QLineEdit>(dialog, "mqtt_ca_file")->placeholderText(), "the system's certificate authorities");
        const QMap<QString, QString> files{{"mqtt_ca_file", " /etc/korvel/ca.pem "},
                                           {"mqtt_client_cert", "/etc/korvel/a.crt"},
                                           {"mqtt_client_key", "/etc/korvel/a.key"},
                                           {"mqtt_client_id", "desk-a"}};
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            child<QLineEdit>(dialog, qPrintable(it.key()))->setText(it.value());
        if (refusal.contains("mqtt_client_key_problem"))
            child<QLineEdit>(dialog, "mqtt_client_key")->clear();
        dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();

        QStringList shown;
        for (const char *name :
             {"mqtt_host_problem", "mqtt_port_problem", "mqtt_prefix_problem", "mqtt_client_key_problem"}) {
            const QString text = problem_shown(dialog, name);
            if (!text.isEmpty())
                shown.append(QString::fromLatin1(name) + ": " + text);
        }
        QCOMPARE(shown.join('\n'), refusal);
        const bool taken = refusal.isEmpty();
        QCOMPARE(dialog.result(), int(taken ? QDialog::Accepted : QDialog::Rejected));
        QSettings settings;
        QCOMPARE(settings.contains("mqtt_host"), taken);
        QCOMPARE(service.config().host, taken ? host.trimmed() : QString());
        if (taken) {
            QCOMPARE(settings.value("mqtt_port").toInt(), stored_port);
            QCOMPARE(settings.value("mqtt_prefix").toString(), prefix);
            for (auto it = files.cbegin(); it != files.cend(); ++it)
                QCOMPARE(settings.value(it.key()).toString(), it.value().trimmed());
            QCOMPARE(service.status_text(), "Off");
        }
    }

    // With no keyring (no Secret Service here), the password goes to the store, whose file only the user may
    // read, also after the store is written again; the dialog says so. Removing it leaves no trace.
    void passwordWithoutKeyring()
    {
        store({{"mqtt_host", "broker.example"}});
        Served served;
        MqttService service(served.korvel, QStringLiteral("korvel-test"), QStringLiteral("korvel-test"), nullptr);
        service.start_from_store();
        MqttConfig config = service.config();
        config.user = "studio1";
        QSignalSpy written(service.password_keeper(), &MqttPassword::written);
        service.apply(config, QStringLiteral("s3cret pass"));
        QVERIFY(written.wait());
        QCOMPARE(service.password_keeper()->place(), MqttPassword::Place::store);

        const QString file = QSettings().fileName();
        const QFile::Permissions user_only = QFile::ReadOwner | QFile::WriteOwner;
        QCOMPARE(QFile::permissions(file) & ~(QFile::ReadUser | QFile::WriteUser), user_only);
        QCOMPARE(QSettings().value("mqtt_password").toString(), "s3cret pass");
        {
            QSettings settings;
            settings.setValue("udp_listen_port", 20000);
            settings.sync();
        }
        QCOMPARE(QFile::permissions(file) & ~(QFile::ReadUser | QFile::WriteUser), user_only);

        // A new service reads it back from the store; its dialog shows it (hidden) and the note.
        MqttService again(served.korvel, QStringLiteral("korvel-test"), QStringLiteral("korvel-test"), nullptr);
        again.start_from_store();
        MqttDialog dialog(&again, nullptr);
        QSignalSpy known(&again, &MqttService::password_known);
        QVERIFY(known.wait());
        auto *password = child<QLineEdit>(dialog, "mqtt_password");
        QCOMPARE(password->text(), "s3cret pass");
        QCOMPARE(password->echoMode(), QLineEdit::Password);
        QCOMPARE(problem_shown(dialog, "mqtt_keyring_note"), no_keyring_note);

        // Emptied by the user: gone from the store.
        password->clear();
        QTest::keyClicks(password, "x");
        QTest::keyClick(password, Qt::Key_Backspace);
        QSignalSpy removed(again.password_keeper(), &MqttPassword::written);
        QVERIFY(dialog.apply());
        QVERIFY(removed.wait());
        QVERIFY(!QSettings().contains("mqtt_password"));
    }

    // With a keyring (run by tst_mqttsettings_keyring), the password goes there and nowhere in the store: not
    // even one kept there before a keyring answered.
    void passwordInKeyring()
    {
        if (qEnvironmentVariableIsEmpty("KORVEL_TEST_KEYRING"))
            QSKIP("needs the keyring that tst_mqttsettings_keyring starts");
        store({{"mqtt_host", "broker.example"}, {"mqtt_user", "studio1"}, {"mqtt_password", "old pass"}});
        Served served;
        MqttService service(served.korvel, QStringLiteral("korvel-test"), QStringLiteral("korvel-test"), nullptr);
        service.start_from_store();
        QSignalSpy written(service.password_keeper(), &MqttPassword::written);
        service.apply(service.config(), QStringLiteral("s3cret pass"));
        QVERIFY(written.wait());
        QCOMPARE(service.password_keeper()->place(), MqttPassword::Place::keyring);
        QVERIFY(!QSettings().contains("mqtt_password"));
        QFile file(QSettings().fileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        QVERIFY(content.contains("studio1"));
        QVERIFY(!content.contains("s3cret") && !content.contains("old pass"));

        // Read back from the keyring by a new service; no note in its dialog.
        MqttService again(served.korvel, QStringLiteral("korvel-test"), QStringLiteral("korvel-test"), nullptr);
        again.start_from_store();
        MqttDialog dialog(&again, nullptr);
        QSignalSpy known(&again, &MqttService::password_known);
        QVERIFY(known.wait());
        QCOMPARE(child<QLineEdit>(dialog, "mqtt_password")->text(), "s3cret pass");
        QCOMPARE(again.password_keeper()->place(), MqttPassword::Place::keyring);
        QCOMPARE(problem_shown(dialog, "mqtt_keyring_note"), QString());
    }

    // The application, enabled through its store, connects and publishes PREFIX/status; a wrong password shows
    // its reason in the dialog and once in the tray however often it is tried again; the right one connects;
    // switching off leaves "offline".
    void brokerFromStore()
    {
        QTemporaryDir dir;
        QVERIFY(QProcess::execute("mosquitto_passwd", {"-c", "-b", dir.filePath("passwords"), "studio1", "s3cret"}) ==
                0);
        Broker broker("allow_anonymous false\npassword_file " + dir.filePath("passwords").toUtf8() + "\n");
        QVERIFY(broker.start());
        const QString prefix = QStringLiteral("house/studio-t");
        const QVariantMap stored{{"mqtt_enabled", true},   {"mqtt_host", "127.0.0.1"}, {"mqtt_port", broker.port()},
                                 {"mqtt_user", "studio1"}, {"mqtt_prefix", prefix},    {"mqtt_password", "wrong"},
                                 {"mqtt_metering_rate", 5}};
        store(stored);
        const QVariantMap before = stored_values();

        MainWindow window;
        // Reading at start writes nothing back.
        QCOMPARE(stored_values(), before);
        MqttService *service = window.mqtt_service();
        QVERIFY(service);
        QSignalSpy problems(service, &MqttService::problem);
        MqttDialog dialog(service, &window);
        auto *status = child<QLabel>(dialog, "mqtt_status");

        const QString refused = "connection refused: not authorised";
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), "Failed: " + refused, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(logged("MQTT: " + refused) == 1 && problems.count() == 1, 5000);
        // The retries after 1 s and 2 s fail the same way: said once.
        QTest::qWait(3500);
        QCOMPARE(problems.count(), 1);
        QCOMPARE(problems.at(0).at(0).toString(), "MQTT: " + refused);
        QCOMPARE(logged("MQTT: " + refused), 1);

        auto *password = child<QLineEdit>(dialog, "mqtt_password");
        password->selectAll();
        QTest::keyClicks(password, "s3cret");
        QCOMPARE(service->mqtt_bridge()->metering_rate(), 5);
        child<QSpinBox>(dialog, "mqtt_metering_rate")->setValue(0);
        QSignalSpy statuses(service, &MqttService::status_changed);
        dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Apply)->click();
        const QString address = QStringLiteral("127.0.0.1:%1").arg(broker.port());
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), "Connected to " + address, 10000);
        QStringList shown;
        for (const QList<QVariant> &args : statuses)
            shown.append(args.at(0).toString());
        QCOMPARE(shown, (QStringList{"Connecting…", "Connected to " + address}));
        QCOMPARE(service->mqtt_bridge()->metering_rate(), 0);
        QCOMPARE(logged("MQTT: connected to " + address), 1);
        QCOMPARE(problems.count(), 1);
        QTRY_COMPARE(QSettings().value("mqtt_password").toString(), "s3cret");

        Probe probe(broker.port(), prefix + "/status", {}, "studio1", "s3cret");
        QVERIFY(probe.ready());
        QVERIFY(probe.wait_for([&] { return probe.retained.contains(prefix + "/status"); }));
        const QByteArray link = window.device_link()->is_connected() ? "\"connected\"" : "\"disconnected\"";
        QCOMPARE(probe.retained.value(prefix + "/status"), link);
        // Nothing elsewhere on the broker: the settings were in place before the first status went out.
        Probe everything(broker.port(), "#", {}, "studio1", "s3cret");
        QVERIFY(everything.wait_for([&] { return everything.retained.contains(prefix + "/status"); }));
        for (const QString &topic : everything.retained.keys())
            QVERIFY2(topic.startsWith(prefix + "/"), qPrintable(topic));
        QCOMPARE(service->interface()->settings().effective_client_id(), "korvel-" + QSysInfo::machineHostName());

        child<QCheckBox>(dialog, "mqtt_enabled")->setChecked(false);
        dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Apply)->click();
        QCOMPARE(status->text(), "Off");
        QVERIFY(probe.wait_for([&] { return probe.last.value(prefix + "/status") == "\"offline\""; }));
        QCOMPARE(QSettings().value("mqtt_enabled").toString(), "false");
    }
};

QTEST_MAIN(TestMqttSettings)
#include "tst_mqttsettings.moc"
