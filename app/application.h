#pragma once

#include "app/appidentity.h"

#include <functional>

class MainWindow;

// The process entry: sets the application attributes, creates the application, steps back in favour of a
// copy already running in the user's session, else creates the main window (hidden in the tray, or shown
// where there is no tray) and runs the event loop. started, if given, runs once the window exists, before
// the loop.
int run_korvel_control(int argc, char *argv[], const AppIdentity &identity = AppIdentity::korvel_control(),
                       const std::function<void(MainWindow &)> &started = {});
