#include "window/lamp.h"

#include <QPainter>

namespace vantrel {

Lamp::Lamp(QWidget* parent) : QWidget(parent) {}

void Lamp::setFillColor(quint32 value) {
    if (value == fillColor_) return;
    fillColor_ = value;
    update();
}

void Lamp::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int d = qMin(width(), height()) - 1;
    const QRectF circle((width() - d) / 2.0, (height() - d) / 2.0, d, d);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(toQColor(fillColor_));
    p.drawEllipse(circle);
}

}  // namespace vantrel
