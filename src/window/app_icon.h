#pragma once

#include <QIcon>

namespace vantrel {

// The window's 24 x 24 icon: a chip with a download arrow.
QIcon appIcon();

}  // namespace vantrel
