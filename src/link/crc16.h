#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace vantrel {

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final XOR.
quint16 crc16Modbus(QByteArrayView data);

// The CRC as it travels in an RTU frame: "the low order byte of the CRC comes
// first", then the high byte.
QByteArray crc16ModbusBytes(QByteArrayView data);

}  // namespace vantrel
