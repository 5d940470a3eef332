#pragma once

#include <functional>

class MainWindow;

// The process entry: sets the application attributes, creates the application and the (hidden) main window,
// and runs the event loop. started, if given, runs once the window exists, before the loop.
int run_korvel_control(int argc, char *argv[], const std::function<void(MainWindow &)> &started = {});
