// The panel page (panel/web/) in real headless Chromium, against the whole application on the emulated console:
// it draws what the console shows, a click on it switches the console, it asks for the password, holds its
// meter peaks and reconnects when the application comes back.
#include "devtoolsbrowser.h"
#include "emulatedapp.h"
#include "jsonclient.h"

#include "app/mainwindow.h"
#include "app/networkaccess.h"
#include "console/valuelists.h"
#include "emulator/emulateddevice.h"
#include "websocket/authentication.h"
#include "websocket/cwebsocketinterface.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

#ifndef KORVEL_MINIMAL_PAGE
#error "KORVEL_MINIMAL_PAGE must name examples/minimal-page.html"
#endif

namespace {

constexpr int browser_timeout_ms = 30000;

// A page opened from its file, pointed at the application by ?ws=.
QString page_url(const char *file, const e2e::EmulatedApp &app)
{
    QUrl url = QUrl::fromLocalFile(QFileInfo(QString::fromUtf8(file)).absoluteFilePath());
    url.setQuery(QUrlQuery{{"ws", QStringLiteral("127.0.0.1:%1").arg(app.ports.websocket)}});
    return url.toString();
}

// The panel as the application serves it on its WebSocket port.
QString panel_url(const e2e::EmulatedApp &app)
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(app.ports.websocket);
}

// A script expression reading an attribute of the element with this id.
QString attribute(const QString &id, const char *name)
{
    return QStringLiteral("document.getElementById('%1').getAttribute('%2')").arg(id, QLatin1String(name));
}

QString pressed(const QString &id)
{
    return attribute(id, "aria-pressed") + " === 'true'";
}

const QString page_live = QStringLiteral("document.getElementById('link').dataset.state === 'up'");

// Stores and applies a password and an origin list the way the "Network access" dialog does.
void set_access(e2e::EmulatedApp &app, const QString &password, const QStringList &origins)
{
    QSettings settings;
    auto access = korvel::app::NetworkAccess::load(settings);
    access.allowed_origins = origins;
    access.password_salt = password.isEmpty() ? QByteArray() : korvel::websocket::random_token();
    access.password_secret =
        password.isEmpty() ? QByteArray() : korvel::websocket::password_secret(password, access.password_salt);
    access.save(settings);
    korvel::app::apply(access, app.window->websocket_interface(), app.window->udp_interface());
}

// Opens the panel and waits until it shows the console.
bool open_live(DevToolsBrowser &browser, const e2e::EmulatedApp &app, const QString &init_script = {})
{
    if (!browser.open(panel_url(app), browser_timeout_ms, init_script)) {
        qWarning() << browser.error();
        return false;
    }
    return QTest::qWaitFor([&] { return browser.evaluate(page_live).toBool(); }, browser_timeout_ms);
}

} // namespace

class TestBrowser : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The browser is part of the test setup: without it the page is untested, which must not pass.
        QVERIFY2(!DevToolsBrowser::executable().isEmpty(), "chromium is not installed (apt-get install chromium)");
    }

    void init() { emulator::EmulatedDevice::instance().reset(); }

    void clicksSwitchTheConsoleAndEveryPageFollows()
    {
        e2e::EmulatedApp app;
        QVERIFY(app.wait_until_synchronised());
        DevToolsBrowser first;
        DevToolsBrowser second;
        QVERIFY(open_live(first, app));
        QVERIFY(open_live(second, app));
        // From the keyboard: the first Tab reaches module 1's ON key, visibly, and Enter presses it.
        QVERIFY(first.press_key("Tab"));
        QCOMPARE(first.evaluate("document.activeElement.id").toString(), QStringLiteral("on-mod1"));
        QCOMPARE(first.evaluate("getComputedStyle(document.activeElement).outlineStyle").toString(),
                 QStringLiteral("solid"));
        QVERIFY(first.press_key("Enter"));
        QTRY_VERIFY_WITH_TIMEOUT(app.model.is_on(0), browser_timeout_ms);
        QTRY_VERIFY_WITH_TIMEOUT(first.evaluate(pressed("on-mod1")).toBool(), browser_timeout_ms);
        QVERIFY(first.press_key(" "));
        QTRY_VERIFY_WITH_TIMEOUT(!app.model.is_on(0), browser_timeout_ms);
        // Every notification of it delivered before the client below connects.
        QTRY_VERIFY_WITH_TIMEOUT(!first.evaluate(pressed("on-mod1")).toBool(), browser_timeout_ms);

        e2e::JsonClient other;
        QVERIFY(other.open(app.ports.websocket));

        // A real click on module 5's ON key switches the console; the other page and the client see it.
        QCOMPARE(first.evaluate(pressed("on-mod5")).toBool(), false);
        QVERIFY(first.click("#on-mod5"));
        QTRY_VERIFY_WITH_TIMEOUT(app.model.is_on(4), browser_timeout_ms);
        QTRY_VERIFY_WITH_TIMEOUT(second.evaluate(pressed("on-mod5")).toBool(), browser_timeout_ms);
        QCOMPARE(QJsonDocument(other.wait_for("on_on").value("data").toObject()).toJson(QJsonDocument::Compact),
                 QByteArray(R"({"mod5":true})"));
        // Its cue key too, and a second click switches the module off again.
        QVERIFY(first.click("#cue-mod5"));
        QTRY_VERIFY_WITH_TIMEOUT(app.model.is_cue_on(4), browser_timeout_ms);
        QTRY_VERIFY_WITH_TIMEOUT(second.evaluate(pressed("cue-mod5")).toBool(), browser_timeout_ms);
        QVERIFY(first.click("#on-mod5"));
        QTRY_VERIFY_WITH_TIMEOUT(!app.model.is_on(4), browser_timeout_ms);
        // The studio's keys: the Aux cue bus and the control room's auto-cue.
        QVERIFY(first.click("#cue-aux"));
        QVERIFY(first.click("#auto_cue-crm"));
        QTRY_VERIFY_WITH_TIMEOUT(app.model.is_cue_on(8) && app.model.is_auto_cue_on(0), browser_timeout_ms);
        QTRY_VERIFY_WITH_TIMEOUT(second.evaluate(pressed("auto_cue-crm")).toBool(), browser_timeout_ms);

        // A change made by a client: the page's DOM notes when the key turns, the test when it sent.
        QVERIFY(first
                    .evaluate("new MutationObserver((m, o) => { window.seenAt = Date.now(); o.disconnect(); })"
                              ".observe(document.getElementById('on-mod2'), {attributes: true,"
                              " attributeFilter: ['aria-pressed']}), true")
                    .toBool());
        const qint64 sent_at = QDateTime::currentMSecsSinceEpoch();
        other.send(QStringLiteral(R"({"msg": "set_on", "data": {"mod2": "on"}})"));
        QTRY_VERIFY_WITH_TIMEOUT(first.evaluate(pressed("on-mod2")).toBool(), browser_timeout_ms);
        qInfo("client command to the page's DOM: %lld ms",
              qint64(first.evaluate("window.seenAt").toDouble()) - sent_at);

        // A person at the console: the fader, the source and the module's configuration show on the card.
        app.model.move_fader(1, true);
        app.model.select_source(1, 0);
        other.send(QStringLiteral(R"({"msg": "set_config_fader_reserve", "data": {"mod2": true}})"));
        other.send(QStringLiteral(R"({"msg": "set_config_auto_on", "data": {"mod2": true}})"));
        QTRY_COMPARE_WITH_TIMEOUT(first.evaluate(attribute("module-mod2", "data-active")).toString(),
                                  QStringLiteral("true"), browser_timeout_ms);
        QTRY_VERIFY_WITH_TIMEOUT(
            first.evaluate("document.querySelectorAll('#module-mod2 .config-flag:not([hidden])').length === 2")
                .toBool(),
            browser_timeout_ms);
        QTRY_COMPARE_WITH_TIMEOUT(first.evaluate("document.getElementById('source-mod2').textContent").toString(),
                                  QStringLiteral("LINE"), browser_timeout_ms);
        QCOMPARE(first.evaluate("document.querySelector('#module-mod2 .flag').dataset.on").toString(),
                 QStringLiteral("true"));
        // The on-air lamps follow, and every ON key lights in the colour the console lights it.
        QTRY_COMPARE_WITH_TIMEOUT(first.evaluate("document.querySelector('[data-lamp=on_air2]').dataset.on").toString(),
                                  QStringLiteral("true"), browser_timeout_ms);
        for (int mod = 0; mod < 8; ++mod)
            QCOMPARE(first.evaluate(attribute(QStringLiteral("on-mod%1").arg(mod + 1), "data-led")).toString(),
                     korvel::led_color_names.value(app.model.on_key_color(mod)));
        // The configuration is there to read.
        QCOMPARE(first.evaluate("document.querySelectorAll('#config-body table').length").toInt(), 10);
        QVERIFY(first.evaluate("document.getElementById('config-body').textContent.includes('non_inverted')").toBool());

        // What a screen reader is given: the ON keys as toggle buttons by name, the meters with their values.
        QMap<QString, QString> spoken;
        for (const QJsonValue node : first.accessibility_nodes()) {
            const QString role = node[QLatin1String("role")][QLatin1String("value")].toString();
            const QString name = node[QLatin1String("name")][QLatin1String("value")].toString();
            QString state;
            for (const QJsonValue property : node[QLatin1String("properties")].toArray())
                if (property[QLatin1String("name")].toString() == QLatin1String("pressed"))
                    state = property[QLatin1String("value")][QLatin1String("value")].toString();
            if (role == QLatin1String("meter"))
                state = node[QLatin1String("value")][QLatin1String("value")].toVariant().toString();
            spoken.insert(role + ' ' + name, state);
        }
        QCOMPARE(spoken.value("button Module 2 ON"), QStringLiteral("true"));
        QCOMPARE(spoken.value("button Module 3 ON"), QStringLiteral("false"));
        QCOMPARE(spoken.value("button Cue Aux"), QStringLiteral("true"));
        // The console sends no meters in this test: every meter at its bottom.
        QCOMPARE(spoken.value("meter PGM L"), QStringLiteral("-50"));
        QCOMPARE(spoken.value("meter CRM R"), QStringLiteral("-50"));

        // The page loaded nothing but itself, and said nothing went wrong.
        QCOMPARE(first.console_errors(), QStringList());
        for (const QString &url : first.requested_urls()) {
            const QUrl requested(url);
            QVERIFY2(requested.isLocalFile() ||
                         (requested.host() == "127.0.0.1" && requested.port() == app.ports.websocket),
                     qPrintable(url));
        }
    }

    void ledsBlinkAsTheConsoleShowsThem()
    {
        e2e::EmulatedApp app;
        QVERIFY(app.wait_until_synchronised());
        DevToolsBrowser browser;
        QVERIFY(open_live(browser, app));
        e2e::JsonClient other;
        QVERIFY(other.open(app.ports.websocket));
        // Steady colours, a blinking LED with all its settings and one that names only those that change.
        other.send(QStringLiteral(R"({"msg": "set_ctrl_led", "data": {"a1": "red", "a3": "green",)"
                                  R"( "b2": {"color_on": "red", "color_off": "green", "blink_speed": "slow"},)"
                                  R"( "b8": {"color_on": "green", "color_off": "off", "blink_speed": "fast"}}})"));
        // The application fills a left-out field from what the console last reported: wait for the report.
        QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(attribute("led-b2", "data-color-off")).toString(),
                                  QStringLiteral("green"), browser_timeout_ms);
        other.send(QStringLiteral(R"({"msg": "set_ctrl_led", "data": {"b2": {"blink_speed": "normal"}}})"));
        app.model.set_control_key(4, true);
        QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(attribute("led-b2", "data-blink")).toString(),
                                  QStringLiteral("normal"), browser_timeout_ms);
        QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(attribute("led-a5", "data-down")).toString(), QStringLiteral("true"),
                                  browser_timeout_ms);
        QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(attribute("led-b8", "data-blink")).toString(),
                                  QStringLiteral("fast"), browser_timeout_ms);
        const QStringList &colours = korvel::led_color_names;
        for (int led = 0; led < 16; ++led) {
            const QString id = QStringLiteral("led-%1%2").arg(led < 8 ? 'a' : 'b').arg(led % 8 + 1);
            const auto shown = [&](const char *name) { return browser.evaluate(attribute(id, name)).toString(); };
            const emulator::ConsoleModel::LedState console = app.model.led(led);
            QCOMPARE(shown("data-blink"),
                     console.blinking ? korvel::blink_speed_names.value(console.blink_speed) : "none");
            QCOMPARE(shown("data-color"), colours.value(console.blinking ? console.color_on : console.color));
            QCOMPARE(shown("data-color-off"), colours.value(console.blinking ? console.color_off : console.color));
        }
        // The style sheet blinks them at the console's speeds: a whole period of 1 s, 0.5 s and 0.25 s.
        const auto animation = [&](const char *id) {
            return browser
                .evaluate(
                    QStringLiteral("getComputedStyle(document.getElementById('%1')).animation").arg(QLatin1String(id)))
                .toString();
        };
        QVERIFY2(animation("led-b2").startsWith("0.5s steps(1) infinite"), qPrintable(animation("led-b2")));
        QVERIFY2(animation("led-b8").startsWith("0.25s steps(1) infinite"), qPrintable(animation("led-b8")));
        QVERIFY2(animation("led-a1").startsWith("none"), qPrintable(animation("led-a1")));
        // What a screen reader hears of one.
        QCOMPARE(browser.evaluate("document.getElementById('led-b2').textContent").toString(),
                 QStringLiteral("B2: blinking red and green, normal"));
    }

    void metersMoveAndHoldTheirPeaks()
    {
        e2e::EmulatedApp app;
        QVERIFY(app.wait_until_synchronised());
        DevToolsBrowser browser;
        QVERIFY(open_live(browser, app));
        // Module 5 on air carries the programme bus.
        app.model.press_on_key(4);
        app.model.move_fader(4, true);
        app.model.set_metering_rate(1000);
        const QString level = attribute("meter-pgm_left", "aria-valuenow") + " * 1";
        const QString peak = "document.getElementById('meter-pgm_left').dataset.peak * 1";
        QTRY_VERIFY_WITH_TIMEOUT(browser.evaluate(level).toDouble() > -50, browser_timeout_ms);
        // The page asked for its meters at 50 ms: far fewer messages than the console sends reports (one a ms).
        const int frames_before = browser.frames_received("on_metering");
        const qint64 reports_before = app.model.metering_sent();
        QTRY_VERIFY_WITH_TIMEOUT(browser.frames_received("on_metering") >= frames_before + 20, browser_timeout_ms);
        QVERIFY2((browser.frames_received("on_metering") - frames_before) * 10 <=
                     app.model.metering_sent() - reports_before,
                 qPrintable(QStringLiteral("%1 messages for %2 reports")
                                .arg(browser.frames_received("on_metering") - frames_before)
                                .arg(app.model.metering_sent() - reports_before)));
        // The voices rise and fall: a peak stays above the level that falls from it.
        QTRY_VERIFY_WITH_TIMEOUT(browser.evaluate(peak + " > " + level + " + 1").toBool(), browser_timeout_ms);
        // The meters stop: the peak falls back to the last level, after its hold.
        app.model.set_metering_rate(0);
        QVERIFY(browser.evaluate(peak + " > " + level).toBool());
        QTRY_VERIFY_WITH_TIMEOUT(browser.evaluate(peak + " === " + level).toBool(), browser_timeout_ms);
        QCOMPARE(browser.console_errors(), QStringList());
    }

    void passwordPromptWithAnOriginList()
    {
        e2e::EmulatedApp app;
        QVERIFY(app.wait_until_synchronised());
        // An origin list without the panel's own origin: the page the application serves is let in anyway.
        set_access(app, QStringLiteral("on air"), {QStringLiteral("http://studio-panel:8080")});
        DevToolsBrowser browser;
        QVERIFY2(browser.open(panel_url(app), browser_timeout_ms), qPrintable(browser.error()));
        QTRY_VERIFY_WITH_TIMEOUT(!browser.evaluate("document.getElementById('login').hidden").toBool(),
                                 browser_timeout_ms);
        const auto sign_in = [&](const char *password) {
            return browser
                       .evaluate(QStringLiteral("document.getElementById('password').value = '%1', true")
                                     .arg(QLatin1String(password)))
                       .toBool() &&
                   browser.click("#login button");
        };
        QVERIFY(sign_in("off air"));
        QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate("document.getElementById('login-error').textContent").toString(),
                                  QStringLiteral("Wrong password. Try again."), browser_timeout_ms);
        QVERIFY(!browser.evaluate(page_live).toBool());
        // The third wrong answer closes the connection; the page asks again instead of repeating it.
        QVERIFY(browser.evaluate("document.getElementById('login-error').textContent = '', true").toBool());
        QVERIFY(sign_in("off air"));
        QTRY_VERIFY_WITH_TIMEOUT(
            !browser.evaluate("document.getElementById('login-error').textContent").toString().isEmpty(),
            browser_timeout_ms);
        QVERIFY(sign_in("off air"));
        QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate("document.getElementById('connection').textContent").toString(),
                                  QStringLiteral("Disconnected (authentication failed) — reconnecting…"),
                                  browser_timeout_ms);
        QTRY_VERIFY_WITH_TIMEOUT(browser.evaluate("document.getElementById('connection').hidden").toBool(),
                                 browser_timeout_ms);
        QVERIFY(!browser.evaluate("document.getElementById('login').hidden").toBool());
        QVERIFY(sign_in("on air"));
        QTRY_VERIFY_WITH_TIMEOUT(browser.evaluate(page_live).toBool(), browser_timeout_ms);
        QVERIFY(browser.evaluate("document.getElementById('login').hidden").toBool());

        // Where the page is no secure context (plain http to a LAN address) there is no Web Crypto; the page's
        // own SHA-256 answers instead.
        DevToolsBrowser insecure;
        QVERIFY2(insecure.open(panel_url(app), browser_timeout_ms,
                               "Object.defineProperty(Crypto.prototype, 'subtle', {get: () => undefined})"),
                 qPrintable(insecure.error()));
        QVERIFY(insecure.evaluate("crypto.subtle === undefined").toBool());
        QTRY_VERIFY_WITH_TIMEOUT(!insecure.evaluate("document.getElementById('login').hidden").toBool(),
                                 browser_timeout_ms);
        QVERIFY(insecure.evaluate("document.getElementById('password').value = 'on air', true").toBool());
        QVERIFY(insecure.click("#login button"));
        QTRY_VERIFY_WITH_TIMEOUT(insecure.evaluate(page_live).toBool(), browser_timeout_ms);
        QCOMPARE(browser.console_errors(), QStringList());
        QCOMPARE(insecure.console_errors(), QStringList());
    }

    void sha256Fallback()
    {
        e2e::EmulatedApp app;
        DevToolsBrowser browser;
        QVERIFY2(browser.open(panel_url(app), browser_timeout_ms), qPrintable(browser.error()));
        // Published vectors, the answer docs/websocket-api.md shows, and Web Crypto on every length around the
        // padding's block boundaries, with text beyond ASCII.
        const QJsonValue result = browser.evaluate(R"((async () => {
            const p = window.korvelPanel, fallback = t => p.sha256Base64(t, true), problems = [];
            const vectors = [['', '47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU='],
                ['abc', 'ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0='],
                ['abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq', 'JI1qYdIGOLjlwCaTDD5gOaM85Flk/yFn9uzt1BnbBsE='],
                ['a'.repeat(1000000), 'zcduXJkU+5KBocfihNc+Z/GAmkiklyAOBG05zMcRLNA=']];
            for (const [text, hash] of vectors)
                if (await fallback(text) !== hash) problems.push(`length ${text.length}`);
            for (let n = 0; n < 200; ++n) {
                for (const text of ['x'.repeat(n), 'ö€'.repeat(n).slice(0, n)])
                    if (await fallback(text) !== await p.sha256Base64(text)) problems.push(`${text.slice(0, 1) || 'empty'} length ${n}`);
            }
            const hello = ['Y0ea1poJCyWCd+yPum+ZQZov+ySJgVEGV8lEzNEUjpc=', 'LdAL134CIs7YgmZUganB2fkHMJ0W4F7QB6HqY5KEd6k='];
            for (const useFallback of [false, true])
                if (await p.challengeAnswer('on air', ...hello, useFallback) !== 'wCvl5mW3esgRMcxq3s0BFytWn/RIkFUmwim9I9WXxoE=')
                    problems.push(`answer, fallback ${useFallback}`);
            return problems;
        })())");
        QVERIFY2(result.isArray(), qPrintable(browser.error()));
        QCOMPARE(result.toArray(), QJsonArray());
    }

    // The example of a page of one's own still does what it says.
    void minimalPageSwitchesAModule()
    {
        e2e::EmulatedApp app;
        QVERIFY(app.wait_until_synchronised());
        DevToolsBrowser browser;
        QVERIFY2(browser.open(page_url(KORVEL_MINIMAL_PAGE, app), browser_timeout_ms), qPrintable(browser.error()));
        QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate("document.getElementById('status').textContent").toString(),
                                  QStringLiteral("live"), browser_timeout_ms);
        QVERIFY(browser.click("#mod3"));
        QTRY_VERIFY_WITH_TIMEOUT(app.model.is_on(2), browser_timeout_ms);
        QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate("document.getElementById('mod3').style.fontWeight").toString(),
                                  QStringLiteral("bold"), browser_timeout_ms);
        QCOMPARE(browser.console_errors(), QStringList());
    }

    void reconnectsWhenTheApplicationRestarts()
    {
        auto app = std::make_unique<e2e::EmulatedApp>();
        QVERIFY(app->wait_until_synchronised());
        const quint16 port = app->ports.websocket;
        DevToolsBrowser browser;
        QVERIFY(open_live(browser, *app));
        QVERIFY(browser.click("#on-mod3"));
        QTRY_VERIFY_WITH_TIMEOUT(browser.evaluate(pressed("on-mod3")).toBool(), browser_timeout_ms);

        app.reset();
        QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate("document.getElementById('connection').hidden").toBool(), false,
                                  browser_timeout_ms);
        QCOMPARE(browser.evaluate("document.getElementById('connection').textContent").toString(),
                 QStringLiteral("Disconnected — reconnecting…"));
        QCOMPARE(browser.evaluate("document.getElementById('on-mod3').disabled").toBool(), true);

        // The new application's console starts in its factory state: the page shows that, not what it had.
        app = std::make_unique<e2e::EmulatedApp>(true, nullptr, false, port);
        QTRY_VERIFY_WITH_TIMEOUT(browser.evaluate(page_live).toBool(), browser_timeout_ms);
        QVERIFY(browser.evaluate("document.getElementById('connection').hidden").toBool());
        QCOMPARE(browser.evaluate(pressed("on-mod3")).toBool(), false);

        // The console unplugged: the page says so and locks its keys.
        app->model.unplug();
        QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate("document.getElementById('link').textContent").toString(),
                                  QStringLiteral("Console not connected (USB)"), browser_timeout_ms);
        QCOMPARE(browser.evaluate("document.getElementById('on-mod3').disabled").toBool(), true);
        // A command that reaches the application anyway (a click as the console went) is refused; the refusal,
        // matched by its "id", shows next to the key that sent it.
        QVERIFY(browser.evaluate("document.getElementById('on-mod3').disabled = false, true").toBool());
        QVERIFY(browser.click("#on-mod3"));
        QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate("document.getElementById('error-mod3').textContent").toString(),
                                  QStringLiteral("Device USB not connected!"), browser_timeout_ms);
        QCOMPARE(browser.evaluate("document.getElementById('error-mod4').textContent").toString(), QString());
        app->model.replug();
        QTRY_VERIFY_WITH_TIMEOUT(browser.evaluate(page_live).toBool(), browser_timeout_ms);
    }
};

QTEST_MAIN(TestBrowser)
#include "tst_browser.moc"
