#pragma once

#include <map>
#include <set>
#include <string>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include "window/frm_serial.h"
#include "window/lamp.h"
#include "window/progress_bar.h"

namespace vantrel::testing {

// Everything an operator or a handler can see of the window, as
// "control.property" -> value, so that a test can name exactly what a handler
// changed and show the rest stayed put.
using WindowState = std::map<std::string, std::string>;

inline WindowState snapshot(const frmSerial& w) {
    WindowState s;
    auto put = [&s](const QString& name, const char* property, const QString& value) {
        s[(name + u'.' + QLatin1String(property)).toStdString()] = value.toStdString();
    };
    for (QWidget* c : w.findChildren<QWidget*>()) {
        const QString name = c->objectName();
        if (name.isEmpty() || name.startsWith(u"qt_")) continue;
        put(name, "enabled", QString::number(c->isEnabled()));
        put(name, "hidden", QString::number(c->isHidden()));
        if (auto* l = qobject_cast<QLabel*>(c)) put(name, "text", l->text());
        if (auto* b = qobject_cast<QAbstractButton*>(c)) {
            put(name, "text", b->text());
            put(name, "checked", QString::number(b->isChecked()));
        }
        if (auto* e = qobject_cast<QLineEdit*>(c)) {
            put(name, "text", e->text());
            put(name, "background", e->palette().color(QPalette::Active, QPalette::Base).name());
        }
        if (auto* lamp = qobject_cast<Lamp*>(c)) put(name, "fillColor", QString::number(lamp->fillColor()));
        if (auto* bar = qobject_cast<VbalProgressBar*>(c)) {
            put(name, "text", bar->text());
            put(name, "value", QString::number(bar->value()));
            put(name, "max", QString::number(bar->max()));
            put(name, "barColor", QString::number(bar->barColor()));
        }
    }
    put(QStringLiteral("Timer3"), "active", QString::number(w.Timer3->isActive()));
    put(QStringLiteral("TMRComm"), "active", QString::number(w.TMRComm->isActive()));
    put(QStringLiteral("MSComm1"), "portOpen", QString::number(w.MSComm1->portOpen()));

    const std::pair<const char*, int> fields[] = {
        {"PortNumber", w.PortNumber},       {"UsbScan", w.UsbScan},
        {"ProbeCount", w.ProbeCount},       {"AddressSearch", w.AddressSearch},
        {"TransferArmed", w.TransferArmed}, {"TransferActive", w.TransferActive},
        {"VerifyPhase", w.VerifyPhase},     {"LineCount", w.LineCount},
        {"LineIndex", w.LineIndex},
    };
    for (const auto& [field, value] : fields) put(QStringLiteral("field"), field, QString::number(value));
    return s;
}

// The keys whose values differ between two snapshots.
inline std::set<std::string> changes(const WindowState& before, const WindowState& after) {
    std::set<std::string> keys;
    for (const auto& [key, value] : before) {
        const auto it = after.find(key);
        if (it == after.end() || it->second != value) keys.insert(key);
    }
    for (const auto& [key, value] : after)
        if (!before.count(key)) keys.insert(key);
    return keys;
}

}  // namespace vantrel::testing
