#pragma once

class QWidget;

namespace korvel::app {
// A group box lays its contents out without its title, so a long title is cut at the right edge at a large
// scale or in a wide font: makes every group box under the widget at least as wide as its title.
void fit_group_titles(QWidget *widget);
} // namespace korvel::app
