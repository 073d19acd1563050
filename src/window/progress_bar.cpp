#include "window/progress_bar.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace vantrel {

VbalProgressBar::VbalProgressBar(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void VbalProgressBar::setText(const QString& text) {
    text_ = text;
    update();
}

void VbalProgressBar::setValue(qint32 value) {
    value_ = value;
    update();
}

void VbalProgressBar::setMax(qint32 max) {
    max_ = max;
    update();
}

void VbalProgressBar::setBarColor(quint32 value) {
    barColor_ = value;
    update();
}

double VbalProgressBar::fillFraction() const {
    if (max_ <= 0 || value_ <= 0) return 0.0;
    if (value_ >= max_) return 1.0;
    return static_cast<double>(value_) / max_;
}

void VbalProgressBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect outer = rect();
    p.fillRect(outer, palette().color(QPalette::Base));

    const QRect inner = outer.adjusted(2, 2, -2, -2);
    const int filled = static_cast<int>(inner.width() * fillFraction() + 0.5);
    if (filled > 0) p.fillRect(QRect(inner.left(), inner.top(), filled, inner.height()), toQColor(barColor_));

    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.rect = outer;
    frame.lineWidth = 1;
    frame.state |= QStyle::State_Sunken;
    style()->drawPrimitive(QStyle::PE_Frame, &frame, &p, this);

    // The text stays readable wherever the bar has reached: over the filled
    // part it takes a colour that contrasts with the bar.
    const QRect filledRect(inner.left(), inner.top(), filled, inner.height());
    const QRect emptyRect(inner.left() + filled, inner.top(), inner.width() - filled, inner.height());
    p.setFont(font());
    p.save();
    p.setClipRect(emptyRect);
    p.setPen(toQColor(textColor_));
    p.drawText(inner, Qt::AlignCenter | Qt::TextSingleLine, text_);
    p.restore();
    if (filled > 0) {
        const QColor bar = toQColor(barColor_);
        p.setClipRect(filledRect);
        p.setPen(bar.lightness() < 110 ? QColor(Qt::white) : toQColor(textColor_));
        p.drawText(inner, Qt::AlignCenter | Qt::TextSingleLine, text_);
    }
}

}  // namespace vantrel
