#pragma once

#include <map>
#include <set>
#include <string>

#include <QTimer>

#include "loader/loader.h"

namespace vantrel::testing {

// Everything an operator or a handler can see of the loader's controls, as
// "control.property" -> value, so that a test can name exactly what a handler
// changed and show the rest stayed put.
using WindowState = std::map<std::string, std::string>;

inline WindowState snapshot(const Loader& w) {
    WindowState s;
    auto put = [&s](const QString& name, const char* property, const QString& value) {
        s[(name + u'.' + QLatin1String(property)).toStdString()] = value.toStdString();
    };
    for (const Control* c : w.controls()) {
        const QString& name = c->name();
        put(name, "enabled", QString::number(c->isEnabled()));
        put(name, "hidden", QString::number(c->isHidden()));
        put(name, "text", c->text());
        put(name, "checked", QString::number(c->isChecked()));
        put(name, "background", c->backColor() ? QString::number(*c->backColor()) : QStringLiteral("system"));
        put(name, "fillColor", QString::number(c->fillColor()));
        put(name, "value", QString::number(c->value()));
        put(name, "max", QString::number(c->max()));
        put(name, "barColor", QString::number(c->barColor()));
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
