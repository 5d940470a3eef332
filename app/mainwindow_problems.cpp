// Why the console or a user's port is not open, said where a person looks: a line under the window's form (only
// while there is something to say), the tray's tooltip, and the log once per change.
#include "app/mainwindow.h"

#include "app/portmonitor.h"
#include "app/traytitle.h"
#include "usb/cusbhid.h"
#include "usb/openproblem.h"
#include "usb/usbids.h"

#include <QDebug>
#include <QLabel>
#include <QStatusBar>
#include <QSystemTrayIcon>

namespace {

QString usb_id(int vid, int pid)
{
    return QStringLiteral("%1:%2")
        .arg(vid & 0xFFFF, 4, 16, QLatin1Char('0'))
        .arg(pid & 0xFFFF, 4, 16, QLatin1Char('0'));
}

} // namespace

void MainWindow::watch_link()
{
    connect(usb->open_problem(), &OpenProblemReport::changed, this, &MainWindow::show_link_problem);
}

void MainWindow::show_link_problem(const OpenProblem &problem)
{
    const QString id = usb_id(korvel::usb::vendor_id, korvel::usb::product_id);
    switch (problem.kind) {
    case OpenProblem::Kind::none:
        link_problem.clear();
        break;
    case OpenProblem::Kind::absent:
        link_problem = tr("No console found: no USB device with the id %1 is plugged in.").arg(id);
        break;
    case OpenProblem::Kind::not_permitted:
        link_problem = tr("The console (USB id %1) is there, but this user may not open it. Install the package's "
                          "udev rule 70-korvel-control.rules and plug the console in again; for a build with other "
                          "USB ids, see \"The console's USB ids\" in the README.")
                           .arg(id);
        break;
    case OpenProblem::Kind::failing:
        link_problem = tr("The console (USB id %1) is there, but it cannot be opened; another program may hold it: %2")
                           .arg(id, problem.detail);
        break;
    }
    if (link_problem.isEmpty())
        qInfo().noquote() << "USB: the console is open";
    else
        qWarning().noquote() << "USB:" << link_problem;
    show_problems();
}

void MainWindow::show_problems()
{
    QStringList lines;
    if (!link_problem.isEmpty())
        lines << link_problem;
    for (int watch : {websocket_watch, udp_watch}) {
        if (!ports->problem(watch).isEmpty())
            lines << ports->name(watch) + QStringLiteral(": ") + ports->problem(watch);
    }
    const QString title = korvel::app::tray_title(trayIcon);
    trayIcon->setToolTip(lines.isEmpty() ? title : title + QLatin1Char('\n') + lines.join(QLatin1Char('\n')));

    if (lines.isEmpty() && !problem_line)
        return;
    if (!problem_line) {
        // Made only when first needed: without a problem the window is exactly its form.
        auto *bar = new QStatusBar(this);
        bar->setSizeGripEnabled(false);
        problem_line = new QLabel(bar);
        problem_line->setObjectName(QStringLiteral("label_problem"));
        problem_line->setWordWrap(true);
        problem_line->setTextInteractionFlags(Qt::TextSelectableByMouse);
        problem_line->setStyleSheet(QStringLiteral("color: rgb(200, 0, 0);"));
        bar->addWidget(problem_line, 1);
        setStatusBar(bar);
    }
    problem_line->setText(lines.join(QLatin1Char('\n')));
    QStatusBar *bar = statusBar();
    bar->setVisible(!lines.isEmpty());
    // The window keeps its fixed size for the form and grows by the line while there is one.
    int extra = 0;
    if (!lines.isEmpty()) {
        const QMargins margins = bar->contentsMargins();
        const int text_width = form_size.width() - margins.left() - margins.right() - 12;
        problem_line->setFixedHeight(problem_line->heightForWidth(text_width));
        extra = bar->sizeHint().height();
    }
    setFixedSize(form_size.width(), form_size.height() + extra);
}
