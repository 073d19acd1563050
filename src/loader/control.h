#pragma once

#include <optional>
#include <vector>

#include <QString>
#include <QtGlobal>

namespace vantrel {

class Loader;

// What the handlers read and write on one control, kept by the engine as
// plain values under the control's name: its text (caption, box or bar text),
// whether it is enabled, checked and visible, the lamp's fill colour, the
// port box's background, the bar's value, maximum and colour, and its tag.
// A face (the window, a tool) shows these values; every change is announced
// by the engine (Loader::controlChanged) at the moment it is made, and only
// a change is announced.
class Control {
  public:
    enum class Property { Text, Enabled, Checked, Visible, FillColor, BackColor, Value, Max, BarColor };

    Control(Loader& owner, QString name, QString text = QString());
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const QString& name() const { return name_; }

    const QString& text() const { return text_; }
    void setText(const QString& text);
    void clear() { setText(QString()); }

    // Whether the control itself is enabled (what SwitchTags inverts).
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);

    // An option of a group: checking one unchecks the others, and the
    // checked option of a group cannot be unchecked on its own.
    bool isChecked() const { return checked_; }
    void setChecked(bool checked);
    void setGroup(const std::vector<Control*>* group) { group_ = group; }

    bool isVisible() const { return visible_; }
    bool isHidden() const { return !visible_; }
    void setVisible(bool visible);

    // The lamp's fill colour (24-bit, red in the low byte).
    quint32 fillColor() const { return fillColor_; }
    void setFillColor(quint32 value);

    // The background of a text box: a colour, or none for the system's.
    std::optional<quint32> backColor() const { return backColor_; }
    void setBackColor(std::optional<quint32> value);

    // The progress bar: a value against a maximum, and a bar colour.
    qint32 value() const { return value_; }
    void setValue(qint32 value);
    qint32 max() const { return max_; }
    void setMax(qint32 max);
    quint32 barColor() const { return barColor_; }
    void setBarColor(quint32 value);

    // Only emptiness of a tag matters: a non-empty tag marks a control that
    // SwitchTags switches.
    const QString& tag() const { return tag_; }
    void setTag(const QString& tag) { tag_ = tag; }

  private:
    void changed(Property what);

    Loader& owner_;
    QString name_;
    QString text_;
    bool enabled_ = true;
    bool checked_ = false;
    bool visible_ = true;
    quint32 fillColor_ = 0;
    std::optional<quint32> backColor_;
    qint32 value_ = 0;
    qint32 max_ = 100;
    quint32 barColor_ = 0;
    QString tag_;
    const std::vector<Control*>* group_ = nullptr;
};

}  // namespace vantrel
