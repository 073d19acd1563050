#include "flasher/board_result.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QStringList>

namespace vantrel::flasher {

QString resultName(ExitCode code, Action action) {
    switch (code) {
        case ExitCode::Success:
            switch (action) {
                case Action::InstallOnly:
                    return QStringLiteral("installed");
                case Action::QueryVersion:
                    return QStringLiteral("version read");
                case Action::SetAddress:
                    return QStringLiteral("address set");
                case Action::Search:
                    return QStringLiteral("found");
                default:
                    return QStringLiteral("END");
            }
        case ExitCode::Internal:
            return QStringLiteral("internal error");
        case ExitCode::Usage:
            return QStringLiteral("usage");
        case ExitCode::PortNotOpened:
            return QStringLiteral("port not opened");
        case ExitCode::NoBoard:
            return QStringLiteral("no board");
        case ExitCode::FileUnreadable:
            return QStringLiteral("file unreadable");
        case ExitCode::BoardError:
            return QStringLiteral("ERROR");
        case ExitCode::BoardFormat:
            return QStringLiteral("FORMAT");
        case ExitCode::NoReply:
            return QStringLiteral("no reply");
        case ExitCode::ConnectionLost:
            return QStringLiteral("connection lost");
        case ExitCode::ReportUnwritable:
            return QStringLiteral("report unwritable");
        case ExitCode::NoEndOfFile:
            return QStringLiteral("no end of file");
    }
    return QStringLiteral("unknown");
}

QString boardLabel(const QString& port, std::optional<int> address) {
    return address ? QStringLiteral("%1 @%2").arg(port).arg(*address) : port;
}

QByteArray reportJson(const QList<BoardResult>& boards) {
    QJsonArray array;
    for (const BoardResult& b : boards) {
        QJsonObject o;
        o.insert(QStringLiteral("port"), b.port);
        o.insert(QStringLiteral("device"), b.device);
        o.insert(QStringLiteral("address"), b.address ? QJsonValue(*b.address) : QJsonValue(QJsonValue::Null));
        o.insert(QStringLiteral("file"), b.file);
        o.insert(QStringLiteral("sha256"), b.sha256);
        o.insert(QStringLiteral("lines"), b.lines);
        o.insert(QStringLiteral("version"), b.version);
        o.insert(QStringLiteral("result"), b.result);
        o.insert(QStringLiteral("exit_code"), toInt(b.code));
        o.insert(QStringLiteral("message"), b.message);
        o.insert(QStringLiteral("started"), b.started.toUTC().toString(Qt::ISODateWithMs));
        o.insert(QStringLiteral("seconds"), qRound64(b.seconds * 1000.0) / 1000.0);
        o.insert(QStringLiteral("retries"), b.retries);
        o.insert(QStringLiteral("speed"), b.speed.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(b.speed));
        array.append(o);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QString summaryHeadline(const QList<BoardResult>& boards, double seconds) {
    QMap<QString, int> counts;
    QStringList order;
    for (const BoardResult& r : boards) {
        if (!counts.contains(r.result)) order << r.result;
        ++counts[r.result];
    }
    QStringList tally;
    for (const QString& result : order) tally << QStringLiteral("%1 %2").arg(counts[result]).arg(result);
    return QStringLiteral("summary: %1 board%2: %3 in %4 s")
        .arg(boards.size())
        .arg(boards.size() == 1 ? QString() : QStringLiteral("s"))
        .arg(tally.join(QStringLiteral(", ")))
        .arg(seconds, 0, 'f', 1);
}

ExitCode runExitCode(const QList<BoardResult>& boards) {
    for (const BoardResult& b : boards)
        if (b.code != ExitCode::Success) return b.code;
    return ExitCode::Success;
}

}  // namespace vantrel::flasher
