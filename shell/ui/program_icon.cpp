#include "shell/ui/program_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace chwr {

namespace {

const QColor kBackground(0x1f, 0x6f, 0x78);
const QColor kBell(0xf2, 0xc1, 0x4e);

// Paints the 64 x 64 design of resources/chimewright.svg scaled to size.
QPixmap paintIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    painter.setPen(Qt::NoPen);

    painter.setBrush(kBackground);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    QPainterPath bell;
    bell.moveTo(32, 9);
    bell.cubicTo(22, 9, 18, 17, 18, 27);
    bell.lineTo(18, 37);
    bell.lineTo(12, 45);
    bell.lineTo(52, 45);
    bell.lineTo(46, 37);
    bell.lineTo(46, 27);
    bell.cubicTo(46, 17, 42, 9, 32, 9);
    bell.closeSubpath();
    painter.setBrush(kBell);
    painter.drawPath(bell);
    painter.drawEllipse(QPointF(32, 51), 5, 5);

    painter.setBrush(kBackground);
    painter.drawEllipse(QPointF(28, 34), 4.5, 3.5);
    painter.drawRect(QRectF(31, 18, 2.5, 16));
    QPainterPath flag;
    flag.moveTo(33.5, 18);
    flag.cubicTo(37, 20, 39, 22, 38, 26);
    flag.cubicTo(37, 24, 35.5, 23, 33.5, 23);
    flag.closeSubpath();
    painter.drawPath(flag);
    return pixmap;
}

} // namespace

QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(paintIcon(size));
    return icon;
}

} // namespace chwr
