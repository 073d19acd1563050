#pragma once

#include <QByteArray>
#include <QIcon>
#include <QImage>

namespace vantrel {

// The program's icon: a chip with a download arrow, drawn on a 24 x 24 grid.
// The window uses it at 24 pixels; the desktop gets it as PNG at the usual
// sizes and as SVG, all from the one drawing below.
QIcon appIcon();

// The icon at `size` x `size` pixels, transparent around the chip.
QImage appIconImage(int size);

// The same drawing as an SVG document (view box 0 0 24 24).
QByteArray appIconSvg();

}  // namespace vantrel
