#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

namespace vantrel {

// Every frame written and every batch of bytes read, as hex and as text.
// Off by default; QT_LOGGING_RULES="vantrel.link.debug=true" turns it on.
Q_DECLARE_LOGGING_CATEGORY(lcLink)

// "42 4F 4F 54 0D 0A" and "BOOT\r\n" for the same bytes.
QString hexBytes(const QByteArray& bytes);
QString printableBytes(const QByteArray& bytes);

// One trace line: "12:00:01.234 TX COM3 (7) 42 4F ... | BOOTi\r\n".
void traceLink(const char* direction, const QString& port, const QByteArray& bytes);

}  // namespace vantrel
