#pragma once

#include <QString>
#include <QWidget>

#include "window/colors.h"

namespace vantrel {

// The transfer progress bar: a text always shown on the bar, a value against a
// maximum, and a bar colour. Each property is written on its own and leaves
// the other three as they are. A maximum of 0 draws an empty bar (there is no
// busy animation), and a value outside 0..maximum is drawn clamped.
class VbalProgressBar : public QWidget {
    Q_OBJECT
  public:
    explicit VbalProgressBar(QWidget* parent = nullptr);

    void setText(const QString& text);
    void setValue(qint32 value);
    void setMax(qint32 max);
    void setBarColor(quint32 value);

    const QString& text() const { return text_; }
    qint32 value() const { return value_; }
    qint32 max() const { return max_; }
    quint32 barColor() const { return barColor_; }

    // Share of the bar that is filled, 0.0 to 1.0.
    double fillFraction() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString text_;
    qint32 value_ = 0;
    qint32 max_ = 100;
    quint32 barColor_ = color::kBlue;
    quint32 textColor_ = color::kBlack;
};

}  // namespace vantrel
