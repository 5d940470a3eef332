// Network access settings: the listen address a stored text stands for, the sender list, and what applying
// the stored settings does to a running server.
#include "app/networkaccess.h"
#include "app/networkaccessdialog.h"
#include "console/ckorvel.h"
#include "udp/cudpinterface.h"
#include "usb/cusbhid.h"
#include "usb/usbids.h"
#include "websocket/authentication.h"
#include "websocket/cwebsocketinterface.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QNetworkRequest>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWebSocket>

#include <QSettings>
#include <QStandardPaths>
#include <QTest>

using korvel::app::NetworkAccess;

class TestNetworkAccess : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void listenAddress_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("warned");
        QTest::newRow("nothing stored: every interface") << ""
                                                         << "0.0.0.0" << false;
        QTest::newRow("this machine only") << "127.0.0.1"
                                           << "127.0.0.1" << false;
        QTest::newRow("an address of the machine") << "192.0.2.10"
                                                   << "192.0.2.10" << false;
        QTest::newRow("an address the machine no longer has") << "192.0.2.99"
                                                              << "127.0.0.1" << true;
        QTest::newRow("not an address") << "studio-pc"
                                        << "127.0.0.1" << true;
        QTest::newRow("every interface spelt out is no address of the machine") << "0.0.0.0"
                                                                                << "127.0.0.1" << true;
    }

    void listenAddress()
    {
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        QFETCH(bool, warned);
        const QList<QHostAddress> machine{QHostAddress("127.0.0.1"), QHostAddress("192.0.2.10")};
        QString warning;
        QCOMPARE(korvel::app::listen_address_for(stored, machine, &warning), QHostAddress(expected));
        QCOMPARE(!warning.isEmpty(), warned);
        if (warned)
            QVERIFY(warning.contains(stored));
    }

    void senders_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QStringList>("parsed");
        QTest::addColumn<QStringList>("invalid");
        QTest::newRow("address") << QStringList{" 10.0.0.5 "} << QStringList{"10.0.0.5/32"} << QStringList();
        QTest::newRow("subnet") << QStringList{"192.168.10.0/24"} << QStringList{"192.168.10.0/24"} << QStringList();
        QTest::newRow("subnet written with a host part")
            << QStringList{"192.168.10.7/24"} << QStringList{"192.168.10.0/24"} << QStringList();
        QTest::newRow("blank lines") << QStringList{"", "  "} << QStringList() << QStringList();
        QTest::newRow("nonsense and IPv6 left out")
            << QStringList{"10.0.0.1", "studio", "10.0.0.0/33", "::1"} << QStringList{"10.0.0.1/32"}
            << QStringList{"studio", "10.0.0.0/33", "::1"};
    }

    void senders()
    {
        QFETCH(QStringList, texts);
        QFETCH(QStringList, parsed);
        QFETCH(QStringList, invalid);
        QStringList refused;
        QStringList result;
        for (const auto &[address, prefix] : korvel::app::parse_senders(texts, &refused))
            result.append(QStringLiteral("%1/%2").arg(address.toString()).arg(prefix));
        QCOMPARE(result, parsed);
        QCOMPARE(refused, invalid);
    }

    // The stored settings reach the server; nothing stored changes nothing, not even a restart.
    void applyingTheStoredSettings()
    {
        CUSBHID link(nullptr, korvel::usb::vendor_id, korvel::usb::product_id);
        CKorvel console(&link, nullptr);
        CUDPInterface udp(&link, nullptr);
        CWebSocketInterface ws(&console, nullptr);
        ws.setPort(0);
        const quint16 port = ws.listening_port();

        QCOMPARE(korvel::app::apply(NetworkAccess{}, &ws, &udp), QString());
        QCOMPARE(ws.listen_address(), QHostAddress(QHostAddress::AnyIPv4));
        QCOMPARE(ws.listening_port(), port);
        QVERIFY(!ws.has_password());
        QVERIFY(ws.serves_panel());

        NetworkAccess access;
        access.listen_address = "127.0.0.1";
        access.password_secret = "secret";
        access.password_salt = "salt";
        access.allowed_origins = QStringList{"http://studio.example"};
        access.serve_panel = false;
        QSettings settings;
        access.save(settings);
        const NetworkAccess loaded = NetworkAccess::load(settings);
        QCOMPARE(korvel::app::apply(loaded, &ws, &udp), QString());
        QCOMPARE(ws.listen_address(), QHostAddress(QHostAddress::LocalHost));
        QVERIFY(ws.is_listening());
        QVERIFY(ws.has_password());
        QVERIFY(!ws.serves_panel());
        settings.clear();
    }

    // The dialog: an origin that connected is allowed with one click; a new password is stored only as its
    // salted secret; a stored address the machine lost is shown with its warning.
    void dialog()
    {
        CUSBHID link(nullptr, korvel::usb::vendor_id, korvel::usb::product_id);
        CKorvel console(&link, nullptr);
        CWebSocketInterface ws(&console, nullptr);
        ws.setPort(0);
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(ws.listening_port())));
        request.setRawHeader("Origin", "http://panel.example:8080");
        QWebSocket browser;
        browser.open(request);
        QTRY_COMPARE(ws.seen_origins(), QStringList{"http://panel.example:8080"});

        QSettings settings;
        settings.clear();
        settings.setValue("network_listen_address", "192.0.2.99");
        korvel::app::NetworkAccessDialog dialog(&ws, nullptr);
        const QList<QLabel *> labels = dialog.findChildren<QLabel *>();
        QVERIFY(std::any_of(labels.cbegin(), labels.cend(),
                            [](QLabel *label) { return !label->isHidden() && label->text().contains("192.0.2.99"); }));

        auto *seen = dialog.findChild<QListWidget *>();
        seen->item(0)->setSelected(true);
        for (QPushButton *button : dialog.findChildren<QPushButton *>()) {
            if (button->text() == "Allow selected")
                button->click();
        }
        dialog.findChild<QLineEdit *>()->setText("on air");
        dialog.findChild<QCheckBox *>()->setChecked(false);
        auto *panel = dialog.findChild<QCheckBox *>("serve_panel");
        QVERIFY(panel->isChecked());
        panel->setChecked(false);
        dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));

        const NetworkAccess chosen = dialog.access();
        QCOMPARE(chosen.allowed_origins, QStringList{"http://panel.example:8080"});
        QCOMPARE(chosen.listen_address, QStringLiteral("127.0.0.1"));
        QVERIFY(!chosen.serve_panel);
        QCOMPARE(QByteArray::fromBase64(chosen.password_salt).size(), 32);
        QCOMPARE(chosen.password_secret, korvel::websocket::password_secret("on air", chosen.password_salt));
        chosen.save(settings);
        for (const QString &key : settings.allKeys())
            QVERIFY(!settings.value(key).toString().contains("on air"));
        settings.clear();
    }
};

QTEST_MAIN(TestNetworkAccess)
#include "tst_networkaccess.moc"
