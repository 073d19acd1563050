#include "hex_generator.h"

namespace vantrel::bench {
namespace {

QByteArray record(quint8 type, quint16 offset, const QByteArray& data) {
    QByteArray bytes;
    bytes.append(static_cast<char>(data.size()));
    bytes.append(static_cast<char>(offset >> 8));
    bytes.append(static_cast<char>(offset & 0xFF));
    bytes.append(static_cast<char>(type));
    bytes.append(data);
    quint8 sum = 0;
    for (char b : bytes) sum += static_cast<quint8>(b);
    bytes.append(static_cast<char>(static_cast<quint8>(-sum)));
    return ':' + bytes.toHex().toUpper() + "\r\n";
}

}  // namespace

QByteArray makeHexFile(int lines) {
    QByteArray out;
    quint32 address = 0;
    quint32 upper = 0;
    int written = 0;
    while (written < lines - 1) {
        if ((address >> 16) != upper || written == 0) {
            upper = address >> 16;
            QByteArray high;
            high.append(static_cast<char>(upper >> 8));
            high.append(static_cast<char>(upper & 0xFF));
            out += record(0x04, 0, high);
            ++written;
            continue;
        }
        QByteArray data(16, '\0');
        for (int i = 0; i < 16; ++i) data[i] = static_cast<char>((address + i) * 7 + 3);
        out += record(0x00, static_cast<quint16>(address & 0xFFFF), data);
        address += 16;
        ++written;
    }
    out += ":00000001FF\r\n";
    return out;
}

}  // namespace vantrel::bench
