#pragma once

class QSettings;

// The settings store holds the WebSocket password's secret (as good as the password for its challenge) and
// may hold the MQTT password: its file is kept readable by its user only.
namespace korvel::app {

// Writes what is pending, then makes the file 0600 (created so when missing) and the directory the
// application keeps it in 0700. QSettings rewrites the file through a copy that keeps the permissions of the
// file it replaces, so later writes keep them. False when a step failed.
bool restrict_store(QSettings &settings);

} // namespace korvel::app
