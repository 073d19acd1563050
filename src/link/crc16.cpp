#include "link/crc16.h"

namespace vantrel {

quint16 crc16ModbusStep(quint16 crc, char ch) {
    // Bit by bit, eight steps per character: replies and commands are a few
    // dozen characters, so a table buys nothing here.
    quint32 r = crc ^ static_cast<quint8>(ch);
    for (int bit = 0; bit < 8; ++bit) r = (r & 1u) ? (r >> 1) ^ 0xA001u : r >> 1;
    return static_cast<quint16>(r);
}

quint16 crc16Modbus(QByteArrayView data) {
    quint16 crc = 0xFFFF;
    for (char ch : data) crc = crc16ModbusStep(crc, ch);
    return crc;
}

QByteArray crc16ModbusBytes(QByteArrayView data) {
    const quint16 crc = crc16Modbus(data);
    QByteArray out(2, '\0');
    out[0] = static_cast<char>(crc & 0xFF);
    out[1] = static_cast<char>(crc >> 8);
    return out;
}

}  // namespace vantrel
