#include "app/traytitle.h"

#include <QSystemTrayIcon>
#include <QVariant>

namespace {
constexpr const char *title_property = "korvel_tray_title";
}

namespace korvel::app {

void set_tray_title(QSystemTrayIcon *tray, const QString &title)
{
    tray->setProperty(title_property, title);
}

QString tray_title(const QSystemTrayIcon *tray)
{
    const QString title = tray->property(title_property).toString();
    return title.isEmpty() ? QObject::tr("Korvel Control") : title;
}

} // namespace korvel::app
