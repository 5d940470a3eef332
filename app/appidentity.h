#pragma once

#include <QString>

// Who the running program is to the desktop: the names of its settings store, the name other starts find it
// by, and its login autostart entry. The application and the emulated application differ only here, so
// neither ever touches the other's settings or mistakes the other for itself.
struct AppIdentity {
    QString organization;
    QString application;
    // Names the single-instance socket and the autostart entry (<instance>.desktop).
    QString instance;
    // Begins the default MQTT client id (NAME-<host>), so the two programs on one machine never take over each
    // other's broker session.
    QString mqtt_client;
    // Running on the emulated console: the window title, the tray tooltip and the tray messages say so and
    // the tray icon carries a mark, so it is never taken for the application on the real console.
    bool on_emulator = false;

    // A title as this program shows it: "Korvel Control (emulated console)" on the emulated console.
    QString titled(const QString &title) const;

    static AppIdentity korvel_control();
    static AppIdentity emulated();
};
