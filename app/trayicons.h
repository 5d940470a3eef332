#pragma once

#include <QIcon>

namespace korvel::app {
// The tray icon for the link's state: grey while closed, green while open. The emulated application's carries
// an amber "E" badge, so the two can be told apart in the tray at a glance.
QIcon link_icon(bool open, bool emulated);
} // namespace korvel::app
