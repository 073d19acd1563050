// Not built: the layer check must refuse a bottom-library source like this.
#include "connection/qt_serial_component.h"
