#include "connection/link_trace.h"

#include <QTime>

namespace vantrel {

Q_LOGGING_CATEGORY(lcLink, "vantrel.link", QtInfoMsg)

QString hexBytes(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString printableBytes(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r')
            out += QStringLiteral("\\r");
        else if (c == '\n')
            out += QStringLiteral("\\n");
        else if (c == '\\')
            out += QStringLiteral("\\\\");
        else if (c >= 0x20 && c < 0x7F)
            out += QChar(c);
        else
            out += QStringLiteral("\\x%1").arg(c, 2, 16, QChar(u'0')).toUpper().replace(u'X', u'x');
    }
    return out;
}

void traceLink(const char* direction, const QString& port, const QByteArray& bytes) {
    qCDebug(lcLink).noquote() << QStringLiteral("%1 %2 %3 (%4) %5 | %6")
                                     .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")),
                                          QLatin1String(direction), port)
                                     .arg(bytes.size())
                                     .arg(hexBytes(bytes), printableBytes(bytes));
}

}  // namespace vantrel
