// Takes the panel's pictures for the README (docs/images/panel-desktop.png, panel-phone.png): the page in
// headless Chromium against the application on the emulated console, with modules on air and meters moving.
// Usage: panel_screenshots OUTPUT_DIR PAGE_URL_PATTERN, where the pattern's %1 is the WebSocket port.
#include "devtoolsbrowser.h"
#include "emulatedapp.h"
#include "jsonclient.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

bool save(DevToolsBrowser &browser, const QString &path)
{
    const QByteArray png = browser.screenshot();
    QFile file(path);
    if (png.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(png) != png.size()) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const auto settings = e2e::isolate_settings();
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR PAGE_URL_PATTERN\n", argv[0]);
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    e2e::EmulatedApp app;
    if (!app.wait_until_synchronised())
        return 1;

    // A show in progress: two microphones and a jingle player on air, a module in cue, a few key LEDs.
    for (const int mod : {0, 1, 4}) {
        app.model.press_on_key(mod);
        app.model.move_fader(mod, true);
    }
    app.model.press_on_key(5);
    app.model.press_cue(6);
    e2e::JsonClient client;
    if (!client.open(app.ports.websocket))
        return 1;
    client.send(QStringLiteral(R"({"msg": "set_ctrl_led", "data": {"a1": "green", "a2": "red", "a5": "green",)"
                               R"( "b1": {"color_on": "red", "color_off": "off", "blink_speed": "slow"}}})"));
    client.send(QStringLiteral(R"({"msg": "set_config_fader_reserve", "data": {"mod8": true}})"));
    client.send(QStringLiteral(R"({"msg": "set_config_auto_on", "data": {"mod5": true}})"));
    app.model.set_metering_rate(1000);

    DevToolsBrowser browser;
    const QString url = QString::fromLocal8Bit(argv[2]).arg(app.ports.websocket);
    const bool shot = browser.open(url) && browser.set_viewport(1920, 1080) &&
                      QTest::qWaitFor(
                          [&] {
                              return browser
                                  .evaluate("document.getElementById('link').dataset.state === "
                                            "'up'")
                                  .toBool();
                          },
                          10000);
    if (!shot) {
        std::fprintf(stderr, "the page did not come up: %s\n", qPrintable(browser.error()));
        return 1;
    }
    // The configuration open on the large screen; long enough for the meters to move and hold a peak.
    browser.evaluate("document.getElementById('config').open = true");
    QTest::qWait(1200);
    if (!save(browser, output.filePath("panel-desktop.png")))
        return 1;
    browser.evaluate("document.getElementById('config').open = false");
    if (!browser.set_viewport(390, 844, 1, true))
        return 1;
    QTest::qWait(600);
    return save(browser, output.filePath("panel-phone.png")) ? 0 : 1;
}
