// The window and the tray: where the application shows itself as the desktop's tray comes and goes, the tray
// menu's further entries, and the way to quit from the window itself.
#include "app/mainwindow.h"

#include "app/autostart.h"

#include <QAction>
#include <QCoreApplication>
#include <QDebug>
#include <QKeySequence>
#include <QMenu>
#include <QSignalBlocker>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {
// How often the tray's presence is looked at: a tray host starting at login shows up within a second or two.
constexpr int tray_poll_ms = 1000;
} // namespace

void MainWindow::add_tray_actions()
{
    start_at_login = trayIconMenu->addAction(tr("Start at login"));
    start_at_login->setCheckable(true);
    start_at_login->setChecked(Autostart(identity.instance + QStringLiteral(".desktop")).is_enabled());
    connect(start_at_login, &QAction::toggled, this, &MainWindow::set_start_at_login);
}

void MainWindow::hide_window_only_shortcuts()
{
    // Their shortcuts act where the settings window has the focus; a menu that shows one promises it works
    // while the menu is open, where it does not.
    for (QAction *action : trayIconMenu->actions()) {
        if (!action->shortcut().isEmpty() && action->shortcutContext() != Qt::ApplicationShortcut)
            action->setShortcutVisibleInContextMenu(false);
    }
}

void MainWindow::add_window_actions()
{
    // Reached by the window's context menu and by Ctrl+Q, so a desktop without a tray can quit.
    auto *quit = new QAction(tr("Quit"), this);
    // Spelled out: QKeySequence::Quit has no binding on some platform themes.
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcutContext(Qt::WindowShortcut);
    connect(quit, &QAction::triggered, this, &MainWindow::close_exit);
    addAction(quit);
    // The same entry as the tray's, for a desktop without a tray.
    addAction(start_at_login);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void MainWindow::set_start_at_login(bool on)
{
    const Autostart entry(identity.instance + QStringLiteral(".desktop"));
    const bool done =
        on ? entry.enable(identity.application, QCoreApplication::applicationFilePath()) : entry.disable();
    if (!done) {
        qWarning().noquote() << "Cannot" << (on ? "write" : "remove") << entry.path();
        // The check mark shows what the desktop will do at the next login.
        const QSignalBlocker quiet(start_at_login);
        start_at_login->setChecked(entry.is_enabled());
    }
}

void MainWindow::present()
{
    tray_missing = !QSystemTrayIcon::isSystemTrayAvailable();
    if (tray_missing) {
        show_settings();
        shown_for_missing_tray = true;
    }
    if (!tray_watch) {
        tray_watch = new QTimer(this);
        connect(tray_watch, &QTimer::timeout, this, &MainWindow::on_tray_availability);
        tray_watch->start(tray_poll_ms);
    }
}

void MainWindow::show_settings()
{
    shown_for_missing_tray = false;
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void MainWindow::on_tray_availability()
{
    const bool missing = !QSystemTrayIcon::isSystemTrayAvailable();
    if (missing == tray_missing)
        return;
    tray_missing = missing;
    if (!missing) {
        // A tray host that started after the application (at login, say): the icon docks there, and the
        // window that stood in for the tray goes into it, unless the user asked for the window since.
        trayIcon->hide();
        trayIcon->show();
        if (shown_for_missing_tray) {
            shown_for_missing_tray = false;
            hide();
        }
    } else if (!isVisible() || isMinimized()) {
        // The tray went away: the window is the only way back to the application.
        show_settings();
        shown_for_missing_tray = true;
    }
}
