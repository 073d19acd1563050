// Not built: the layer check must refuse a bottom-library source like this.
#include <QtGui/QColor>
