// The example page examples/korvel-panel.html in a real browser, against the whole application on the emulated
// console: it shows what another client switched, and a click on it switches the console.
#include "devtoolsbrowser.h"
#include "emulatedapp.h"
#include "jsonclient.h"

#include "app/mainwindow.h"
#include "emulator/emulateddevice.h"
#include "websocket/cwebsocketinterface.h"

#include <QFileInfo>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

#ifndef KORVEL_PANEL_PAGE
#error "KORVEL_PANEL_PAGE must name examples/korvel-panel.html"
#endif

namespace {

constexpr int browser_timeout_ms = 30000;

// Whether module mod's ON key is lit on the page.
QString on_key_lit(const char *mod)
{
    return QStringLiteral("document.getElementById('on-%1').classList.contains('on')").arg(QLatin1String(mod));
}

} // namespace

class TestBrowser : public QObject {
    Q_OBJECT

private slots:
    void init() { emulator::EmulatedDevice::instance().reset(); }

    void pageFollowsTheConsoleAndClickSwitchesIt()
    {
        // The browser is part of the test setup: without it the page is untested, which must not pass.
        QVERIFY2(!DevToolsBrowser::executable().isEmpty(), "chromium is not installed (apt-get install chromium)");
        const QFileInfo page(QStringLiteral(KORVEL_PANEL_PAGE));
        QVERIFY2(page.exists(), qPrintable(page.filePath()));

        // The console is plugged in only once the page is up: the page has to catch up by itself.
        e2e::EmulatedApp app(false);
        CWebSocketInterface &ws = *app.window->websocket_interface();

        QUrl url = QUrl::fromLocalFile(page.absoluteFilePath());
        url.setQuery(QUrlQuery{{"port", QString::number(app.ports.websocket)}});
        DevToolsBrowser browser;
        QVERIFY2(browser.open(url.toString(), browser_timeout_ms), qPrintable(browser.error()));

        // The page connects; its requests are refused while the console is unplugged, and it says so.
        QTRY_COMPARE_WITH_TIMEOUT(ws.client_count(), 1, browser_timeout_ms);
        QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate("document.getElementById('status').textContent").toString(),
                                  QStringLiteral("console disconnected"), browser_timeout_ms);
        QCOMPARE(browser.evaluate("document.getElementById('on-mod5').disabled").toBool(), true);

        // Once the console is there the page subscribes and loads the state: the status line says so, the keys
        // are usable.
        app.model.replug();
        QVERIFY(app.wait_until_synchronised());
        QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate("document.getElementById('status').textContent").toString(),
                                  QStringLiteral("console connected"), browser_timeout_ms);
        QCOMPARE(browser.evaluate("document.getElementById('on-mod5').disabled").toBool(), false);
        QCOMPARE(browser.evaluate(on_key_lit("mod2")).toBool(), false);

        // Another program switches module 2 on: the page shows it.
        e2e::JsonClient other;
        QVERIFY(other.open(app.ports.websocket));
        other.send(QStringLiteral(R"({"msg": "set_on", "data": {"mod2": "on"}})"));
        QTRY_VERIFY_WITH_TIMEOUT(browser.evaluate(on_key_lit("mod2")).toBool(), browser_timeout_ms);
        QVERIFY(app.model.is_on(1));

        // A real click on the page's ON key of module 5 switches the console.
        QVERIFY(!app.model.is_on(4));
        QVERIFY(browser.click("#on-mod5"));
        QTRY_VERIFY_WITH_TIMEOUT(app.model.is_on(4), browser_timeout_ms);
        QTRY_VERIFY_WITH_TIMEOUT(browser.evaluate(on_key_lit("mod5")).toBool(), browser_timeout_ms);
        QCOMPARE(compact_on(other.wait_for("on_on")), QStringLiteral("mod2"));
        QCOMPARE(compact_on(other.wait_for("on_on")), QStringLiteral("mod5"));

        // A click on a lit key switches its module off again.
        QVERIFY(browser.click("#on-mod2"));
        QTRY_VERIFY_WITH_TIMEOUT(!app.model.is_on(1), browser_timeout_ms);
        QTRY_VERIFY_WITH_TIMEOUT(!browser.evaluate(on_key_lit("mod2")).toBool(), browser_timeout_ms);

        // A person at the console: the page follows the fader too.
        app.model.move_fader(4, true);
        QTRY_VERIFY_WITH_TIMEOUT(
            browser.evaluate("document.getElementById('fader-mod5').classList.contains('active')").toBool(),
            browser_timeout_ms);

        // A page that connects when the state is long complete asks whether it is, and loads it at once.
        QVERIFY(browser.evaluate("window.beforeReload = true; setTimeout(() => location.reload(), 0); true").toBool());
        QTRY_VERIFY_WITH_TIMEOUT(browser
                                     .evaluate("window.beforeReload === undefined && "
                                               "document.getElementById('status').textContent === 'console connected'")
                                     .toBool(),
                                 browser_timeout_ms);
        QCOMPARE(browser.evaluate(on_key_lit("mod5")).toBool(), true);
        QCOMPARE(browser.evaluate("document.getElementById('fader-mod5').classList.contains('active')").toBool(), true);

        // Module 5 is on air now: the page's programme meter moves off the bottom once the meters run (the page
        // subscribed as it connected).
        app.model.set_metering_rate(50);
        QTRY_VERIFY_WITH_TIMEOUT(
            browser.evaluate("document.querySelector('#meter-pgm_left .fill').style.height").toString() != "0%",
            browser_timeout_ms);
        app.model.set_metering_rate(0);

        // Unplugged: the page forgets the state and locks its keys.
        app.model.unplug();
        QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate("document.getElementById('status').textContent").toString(),
                                  QStringLiteral("console disconnected"), browser_timeout_ms);
        QCOMPARE(browser.evaluate(on_key_lit("mod5")).toBool(), false);
        QCOMPARE(browser.evaluate("document.getElementById('on-mod5').disabled").toBool(), true);
    }

private:
    // The one module named by an "on_on" notification.
    static QString compact_on(const QJsonObject &message)
    {
        const QJsonObject data = message.value(QLatin1String("data")).toObject();
        return data.size() == 1 && data.begin().value().toBool() ? data.begin().key() : QString();
    }
};

QTEST_MAIN(TestBrowser)
#include "tst_browser.moc"
