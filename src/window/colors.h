#pragma once

#include <QColor>

#include "loader/colors.h"

namespace vantrel {

inline QColor toQColor(quint32 value) {
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

}  // namespace vantrel
