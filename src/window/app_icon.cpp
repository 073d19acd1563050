#include "window/app_icon.h"

#include <QPainter>
#include <QPixmap>

#include "window/colors.h"

namespace vantrel {

QIcon appIcon() {
    QPixmap pm(24, 24);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // Package with pins on both sides.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x90, 0x90, 0x90));
    for (int y = 5; y <= 19; y += 4) {
        p.drawRect(2, y, 3, 2);
        p.drawRect(19, y, 3, 2);
    }
    p.setBrush(QColor(0x20, 0x20, 0x28));
    p.drawRoundedRect(QRectF(5, 2, 14, 20), 2, 2);
    // Arrow into the chip.
    p.setBrush(toQColor(color::kGreen));
    const QPointF arrow[] = {{12, 18}, {7.5, 12}, {10.5, 12}, {10.5, 5}, {13.5, 5}, {13.5, 12}, {16.5, 12}};
    p.drawPolygon(arrow, int(std::size(arrow)));
    p.end();
    return QIcon(pm);
}

}  // namespace vantrel
