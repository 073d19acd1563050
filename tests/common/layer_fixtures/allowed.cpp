// Not built: what the layer check must let a bottom-library source include.
#include <cmath>

#include <QByteArray>
#include <QtCore/QString>

#include "link/crc16.h"
