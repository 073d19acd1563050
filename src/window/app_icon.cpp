#include "window/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>
#include <QRectF>
#include <QVector>

#include "window/colors.h"

namespace vantrel {
namespace {

constexpr qreal kGrid = 24.0;

// One filled shape of the drawing, in grid units.
struct Shape {
    QColor fill;
    QRectF rect;       // a rectangle, unless `polygon` has points
    qreal radius = 0;  // corner radius of the rectangle
    QPolygonF polygon;
};

QVector<Shape> drawing() {
    QVector<Shape> shapes;
    // Pins on both sides of the package.
    const QColor pin(0x90, 0x90, 0x90);
    for (int y = 5; y <= 19; y += 4) {
        shapes.append({pin, QRectF(2, y, 3, 2), 0, {}});
        shapes.append({pin, QRectF(19, y, 3, 2), 0, {}});
    }
    shapes.append({QColor(0x20, 0x20, 0x28), QRectF(5, 2, 14, 20), 2, {}});
    // Arrow into the chip.
    shapes.append({toQColor(color::kGreen), QRectF(), 0,
                   QPolygonF({{12, 18}, {7.5, 12}, {10.5, 12}, {10.5, 5}, {13.5, 5}, {13.5, 12}, {16.5, 12}})});
    return shapes;
}

QByteArray number(qreal value) {
    return QByteArray::number(value, 'g', 6);
}

}  // namespace

QImage appIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / kGrid, size / kGrid);
    p.setPen(Qt::NoPen);
    for (const Shape& shape : drawing()) {
        p.setBrush(shape.fill);
        if (!shape.polygon.isEmpty())
            p.drawPolygon(shape.polygon);
        else if (shape.radius > 0)
            p.drawRoundedRect(shape.rect, shape.radius, shape.radius);
        else
            p.drawRect(shape.rect);
    }
    p.end();
    return image;
}

QIcon appIcon() {
    return QIcon(QPixmap::fromImage(appIconImage(int(kGrid))));
}

QByteArray appIconSvg() {
    QByteArray svg =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"24\" height=\"24\" viewBox=\"0 0 24 24\">\n";
    for (const Shape& shape : drawing()) {
        const QByteArray fill = shape.fill.name(QColor::HexRgb).toLatin1();
        if (!shape.polygon.isEmpty()) {
            QByteArray points;
            for (const QPointF& point : shape.polygon) {
                if (!points.isEmpty()) points += ' ';
                points += number(point.x()) + ',' + number(point.y());
            }
            svg += "  <polygon fill=\"" + fill + "\" points=\"" + points + "\"/>\n";
        } else {
            svg += "  <rect fill=\"" + fill + "\" x=\"" + number(shape.rect.x()) + "\" y=\"" + number(shape.rect.y()) +
                   "\" width=\"" + number(shape.rect.width()) + "\" height=\"" + number(shape.rect.height()) + '"';
            if (shape.radius > 0) svg += " rx=\"" + number(shape.radius) + "\" ry=\"" + number(shape.radius) + '"';
            svg += "/>\n";
        }
    }
    svg += "</svg>\n";
    return svg;
}

}  // namespace vantrel
