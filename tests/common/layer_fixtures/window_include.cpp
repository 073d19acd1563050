// Not built: the layer check must refuse a bottom-library source like this.
#include "window/frm_serial.h"
