#include "app/trayicons.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPixmap>

namespace korvel::app {

namespace {
QImage with_badge(QImage image)
{
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = image.width();
    // Lower right, large enough to read at the 22-pixel size of a tray.
    const QRectF badge(side * 0.46, side * 0.46, side * 0.54, side * 0.54);
    painter.setPen(QPen(QColor(60, 40, 0), side * 0.03));
    painter.setBrush(QColor(255, 176, 0));
    painter.drawEllipse(badge.adjusted(side * 0.015, side * 0.015, -side * 0.015, -side * 0.015));
    QFont font;
    font.setBold(true);
    font.setPixelSize(qRound(side * 0.4));
    painter.setFont(font);
    painter.setPen(QColor(40, 25, 0));
    painter.drawText(badge, Qt::AlignCenter, QStringLiteral("E"));
    return image;
}
} // namespace

QIcon link_icon(bool open, bool emulated)
{
    const QString path =
        open ? QStringLiteral(":/resources/png/icon_green.png") : QStringLiteral(":/resources/png/icon_gray.png");
    if (!emulated)
        return QIcon(path);
    return QIcon(QPixmap::fromImage(with_badge(QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied))));
}

} // namespace korvel::app
