#pragma once

#include <QWidget>

#include "window/colors.h"

namespace vantrel {

// The connection lamp: a small filled circle whose fill colour tells the
// operator what the line is doing.
class Lamp : public QWidget {
    Q_OBJECT
  public:
    explicit Lamp(QWidget* parent = nullptr);

    quint32 fillColor() const { return fillColor_; }
    void setFillColor(quint32 value);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    quint32 fillColor_ = color::kYellow;
};

}  // namespace vantrel
