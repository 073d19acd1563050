#include "hex_commands.h"

#include <QFile>

namespace vantrel::testing {

QList<QByteArray> hexFileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    // Every kind of line end, and the comma, becomes one LF; then cut at LF.
    QByteArray text = file.readAll();
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    text.replace(',', '\n');
    QList<QByteArray> lines = text.split('\n');
    if (lines.back().isEmpty()) lines.removeLast();
    return lines;
}

QByteArray downloadCommand(const QByteArray& line) {
    return "BOOT" + line + "\r\n";
}

QByteArray verifyCommand(const QByteArray& line) {
    QByteArray verify = line;
    return "BOOT" + verify.replace(':', '#') + "\r\n";
}

QList<QByteArray> downloadAndVerifyCommands(const QList<QByteArray>& lines) {
    QList<QByteArray> commands;
    for (const QByteArray& line : lines) commands.append(downloadCommand(line));
    for (const QByteArray& line : lines) commands.append(verifyCommand(line));
    return commands;
}

}  // namespace vantrel::testing
