#include "loader/control.h"

#include "loader/loader.h"

namespace vantrel {

Control::Control(Loader& owner, QString name, QString text)
    : owner_(owner), name_(std::move(name)), text_(std::move(text)) {}

void Control::changed(Property what) {
    owner_.announceChange(*this, what);
}

void Control::setText(const QString& text) {
    if (text_ == text) return;
    text_ = text;
    changed(Property::Text);
}

void Control::setEnabled(bool enabled) {
    if (enabled_ == enabled) return;
    enabled_ = enabled;
    changed(Property::Enabled);
}

void Control::setChecked(bool checked) {
    if (checked_ == checked) return;
    if (group_ != nullptr) {
        // As an option button: the checked one of a group stays checked
        // until another one is checked.
        if (!checked) return;
        std::vector<Control*> unchecked;
        for (Control* other : *group_) {
            if (other != this && other->checked_) {
                other->checked_ = false;
                unchecked.push_back(other);
            }
        }
        checked_ = true;
        changed(Property::Checked);
        for (Control* other : unchecked) other->changed(Property::Checked);
        return;
    }
    checked_ = checked;
    changed(Property::Checked);
}

void Control::setVisible(bool visible) {
    if (visible_ == visible) return;
    visible_ = visible;
    changed(Property::Visible);
}

void Control::setFillColor(quint32 value) {
    if (fillColor_ == value) return;
    fillColor_ = value;
    changed(Property::FillColor);
}

void Control::setBackColor(std::optional<quint32> value) {
    if (backColor_ == value) return;
    backColor_ = value;
    changed(Property::BackColor);
}

void Control::setValue(qint32 value) {
    if (value_ == value) return;
    value_ = value;
    changed(Property::Value);
}

void Control::setMax(qint32 max) {
    if (max_ == max) return;
    max_ = max;
    changed(Property::Max);
}

void Control::setBarColor(quint32 value) {
    if (barColor_ == value) return;
    barColor_ = value;
    changed(Property::BarColor);
}

}  // namespace vantrel
