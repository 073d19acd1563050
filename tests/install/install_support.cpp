#include "install_support.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace vantrel::testing {
namespace {

// Roff escapes and font changes down to the text a reader sees.
QString plainRoff(QString text) {
    static const QRegularExpression font(QStringLiteral("\\\\f[BIRP]"));
    text.remove(font);
    text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    text.replace(QStringLiteral("\\&"), QString());
    text.replace(QStringLiteral("\\e"), QStringLiteral("\\"));
    return text;
}

// The arguments of a macro line, quotes honoured.
QStringList macroArguments(const QString& rest) {
    QStringList args;
    QString current;
    bool quoted = false;
    bool any = false;
    for (const QChar c : rest) {
        if (c == u'"') {
            quoted = !quoted;
            any = true;
        } else if (c.isSpace() && !quoted) {
            if (any) args << current;
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any) args << current;
    return args;
}

// The text a macro line such as `.BR \-p ", " \-\-port " \fIport\fR"` shows.
QString renderLine(const QString& line) {
    if (!line.startsWith(u'.')) return plainRoff(line);
    const qsizetype space = line.indexOf(u' ');
    const QString macro = line.mid(1, space < 0 ? -1 : space - 1);
    const QStringList args = macroArguments(space < 0 ? QString() : line.mid(space + 1));
    // The alternating-font macros join their arguments without blanks.
    static const QStringList alternating{QStringLiteral("BR"), QStringLiteral("BI"), QStringLiteral("IR"),
                                         QStringLiteral("RB"), QStringLiteral("IB"), QStringLiteral("RI")};
    return plainRoff(args.join(alternating.contains(macro) ? QString() : QStringLiteral(" ")));
}

// The lines of one section (.SH NAME up to the next .SH).
QStringList sectionOf(const QString& roff, const QString& name) {
    QStringList lines;
    bool inside = false;
    for (const QString& line : roff.split(u'\n')) {
        if (line.startsWith(QStringLiteral(".SH "))) {
            inside = macroArguments(line.mid(4)).join(u' ') == name;
            continue;
        }
        if (inside) lines << line;
    }
    return lines;
}

// "-p, --port port" -> {-p, --port} taking a value.
void addOptionSpec(const QString& synopsis, OptionTable& table) {
    QStringList names;
    bool value = false;
    for (const QString& word : synopsis.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts)) {
        if (word.startsWith(u'-'))
            names << word;
        else
            value = true;
    }
    for (const QString& name : names) table[name] = value;
}

}  // namespace

RunResult run(const QString& program, const QStringList& arguments, const QProcessEnvironment& env) {
    RunResult result;
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    result.started = process.waitForStarted(30000);
    if (!result.started) return result;
    // cpack, lintian and the like take a while; nothing here should take minutes.
    if (!process.waitForFinished(300000)) {
        process.kill();
        process.waitForFinished();
    }
    result.normalExit = process.exitStatus() == QProcess::NormalExit;
    result.code = process.exitCode();
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

bool onPath(const QString& program) {
    return !QStandardPaths::findExecutable(program).isEmpty();
}

QStringList treeOf(const QString& root) {
    QStringList entries;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QString relative = base.relativeFilePath(path);
        if (it.fileInfo().isDir() && !it.fileInfo().isSymLink()) relative += u'/';
        entries << relative;
    }
    entries.sort();
    return entries;
}

QString gunzip(const QString& path) {
    const RunResult r = run(QStringLiteral("gzip"), {QStringLiteral("-dc"), path});
    return r.normalExit && r.code == 0 ? r.out : QString();
}

OptionTable optionsOfHelp(const QString& help) {
    OptionTable table;
    // Option lines are indented a little; wrapped descriptions much more.
    static const QRegularExpression line(QStringLiteral("^ {1,4}(-[^\\s].*?)(\\s{2,}|$)"));
    for (const QString& text : help.split(u'\n')) {
        const auto m = line.match(text);
        if (m.hasMatch()) addOptionSpec(m.captured(1), table);
    }
    return table;
}

OptionTable optionsOfManPage(const QString& roff) {
    OptionTable table;
    const QStringList lines = sectionOf(roff, QStringLiteral("OPTIONS"));
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].trimmed() == QLatin1String(".TP")) addOptionSpec(renderLine(lines[i + 1]), table);
    }
    return table;
}

std::set<int> exitStatusesOfManPage(const QString& roff) {
    std::set<int> statuses;
    const QStringList lines = sectionOf(roff, QStringLiteral("EXIT STATUS"));
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].trimmed() != QLatin1String(".TP")) continue;
        bool ok = false;
        const int n = renderLine(lines[i + 1]).trimmed().toInt(&ok);
        if (ok) statuses.insert(n);
    }
    return statuses;
}

}  // namespace vantrel::testing
