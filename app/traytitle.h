#pragma once

#include <QString>

class QSystemTrayIcon;

namespace korvel::app {
// How long a tray message stays: long enough to read a port or a broker problem.
inline constexpr int tray_message_ms = 10000;

// The title of the tray's messages, kept with the tray icon so every part that shows a message names the
// program the same way (the emulated application says "emulated console").
void set_tray_title(QSystemTrayIcon *tray, const QString &title);
QString tray_title(const QSystemTrayIcon *tray);
} // namespace korvel::app
