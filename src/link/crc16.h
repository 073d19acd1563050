#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace vantrel {

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final XOR.
quint16 crc16Modbus(QByteArrayView data);

// One character more into a running CRC-16/MODBUS (start at 0xFFFF). A frame
// followed by its own CRC, low byte first, brings the register back to 0.
quint16 crc16ModbusStep(quint16 crc, char ch);

// The CRC as it travels in an RTU frame: "the low order byte of the CRC comes
// first", then the high byte.
QByteArray crc16ModbusBytes(QByteArrayView data);

}  // namespace vantrel
